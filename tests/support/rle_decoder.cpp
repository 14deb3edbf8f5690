#include "support/rle_decoder.h"

namespace tallox::test {

namespace {

constexpr uint32_t kMaxRun = 32768;

// One token as read: `length` copies of `value`; `literal` for a plain byte standing for itself.
struct Unit {
    uint8_t value;
    uint32_t length;
    bool literal;
};

// The tokens of one stretch of equal bytes must be: full runs of kMaxRun, then the remainder
// as one long token (4 or more), as plain bytes (1 to 3, value not the escape byte) or as
// E, L - 1 (1 to 3, the escape value).
bool StretchIsCanonical(const std::vector<Unit>& units, size_t begin, size_t end, uint8_t escape) {
    uint64_t total = 0;
    for (size_t u = begin; u < end; ++u) total += units[u].length;
    size_t u = begin;
    while (total > kMaxRun) {
        if (units[u].literal || units[u].length != kMaxRun) return false;
        total -= kMaxRun;
        ++u;
    }
    const size_t rest = end - u;
    if (total >= 4) return rest == 1 && !units[u].literal;
    if (units[u].value == escape) return rest == 1 && !units[u].literal;
    if (rest != total) return false;
    for (; u < end; ++u) {
        if (!units[u].literal) return false;
    }
    return true;
}

}  // namespace

std::optional<RleDecoded> DecodeRle(const uint8_t* data, size_t count) {
    RleDecoded result;
    if (count == 0) return result;
    const uint8_t escape = data[0];
    std::vector<Unit> units;
    size_t p = 1;
    while (p < count) {
        const uint8_t b = data[p++];
        if (b != escape) {
            units.push_back({b, 1, true});
            continue;
        }
        if (p >= count) return std::nullopt;
        const uint8_t c = data[p++];
        uint32_t length;
        if (c <= 0x02) {
            units.push_back({escape, c + 1u, false});
            continue;
        }
        if (c < 0x80) {
            length = c + 1u;
        } else {
            if (p >= count) return std::nullopt;
            length = (static_cast<uint32_t>(c & 0x7F) << 8 | data[p++]) + 1u;
            // The two-byte count is only for counts that one byte cannot hold.
            if (length <= 128) result.canonical = false;
        }
        if (p >= count) return std::nullopt;
        units.push_back({data[p++], length, false});
    }
    for (const Unit& unit : units) result.bytes.insert(result.bytes.end(), unit.length, unit.value);
    for (size_t begin = 0; begin < units.size();) {
        size_t end = begin + 1;
        while (end < units.size() && units[end].value == units[begin].value) ++end;
        if (!StretchIsCanonical(units, begin, end, escape)) result.canonical = false;
        begin = end;
    }
    return result;
}

}  // namespace tallox::test

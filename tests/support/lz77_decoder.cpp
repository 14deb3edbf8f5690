#include "support/lz77_decoder.h"

namespace tallox::test {

namespace {

// Reads one 7-bit group number at data[at]; advances at. nullopt when cut off or too long.
std::optional<uint32_t> ReadGroupNumber(const uint8_t* data, size_t count, size_t& at,
                                        bool& shortest) {
    uint64_t value = 0;
    for (int groups = 1; groups <= 5; ++groups) {
        if (at >= count) return std::nullopt;
        const uint8_t byte = data[at++];
        if (groups == 1 && byte == 0x80) shortest = false;  // a leading zero group
        value = value << 7 | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            if (value > UINT32_MAX) return std::nullopt;
            return static_cast<uint32_t>(value);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Lz77Decoded> DecodeLz77(const uint8_t* data, size_t count) {
    Lz77Decoded decoded;
    if (count == 0) return decoded;
    const uint8_t escape = data[0];
    size_t at = 1;
    while (at < count) {
        const uint8_t byte = data[at++];
        if (byte != escape) {
            decoded.bytes.push_back(byte);
            continue;
        }
        if (at >= count) return std::nullopt;
        if (data[at] == 0x00) {
            ++at;
            decoded.bytes.push_back(escape);
            continue;
        }
        const auto length = ReadGroupNumber(data, count, at, decoded.shortestGroups);
        if (!length) return std::nullopt;
        const auto distance = ReadGroupNumber(data, count, at, decoded.shortestGroups);
        if (!distance || *length == 0 || *distance == 0 || *distance > decoded.bytes.size()) {
            return std::nullopt;
        }
        const size_t from = decoded.bytes.size() - *distance;
        decoded.tokens.push_back({static_cast<uint32_t>(decoded.bytes.size()), *length, *distance});
        // Byte by byte, so that an overlapping copy decodes as an LZ77 decoder would.
        for (uint32_t i = 0; i < *length; ++i) decoded.bytes.push_back(decoded.bytes[from + i]);
    }
    return decoded;
}

}  // namespace tallox::test

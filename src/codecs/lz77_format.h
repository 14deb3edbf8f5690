// The stream shared by EncodeLz77 and EncodeLz77Fast: escape byte, literals (E as E, 0x00) and
// match tokens E, L, D with L and D as 7-bit group numbers. Private to the two encoders.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

namespace tallox {

// Farthest distance EncodeLz77 looks back.
inline constexpr uint32_t kLz77Window = 100000;
// Nearest distance tried: distances 1 and 2 are never candidates.
inline constexpr uint32_t kLz77MinDistance = 3;
// Best length at the start of every search: a candidate must be longer to count.
inline constexpr uint32_t kLz77NoMatch = 3;

// Writes `value` most significant group first, 7 bits a byte, bit 7 set on every byte but the
// last; 1 to 5 bytes. Returns the number of bytes written.
uint32_t WriteLz77GroupNumber(uint8_t* output, uint32_t value);

// True when a token for `length` bytes at `distance` is shorter than the bytes it stands for.
bool AcceptLz77Match(uint32_t length, uint32_t distance);

// EncodeLz77Fast with every chain followed link by link: what it runs on inputs too long for
// its bucket layout, and the reference that layout must match byte for byte, measured beside it.
uint32_t EncodeLz77FastChained(const uint8_t* input, uint8_t* output, uint32_t len,
                               int32_t* workTable);

// Best candidate of one search; length kLz77NoMatch means none.
struct Lz77Match {
    uint32_t length;
    uint32_t distance;
};

// Length of the common prefix of a and b, given that the first k bytes agree, stopping at
// limit. Compares a word at a time; reads a[0..limit) and b[0..limit) only.
inline uint32_t ExtendLz77Match(const uint8_t* a, const uint8_t* b, uint32_t k, uint32_t limit) {
    while (k + 8 <= limit) {
        uint64_t wordA;
        uint64_t wordB;
        std::memcpy(&wordA, a + k, 8);
        std::memcpy(&wordB, b + k, 8);
        const uint64_t diff = wordA ^ wordB;
        if (diff != 0) {
            // The first differing byte is the lowest-addressed one.
            if constexpr (std::endian::native == std::endian::little) {
                return k + static_cast<uint32_t>(std::countr_zero(diff)) / 8;
            } else {
                return k + static_cast<uint32_t>(std::countl_zero(diff)) / 8;
            }
        }
        k += 8;
    }
    while (k < limit && a[k] == b[k]) ++k;
    return k;
}

// Writes one input byte as a literal, escaped when it equals the escape byte.
inline uint32_t WriteLz77Literal(uint8_t* output, uint8_t value, uint8_t escape) {
    output[0] = value;
    if (value != escape) return 1;
    output[1] = 0x00;
    return 2;
}

// The token stream from output byte 1 on, both encoders' driver: while more than 3 bytes
// remain, `search(pos, remaining)` gives the best candidate at pos, which becomes a token when
// accepted and a literal otherwise (no fallback to a shorter one); the last bytes are literals.
// Returns the output count, byte 0 (written by the caller) included.
template <typename Search>
uint32_t WriteLz77Stream(const uint8_t* input, uint8_t* output, uint32_t len, uint8_t escape,
                         Search&& search) {
    uint32_t count = 1;
    uint32_t pos = 0;
    while (len - pos > kLz77NoMatch) {
        const Lz77Match match = search(pos, len - pos);
        if (AcceptLz77Match(match.length, match.distance)) {
            output[count++] = escape;
            count += WriteLz77GroupNumber(output + count, match.length);
            count += WriteLz77GroupNumber(output + count, match.distance);
            pos += match.length;
        } else {
            count += WriteLz77Literal(output + count, input[pos], escape);
            ++pos;
        }
    }
    for (; pos < len; ++pos) count += WriteLz77Literal(output + count, input[pos], escape);
    return count;
}

}  // namespace tallox

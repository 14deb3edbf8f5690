// Test-only decoder of the LZ77 stream written by EncodeLz77 and EncodeLz77Fast.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tallox::test {

struct Lz77Token {
    uint32_t position;  // where the copy starts in the decoded bytes
    uint32_t length;
    uint32_t distance;
};

struct Lz77Decoded {
    std::vector<uint8_t> bytes;
    std::vector<Lz77Token> tokens;
    // True when every group number uses the fewest groups its value allows.
    bool shortestGroups = true;
};

// Decodes count bytes (byte 0 the escape byte). nullopt when the stream is malformed: a token
// or group number cut off, a group number of more than 5 groups or above 32 bits, a length of
// 0, or a distance of 0 or reaching before the start. Tokens may overlap their copy here; the
// tests check 4 <= L <= D themselves.
std::optional<Lz77Decoded> DecodeLz77(const uint8_t* data, size_t count);

}  // namespace tallox::test

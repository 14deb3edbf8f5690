// Test-only decoder of the RLE stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tallox::test {

struct RleDecoded {
    std::vector<uint8_t> bytes;
    // True when the stream is the one the encoder must write for these bytes: every stretch of
    // equal bytes is cut into runs of 32,768 and a remainder, and each run has its one token.
    bool canonical = true;
};

// Decodes count bytes (byte 0 the escape byte); nullopt when a token is cut off.
std::optional<RleDecoded> DecodeRle(const uint8_t* data, size_t count);

}  // namespace tallox::test

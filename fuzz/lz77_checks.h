// Checks shared by the LZ77 fuzz targets: the stream decodes to the input and its tokens keep
// the format's rules, the decoder stays inside its output on arbitrary bytes, and the LZ77
// Fast work table starts as junk and ends holding the chains.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/lz77_decode.h"
#include "codecs/working_block.h"
#include "guarded_output.h"
#include "support/lz77_decoder.h"

namespace tallox::fuzz {

inline constexpr uint32_t kLz77Heads = 65'536;

// Plausible positions and negative values mixed, so that a stale entry taken for a chain link
// shows as a wrong match or as a read out of bounds.
inline std::vector<int32_t> JunkWorkTable(uint32_t len) {
    std::vector<int32_t> table(WorkTableSize(len) / sizeof(int32_t));
    uint32_t state = 0x9E3779B9u ^ len;
    for (int32_t& entry : table) {
        state = state * 1664525u + 1013904223u;
        entry = static_cast<int32_t>((state >> 8) & 1 ? state : state % (len + 1));
    }
    return table;
}

// Heads and links as built: every position's nearest earlier position with the same first two
// bytes, and per pair the last position that starts it.
inline void CheckChains(const uint8_t* data, uint32_t len, const std::vector<int32_t>& table) {
    std::vector<int32_t> head(kLz77Heads, -1);
    for (uint32_t i = 0; i + 1 < len; ++i) {
        const uint32_t key = data[i] * 256u + data[i + 1];
        FUZZ_CHECK(table[kLz77Heads + i] == head[key]);
        head[key] = static_cast<int32_t>(i);
    }
    FUZZ_CHECK(table[kLz77Heads + len - 1] == -1);
    FUZZ_CHECK(std::memcmp(table.data(), head.data(), kLz77Heads * sizeof(int32_t)) == 0);
}

inline uint32_t GroupBytes(uint32_t value) {
    uint32_t groups = 1;
    while (groups < 5 && value >= (uint32_t{1} << (7 * groups))) ++groups;
    return groups;
}

// A stream of `count` bytes for a non-empty input: it decodes to the input, its escape byte is
// the least frequent value (the smallest among equals), and every token copies at least 4
// bytes from wholly before itself, no farther back than `farthest`, and is shorter than the
// bytes it stands for. The first 4 bytes are always literals.
inline void CheckLz77Stream(const uint8_t* data, uint32_t len, const uint8_t* stream,
                            uint32_t count, uint32_t farthest) {
    FUZZ_CHECK(count >= 2 && count <= 1u + len + len / 256);
    uint32_t counts[256] = {};
    for (uint32_t i = 0; i < len; ++i) ++counts[data[i]];
    uint32_t escape = 0;
    for (uint32_t v = 1; v < 256; ++v) {
        if (counts[v] < counts[escape]) escape = v;
    }
    FUZZ_CHECK(stream[0] == escape);

    std::vector<uint8_t> bytes(len);
    FUZZ_CHECK(DecodeLz77(stream, count, bytes.data(), len) == len);
    FUZZ_CHECK(std::memcmp(bytes.data(), data, len) == 0);
    // The input as a stream: whatever it decodes to stays inside the capacity.
    GuardedOutput arbitrary(2 * size_t{len});
    DecodeLz77(data, len, arbitrary.Area(), 2 * len);
    CHECK_UNTOUCHED_FROM(arbitrary, 2 * size_t{len});

    // The tokens as written.
    const std::optional<test::Lz77Decoded> decoded = test::DecodeLz77(stream, count);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(decoded->shortestGroups);
    for (const test::Lz77Token& token : decoded->tokens) {
        FUZZ_CHECK(token.position >= 4);
        FUZZ_CHECK(token.length >= 4 && token.length <= token.distance);
        FUZZ_CHECK(token.distance <= farthest && token.distance <= token.position);
        FUZZ_CHECK(1 + GroupBytes(token.length) + GroupBytes(token.distance) < token.length);
    }
}

}  // namespace tallox::fuzz

#include "codecs/escape_byte.h"

#include <cstring>

#include "codecs/detail/byte_histogram.h"

namespace tallox {

namespace detail {

void CountByteValues(const uint8_t* input, uint32_t len, uint32_t counts[256]) {
    // Eight tables, one per byte lane of a 64-bit word: neighbouring equal bytes (runs, the
    // channels of a pixel) land in different tables, so their increments do not wait on one
    // another's stores.
    constexpr uint32_t kLanes = 8;
    uint32_t tables[kLanes][256];
    std::memset(tables, 0, sizeof tables);
    uint32_t i = 0;
    for (; len - i >= 2 * kLanes; i += 2 * kLanes) {
        uint64_t a;
        uint64_t b;
        std::memcpy(&a, input + i, 8);
        std::memcpy(&b, input + i + 8, 8);
        for (uint32_t lane = 0; lane < kLanes; ++lane) {
            ++tables[lane][(a >> (8 * lane)) & 0xFF];
            ++tables[lane][(b >> (8 * lane)) & 0xFF];
        }
    }
    for (; i < len; ++i) ++tables[0][input[i]];
    for (uint32_t v = 0; v < 256; ++v) {
        uint32_t sum = 0;
        for (uint32_t lane = 0; lane < kLanes; ++lane) sum += tables[lane][v];
        counts[v] = sum;
    }
}

}  // namespace detail

uint8_t SelectEscapeByte(const uint8_t* input, uint32_t len) {
    uint32_t counts[256];
    detail::CountByteValues(input, len, counts);
    // Strictly less: among equal counts the smallest value stays the candidate.
    uint32_t candidate = 0;
    for (uint32_t v = 1; v < 256; ++v) {
        if (counts[v] < counts[candidate]) candidate = v;
    }
    return static_cast<uint8_t>(candidate);
}

}  // namespace tallox

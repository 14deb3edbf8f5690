#include "codecs/escape_byte.h"

#include "codecs/detail/byte_histogram.h"

namespace tallox {

namespace detail {

void CountByteValues(const uint8_t* input, uint32_t len, uint32_t counts[256]) {
    for (uint32_t v = 0; v < 256; ++v) counts[v] = 0;
    for (uint32_t i = 0; i < len; ++i) ++counts[input[i]];
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

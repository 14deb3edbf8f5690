#include "codecs/rle.h"

#include "codecs/escape_byte.h"

namespace tallox {

namespace {

// A run never spans more bytes than a 15-bit count field (L - 1) can hold.
constexpr uint32_t kMaxRun = 32768;

}  // namespace

void WriteRleRun(uint8_t* output, uint32_t& pos, uint8_t b, uint32_t length, uint8_t escape) {
    if (length > 3) {
        const uint32_t n = length - 1;
        output[pos++] = escape;
        if (n >= 128) output[pos++] = static_cast<uint8_t>(0x80 | (n >> 8));
        output[pos++] = static_cast<uint8_t>(n & 0xFF);
        output[pos++] = b;
    } else if (b == escape) {
        output[pos++] = escape;
        output[pos++] = static_cast<uint8_t>(length - 1);
    } else {
        for (uint32_t i = 0; i < length; ++i) output[pos++] = b;
    }
}

uint32_t EncodeRle(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    uint32_t pos = 1;
    uint32_t i = 0;
    while (i < len) {
        const uint8_t b = input[i];
        uint32_t run = 1;
        while (i + run < len && input[i + run] == b && run < kMaxRun) ++run;
        if (run == 1) {
            output[pos++] = b;
            if (b == escape) output[pos++] = 0x00;
        } else {
            WriteRleRun(output, pos, b, run, escape);
        }
        i += run;
    }
    return pos;
}

}  // namespace tallox

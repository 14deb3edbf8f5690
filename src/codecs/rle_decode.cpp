#include <cstring>

#include "codecs/detail/escape_literals.h"
#include "codecs/rle.h"

namespace tallox {

std::optional<uint32_t> DecodeRle(const uint8_t* input, uint32_t count, uint8_t* output,
                                  uint32_t capacity) {
    return detail::DecodeEscapedStream(input, count, output, capacity,
                                       [&](uint8_t escape, uint32_t& at, uint32_t& out) {
                                           // E, then c <= 2 for c + 1 escape bytes, or a count L -
                                           // 1 of one byte (below 0x80) or two (15 bits) and the
                                           // value.
                                           const uint32_t left = count - at;
                                           if (left < 2) return false;
                                           const uint32_t c = input[at + 1];
                                           uint32_t length;
                                           uint8_t value;
                                           if (c <= 2) {
                                               length = c + 1;
                                               value = escape;
                                               at += 2;
                                           } else if (c < 0x80) {
                                               if (left < 3) return false;
                                               length = c + 1;
                                               value = input[at + 2];
                                               at += 3;
                                           } else {
                                               if (left < 4) return false;
                                               length = ((c & 0x7F) << 8 | input[at + 2]) + 1;
                                               value = input[at + 3];
                                               at += 4;
                                           }
                                           if (length > capacity - out) return false;
                                           std::memset(output + out, value, length);
                                           out += length;
                                           return true;
                                       });
}

}  // namespace tallox

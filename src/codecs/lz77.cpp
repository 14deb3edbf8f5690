#include "codecs/lz77.h"

#include <algorithm>

#include "codecs/escape_byte.h"
#include "codecs/lz77_format.h"

namespace tallox {

namespace {

// Every distance from 3 to min(pos, window), nearest first; a farther candidate wins only
// when strictly longer, so the nearest of the longest is kept.
Lz77Match SearchWindow(const uint8_t* input, uint32_t pos, uint32_t remaining) {
    const uint8_t* here = input + pos;
    const uint32_t window = std::min(pos, kLz77Window);
    Lz77Match best{kLz77NoMatch, 0};
    for (uint32_t d = kLz77MinDistance; d <= window; ++d) {
        const uint8_t* candidate = here - d;
        if (candidate[0] != here[0] || candidate[best.length] != here[best.length]) continue;
        const uint32_t length = ExtendLz77Match(here, candidate, 1, std::min(remaining, d));
        if (length > best.length) {
            best = {length, d};
            // No later candidate can be longer than what is left.
            if (length == remaining) break;
        }
    }
    return best;
}

}  // namespace

uint32_t EncodeLz77(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape, [input](uint32_t pos, uint32_t remaining) {
        return SearchWindow(input, pos, remaining);
    });
}

}  // namespace tallox

#include "codecs/lz77_fast.h"

#include <algorithm>

#include "codecs/escape_byte.h"
#include "codecs/lz77_format.h"

namespace tallox {

namespace {

constexpr uint32_t kPairKeys = 65536;
constexpr int32_t kNone = -1;

// Head entries end as the last position of each pair key; link[i] is the nearest earlier
// position with the pair key of i, or -1.
void BuildChains(const uint8_t* input, uint32_t len, int32_t* head, int32_t* link) {
    std::fill(head, head + kPairKeys, kNone);
    for (uint32_t i = 0; i + 1 < len; ++i) {
        const uint32_t key = static_cast<uint32_t>(input[i]) << 8 | input[i + 1];
        link[i] = head[key];
        head[key] = static_cast<int32_t>(i);
    }
    link[len - 1] = kNone;
}

// Walks the whole chain of pos, nearest first. Every candidate shares the first two bytes, so
// only the byte at offset L is tested before the comparison from offset 2.
Lz77Match SearchChain(const uint8_t* input, const int32_t* link, uint32_t pos,
                      uint32_t remaining) {
    const uint8_t* here = input + pos;
    Lz77Match best{kLz77NoMatch, 0};
    for (int32_t c = link[pos]; c != kNone; c = link[c]) {
        // Once the best reaches the end of the input no candidate can be longer.
        if (best.length == remaining) continue;
        const uint8_t* candidate = input + c;
        if (candidate[best.length] != here[best.length]) continue;
        const uint32_t d = pos - static_cast<uint32_t>(c);
        const uint32_t limit = std::min(remaining, d);
        if (limit <= 2) continue;
        const uint32_t length = ExtendLz77Match(here, candidate, 2, limit);
        if (length > best.length) best = {length, d};
    }
    return best;
}

}  // namespace

uint32_t EncodeLz77Fast(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable) {
    if (len == 0) return 0;
    int32_t* head = workTable;
    int32_t* link = workTable + kPairKeys;
    BuildChains(input, len, head, link);
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape,
                           [input, link](uint32_t pos, uint32_t remaining) {
                               return SearchChain(input, link, pos, remaining);
                           });
}

}  // namespace tallox

#include "codecs/rle.h"

#include <cstddef>
#include <cstring>

#include "codecs/detail/check.h"
#include "codecs/detail/rle_token.h"
#include "codecs/escape_byte.h"

// Compiled once per SIMD target; the encoder picks the best one the processor runs.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codecs/rle.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace tallox {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using ByteTag = hn::ScalableTag<uint8_t>;

// A byte needs a token when it is the escape value or starts four equal bytes. Everything
// before such a byte is copied as it stands: runs of one to three bytes other than E are
// written as themselves, and none of them reaches into the byte that needs a token (it would
// then be E, or make the earlier run four long).
//
// Copies input[i..) up to the next byte that needs a token, and returns that byte's index, or
// len when there is none. i is the start of a run.
HWY_INLINE size_t CopyLiterals(const uint8_t* input, size_t i, size_t len, uint8_t escape,
                               uint8_t* output, size_t& pos) {
    const ByteTag d;
    const size_t lanes = hn::Lanes(d);
    const auto e = hn::Set(d, escape);
    // A block of lanes at i is tested against the three bytes after each lane.
    while (i + 2 * lanes + 3 <= len) {
        const auto a0 = hn::LoadU(d, input + i);
        const auto a1 = hn::LoadU(d, input + i + 1);
        const auto a2 = hn::LoadU(d, input + i + 2);
        const auto a3 = hn::LoadU(d, input + i + 3);
        const auto b0 = hn::LoadU(d, input + i + lanes);
        const auto b1 = hn::LoadU(d, input + i + lanes + 1);
        const auto b2 = hn::LoadU(d, input + i + lanes + 2);
        const auto b3 = hn::LoadU(d, input + i + lanes + 3);
        const auto a =
            hn::Or(hn::Eq(a0, e), hn::And(hn::And(hn::Eq(a0, a1), hn::Eq(a1, a2)), hn::Eq(a2, a3)));
        const auto b =
            hn::Or(hn::Eq(b0, e), hn::And(hn::And(hn::Eq(b0, b1), hn::Eq(b1, b2)), hn::Eq(b2, b3)));
        if (!hn::AllFalse(d, hn::Or(a, b))) {
            size_t k;
            if (!hn::AllFalse(d, a)) {
                k = hn::FindKnownFirstTrue(d, a);
            } else {
                hn::StoreU(a0, d, output + pos);
                pos += lanes;
                i += lanes;
                k = hn::FindKnownFirstTrue(d, b);
            }
            // Only the bytes before the token: nothing past the final count is written.
            std::memcpy(output + pos, input + i, k);
            pos += k;
            return i + k;
        }
        hn::StoreU(a0, d, output + pos);
        hn::StoreU(b0, d, output + pos + lanes);
        pos += 2 * lanes;
        i += 2 * lanes;
    }
    for (; i < len; ++i) {
        const uint8_t b = input[i];
        if (b == escape ||
            (i + 3 < len && input[i + 1] == b && input[i + 2] == b && input[i + 3] == b)) {
            return i;
        }
        output[pos++] = b;
    }
    return len;
}

// Bytes equal to input[p] from p on, at most kMaxRleRun and within len.
HWY_INLINE size_t RunLength(const uint8_t* input, size_t p, size_t len) {
    const ByteTag d;
    const size_t lanes = hn::Lanes(d);
    const uint8_t b = input[p];
    const size_t end = len - p < detail::kMaxRleRun ? len : p + detail::kMaxRleRun;
    size_t q = p + 1;
    // Most runs that reach here are short: the escape value alone, or four to a few bytes.
    for (size_t stop = q + 4 < end ? q + 4 : end; q < stop; ++q) {
        if (input[q] != b) return q - p;
    }
    const auto vb = hn::Set(d, b);
    for (; q + lanes <= end; q += lanes) {
        const auto differs = hn::Ne(hn::LoadU(d, input + q), vb);
        if (!hn::AllFalse(d, differs)) return q + hn::FindKnownFirstTrue(d, differs) - p;
    }
    while (q < end && input[q] == b) ++q;
    return q - p;
}

}  // namespace

// The token stream from output byte 1 on; returns the count, byte 0 included.
uint32_t EncodeRleTokens(const uint8_t* input, uint8_t* output, uint32_t len, uint8_t escape) {
    size_t pos = 1;
    size_t i = 0;
    for (;;) {
        i = CopyLiterals(input, i, len, escape, output, pos);
        if (i == len) break;
        const uint8_t b = input[i];
        const auto run = static_cast<uint32_t>(RunLength(input, i, len));
        if (run == 1) {
            output[pos++] = escape;  // b is E: the literal rule
            output[pos++] = 0x00;
        } else {
            detail::PutRleRun(output, pos, b, run, escape);
        }
        i += run;
    }
    // Only a lone escape value grows, by one byte, and it occurs at most len / 256 times.
    TALLOX_DCHECK(pos <= 1 + size_t{len} + len / 256);
    return static_cast<uint32_t>(pos);
}

}  // namespace HWY_NAMESPACE
}  // namespace tallox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tallox {

HWY_EXPORT(EncodeRleTokens);

uint32_t EncodeRle(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return HWY_DYNAMIC_DISPATCH(EncodeRleTokens)(input, output, len, escape);
}

}  // namespace tallox
#endif  // HWY_ONCE

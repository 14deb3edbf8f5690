// EncodeLz77: the window walk over every distance from 3 to min(pos, 100,000), nearest first.
// The two single-byte quick rejects are tested for a vector of distances at once (Highway,
// dispatched at run time); the survivors are visited in ascending distance, so every search
// gives exactly the result of the one-by-one walk.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "codecs/lz77.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#ifndef TALLOX_CODECS_LZ77_WALK
#define TALLOX_CODECS_LZ77_WALK

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "codecs/escape_byte.h"
#include "codecs/lz77.h"
#include "codecs/lz77_format.h"

namespace tallox {
namespace {

// Visits distances from..to one by one, nearest first, updating best. A farther candidate
// replaces the best only when strictly longer, so the nearest of the longest is kept.
// Returns false once the best reaches the end of the input: no later candidate can be longer.
inline bool WalkDistances(const uint8_t* here, uint32_t remaining, uint32_t from, uint32_t to,
                          Lz77Match& best) {
    for (uint32_t d = from; d <= to; ++d) {
        const uint8_t* candidate = here - d;
        if (candidate[0] != here[0] || candidate[best.length] != here[best.length]) continue;
        const uint32_t length = ExtendLz77Match(here, candidate, 1, std::min(remaining, d));
        if (length > best.length) {
            best = {length, d};
            if (length == remaining) return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace tallox

#endif  // TALLOX_CODECS_LZ77_WALK

HWY_BEFORE_NAMESPACE();
namespace tallox {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// At most 64 lanes, so that one vector's mask fits a 64-bit word.
using ByteTag = hn::CappedTag<uint8_t, 64>;
// Vectors tested per step before the masks are looked at.
constexpr uint32_t kUnroll = 8;

// Lane j of a vector loaded at here - d - (lanes - 1) is the candidate at distance
// d + lanes - 1 - j: ascending distance is descending lane, so survivors are taken from the
// top bit down.
inline uint64_t MaskWord(ByteTag tag, hn::Mask<ByteTag> mask) {
    // Read back exactly the bytes stored, so the load is forwarded from the store.
    constexpr size_t kBytes = (hn::MaxLanes(ByteTag()) + 7) / 8;
    uint8_t bytes[8] = {};
    hn::StoreMaskBits(tag, mask, bytes);
    if constexpr (std::endian::native == std::endian::little) {
        using Word = std::conditional_t<
            kBytes <= 1, uint8_t,
            std::conditional_t<kBytes <= 2, uint16_t,
                               std::conditional_t<kBytes <= 4, uint32_t, uint64_t>>>;
        Word word;
        std::memcpy(&word, bytes, sizeof(word));
        return word;
    } else {
        uint64_t word = 0;
        for (size_t i = 0; i < kBytes; ++i) word |= uint64_t{bytes[i]} << (8 * i);
        return word;
    }
}

// Survivors of both quick rejects among the lanes of the vector at block, which is aligned.
inline hn::Mask<ByteTag> Survivors(ByteTag tag, const uint8_t* block, uint32_t length,
                                   hn::Vec<ByteTag> first, hn::Vec<ByteTag> atLength) {
    return hn::And(hn::Eq(hn::Load(tag, block), first),
                   hn::Eq(hn::LoadU(tag, block + length), atLength));
}

Lz77Match SearchWindow(const uint8_t* input, uint32_t pos, uint32_t remaining) {
    const ByteTag tag;
    const uint32_t lanes = static_cast<uint32_t>(hn::Lanes(tag));
    const uint32_t step = kUnroll * lanes;
    const uint8_t* here = input + pos;
    const uint32_t window = std::min(pos, kLz77Window);
    const auto first = hn::Set(tag, here[0]);
    Lz77Match best{kLz77NoMatch, 0};
    uint32_t length = best.length;
    auto atLength = hn::Set(tag, here[length]);
    uint32_t d = kLz77MinDistance;
    const auto second = hn::Set(tag, here[1]);
    const auto third = hn::Set(tag, here[2]);
    // The survivors that also match bytes 1 and 2. Every distance is at least 3 and more than
    // 3 bytes remain, so these bytes lie before here and inside the input.
    const auto matchThree = [&](const uint8_t* block, hn::Mask<ByteTag> survivors) {
        return hn::And(survivors, hn::And(hn::Eq(hn::LoadU(tag, block + 1), second),
                                          hn::Eq(hn::LoadU(tag, block + 2), third)));
    };

    // Extends the survivors of one vector, nearest first, from byte 3 on (bytes 0 to 2 agree);
    // `nearest` is the distance of its top lane. The mask was taken with the length at the start of
    // the vector: when the best grows meanwhile, a candidate can still only win if it matches the
    // byte at that older offset, so no winner is missed. Returns false once the best reaches the
    // end of the input.
    const auto visit = [&](uint32_t nearest, hn::Mask<ByteTag> survivors) {
        uint64_t bits = MaskWord(tag, survivors);
        while (bits != 0) {
            const uint32_t lane = 63 - static_cast<uint32_t>(std::countl_zero(bits));
            bits &= ~(uint64_t{1} << lane);
            const uint32_t distance = nearest + (lanes - 1 - lane);
            const uint32_t k =
                ExtendLz77Match(here, here - distance, 3, std::min(remaining, distance));
            if (k > best.length) {
                best = {k, distance};
                if (k == remaining) return false;
            }
        }
        return true;
    };

    // The nearest distances one at a time, until the vectors' first bytes lie on a vector
    // boundary, so that only the loads at offset L may straddle cache lines.
    const uint32_t aligned =
        d + static_cast<uint32_t>(reinterpret_cast<uintptr_t>(here - d - (lanes - 1)) % lanes);
    if (aligned > window) {
        WalkDistances(here, remaining, d, window, best);
        return best;
    }
    if (!WalkDistances(here, remaining, d, aligned - 1, best)) return best;
    d = aligned;

    // Invariant: every distance below d has been visited, and best.length < remaining, so
    // here[best.length] lies inside the input. The vectors cover distances d and up, all
    // within the window, so no load reaches before the input.
    for (; d + step - 1 <= window; d += step) {
        if (best.length != length) {
            length = best.length;
            atLength = hn::Set(tag, here[length]);
        }
        const uint8_t* base = here - d - (lanes - 1);
        hn::Mask<ByteTag> survivors[kUnroll];
        for (uint32_t q = 0; q < kUnroll; ++q) {
            survivors[q] = Survivors(tag, base - q * lanes, length, first, atLength);
        }
        // Most blocks have no survivor at all: one test for the whole block.
        auto any = survivors[0];
        for (uint32_t q = 1; q < kUnroll; ++q) any = hn::Or(any, survivors[q]);
        if (hn::AllFalse(tag, any)) continue;
        // The extension of the block's survivors begins with bytes 1 and 2 for all of them at
        // once: most survivors stop there, at no more than the 3 bytes every search starts with.
        for (uint32_t q = 0; q < kUnroll; ++q) {
            survivors[q] = matchThree(base - q * lanes, survivors[q]);
        }
        any = survivors[0];
        for (uint32_t q = 1; q < kUnroll; ++q) any = hn::Or(any, survivors[q]);
        if (hn::AllFalse(tag, any)) continue;
        for (uint32_t q = 0; q < kUnroll; ++q) {
            if (!visit(d + q * lanes, survivors[q])) return best;
        }
    }
    for (; d + lanes - 1 <= window; d += lanes) {
        if (best.length != length) {
            length = best.length;
            atLength = hn::Set(tag, here[length]);
        }
        const uint8_t* block = here - d - (lanes - 1);
        const auto survivors = Survivors(tag, block, length, first, atLength);
        if (!hn::AllFalse(tag, survivors) && !visit(d, matchThree(block, survivors))) {
            return best;
        }
    }
    WalkDistances(here, remaining, d, window, best);
    return best;
}

uint32_t EncodeWithWindow(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape, [input](uint32_t pos, uint32_t remaining) {
        return SearchWindow(input, pos, remaining);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace tallox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tallox {

HWY_EXPORT(EncodeWithWindow);

uint32_t EncodeLz77(const uint8_t* input, uint8_t* output, uint32_t len) {
    return HWY_DYNAMIC_DISPATCH(EncodeWithWindow)(input, output, len);
}

uint32_t EncodeLz77Scalar(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape, [input](uint32_t pos, uint32_t remaining) {
        Lz77Match best{kLz77NoMatch, 0};
        WalkDistances(input + pos, remaining, kLz77MinDistance, std::min(pos, kLz77Window), best);
        return best;
    });
}

}  // namespace tallox
#endif  // HWY_ONCE

// EncodeLz77: the window walk over every distance from 3 to min(pos, 100,000), nearest first,
// with the compares done by vectors (Highway, dispatched at run time). Along a stretch of
// literals the searches of up to 61 neighbouring positions are made together, one distance at
// a time: the 64 bytes from the first of them are compared with those the distance back, and
// four equal bytes from a position on mark the only candidates that can be longer than 3
// there; the quick reject at the best length and the extension follow for those alone. After a
// token a position is searched alone, a vector of distances at a time, with the two quick
// rejects. Either way each position's candidates are visited in ascending distance, so every
// search gives exactly the result of the one-by-one walk.
//
// A candidate's length comes from detail::Lz77MatchLengths: byte by byte, except inside a run
// or other stretch of a short period around the position, whose candidates match up to the
// stretch's end. On a flat bitmap the walk then costs one step per distance, not the square
// of the window.

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

#include "codecs/detail/lz77_match_lengths.h"
#include "codecs/detail/lz77_reference.h"
#include "codecs/escape_byte.h"
#include "codecs/lz77.h"
#include "codecs/lz77_format.h"

namespace tallox {
namespace {

// Visits distances from..to one by one, nearest first, updating best; `lengths(d, k, limit)`
// gives a candidate's match length as ExtendLz77Match does. A farther candidate replaces the
// best only when strictly longer, so the nearest of the longest is kept. Returns false once the
// best reaches the end of the input: no later candidate can be longer.
template <typename Lengths>
inline bool WalkDistances(const uint8_t* here, uint32_t remaining, uint32_t from, uint32_t to,
                          Lz77Match& best, Lengths& lengths) {
    for (uint32_t d = from; d <= to; ++d) {
        const uint8_t* candidate = here - d;
        if (candidate[0] != here[0] || candidate[best.length] != here[best.length]) continue;
        const uint32_t length = lengths(d, 1, std::min(remaining, d));
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
// Bytes compared per distance: bit i of a distance's equality word tells whether byte i from
// the first position of the sweep agrees with the byte the distance back.
constexpr uint32_t kSpan = 64;
// Positions per sweep: the position of lane i has its bytes 0 to 3 at bits i to i + 3.
constexpr uint32_t kLanes = kSpan - 3;
// A best this long is accepted at every distance of the window, so the position's token will
// cover the positions after it up to its end.
constexpr uint32_t kSureTokenLength = 8;
// Distances tested per step before the candidates are looked at.
constexpr uint32_t kUnroll = 6;
// Vectors of distances tested per step by the search at one position.
constexpr uint32_t kSingleUnroll = 8;
// Literals in a row after which the next positions are searched together. Where tokens are
// frequent most positions of a sweep would be skipped, and their candidates are often many.
constexpr uint32_t kLiteralRun = 16;

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

// The search at one position alone: lane j of a vector loaded at here - d - (lanes - 1) is the
// candidate at distance d + lanes - 1 - j, so ascending distance is descending lane and the
// survivors are taken from the top bit down.
Lz77Match SearchWindow(const uint8_t* input, uint32_t pos, uint32_t remaining) {
    const ByteTag tag;
    const uint32_t lanes = static_cast<uint32_t>(hn::Lanes(tag));
    const uint32_t step = kSingleUnroll * lanes;
    const uint8_t* here = input + pos;
    const uint32_t window = std::min(pos, kLz77Window);
    detail::Lz77MatchLengths lengths(here, window, std::min(remaining, window));
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
            const uint32_t k = lengths(distance, 3, std::min(remaining, distance));
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
        WalkDistances(here, remaining, d, window, best, lengths);
        return best;
    }
    if (!WalkDistances(here, remaining, d, aligned - 1, best, lengths)) return best;
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
        hn::Mask<ByteTag> survivors[kSingleUnroll];
        for (uint32_t q = 0; q < kSingleUnroll; ++q) {
            survivors[q] = Survivors(tag, base - q * lanes, length, first, atLength);
        }
        // Most blocks have no survivor at all: one test for the whole block.
        auto any = survivors[0];
        for (uint32_t q = 1; q < kSingleUnroll; ++q) any = hn::Or(any, survivors[q]);
        if (hn::AllFalse(tag, any)) continue;
        // The extension of the block's survivors begins with bytes 1 and 2 for all of them at
        // once: most survivors stop there, at no more than the 3 bytes every search starts with.
        for (uint32_t q = 0; q < kSingleUnroll; ++q) {
            survivors[q] = matchThree(base - q * lanes, survivors[q]);
        }
        any = survivors[0];
        for (uint32_t q = 1; q < kSingleUnroll; ++q) any = hn::Or(any, survivors[q]);
        if (hn::AllFalse(tag, any)) continue;
        for (uint32_t q = 0; q < kSingleUnroll; ++q) {
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
    WalkDistances(here, remaining, d, window, best, lengths);
    return best;
}

// The search functor of the stream writer. While the writer emits literals it asks for one
// position after the other, so after kLiteralRun literals a sweep of the window answers the
// next kLanes positions at once; a token may skip some of them, whose results are then never
// used. After a token the positions are searched one at a time.
class BatchSearch {
public:
    BatchSearch(const uint8_t* input, uint32_t len) : input_(input), len_(len) {}

    Lz77Match operator()(uint32_t pos, uint32_t remaining) {
        literals_ = pos == last_ + 1 ? std::min(literals_ + 1, kLiteralRun) : 0;
        last_ = pos;
        const uint32_t lane = pos - first_;
        if (lane < kSpan && ((valid_ >> lane) & 1) != 0) return results_[lane];
        if (len_ < kSpan || literals_ < kLiteralRun) {
            return SearchWindow(input_, pos, remaining);
        }
        // The last sweep starts early enough for its span to end at the end of the input.
        first_ = std::min(pos, len_ - kSpan);
        Sweep(pos - first_);
        return results_[pos - first_];
    }

private:
    // Searches the positions of lanes `from` to kLanes - 1 that have more than 3 bytes left.
    void Sweep(uint32_t from) {
        const ByteTag tag;
        // The vector size is fixed on every target compiled here.
        constexpr uint32_t lanes = static_cast<uint32_t>(hn::MaxLanes(ByteTag()));
        constexpr uint32_t vectors = kSpan / lanes;
        const uint8_t* first = input_ + first_;
        hn::Vec<ByteTag> here[vectors];
        for (uint32_t v = 0; v < vectors; ++v) here[v] = hn::LoadU(tag, first + v * lanes);

        // The last lane with more than 3 bytes left; the span ends inside the input.
        const uint32_t last = std::min(kLanes - 1, len_ - first_ - (kLz77NoMatch + 1));
        uint64_t active = (~uint64_t{0} >> (63 - last)) & (~uint64_t{0} << from);
        valid_ = active;
        for (uint32_t i = from; i <= last; ++i) {
            results_[i] = {kLz77NoMatch, 0};
            const uint32_t farthest = std::min(first_ + i, kLz77Window);
            lengths_[i] = detail::Lz77MatchLengths(first + i, farthest,
                                                   std::min(len_ - first_ - i, farthest));
        }

        // Bit i: bytes 0 to 3 of the position of lane i agree with those `d` bytes back.
        // The work is split between the vector unit (compares) and the integer one (the bit
        // tests), which run side by side.
        const auto fourEqual = [&](uint32_t d) {
            const uint8_t* back = first - d;
            uint64_t equal = 0;
            for (uint32_t v = 0; v < vectors; ++v) {
                const auto same = hn::Eq(hn::LoadU(tag, back + v * lanes), here[v]);
                equal |= MaskWord(tag, same) << (v * lanes);
            }
            const uint64_t pairs = equal & (equal >> 1);
            return pairs & (pairs >> 2);
        };

        // The lanes with a fourEqual bit at any of the distances d to d + kUnroll - 1, the
        // farthest first. Written out rather than through fourEqual: the code measures faster.
        const auto anyFourEqual = [&](uint32_t d) {
            const uint8_t* back = first - d - (kUnroll - 1);
            uint64_t any = 0;
            for (uint32_t u = 0; u < kUnroll; ++u) {
                uint64_t equal = 0;
                for (uint32_t v = 0; v < vectors; ++v) {
                    equal |= MaskWord(tag, hn::Eq(hn::LoadU(tag, back + u + v * lanes), here[v]))
                             << (v * lanes);
                }
                const uint64_t pairs = equal & (equal >> 1);
                any |= pairs & (pairs >> 2);
            }
            return any;
        };

        // Every lane reaches this far; the lanes of positions nearer than 100,000 to the start
        // reach up to their own position, walked one by one below.
        const uint32_t window = std::min(first_, kLz77Window);
        // Visits the candidates of the lanes in `candidates`, all `d` back, and drops the lanes
        // that need no more visits from active.
        const auto visitAll = [&](uint64_t candidates, uint32_t d) {
            while (candidates != 0) {
                const uint32_t i = static_cast<uint32_t>(std::countr_zero(candidates));
                candidates &= candidates - 1;
                const uint64_t finished = Visit(i, d);
                active &= ~finished;
                candidates &= ~finished;
            }
        };
        // Invariant: every active lane has visited all distances below d, its best is shorter
        // than its remaining bytes, and the bytes compared lie inside the input (d <= first).
        // Candidates are rare, so the distances are tested kUnroll at a time.
        uint32_t d = kLz77MinDistance;
        for (; d + kUnroll - 1 <= window && active != 0; d += kUnroll) {
            if ((anyFourEqual(d) & active) == 0) continue;
            // Tested anew rather than kept, so the step holds no more than its sum.
            for (uint32_t u = 0; u < kUnroll; ++u) visitAll(fourEqual(d + u) & active, d + u);
        }
        for (; d <= window && active != 0; ++d) visitAll(fourEqual(d) & active, d);
        for (uint64_t rest = active; rest != 0; rest &= rest - 1) {
            const uint32_t i = static_cast<uint32_t>(std::countr_zero(rest));
            WalkDistances(first + i, len_ - first_ - i, std::max(window + 1, kLz77MinDistance),
                          std::min(first_ + i, kLz77Window), results_[i], lengths_[i]);
        }
    }

    // The candidate `d` back of lane i, whose bytes 0 to 3 agree. Returns the lanes that need
    // no more visits: lane i once its best reaches its end, the lanes its token would cover.
    uint64_t Visit(uint32_t i, uint32_t d) {
        const uint8_t* here = input_ + first_ + i;
        const uint32_t remaining = len_ - first_ - i;
        Lz77Match& best = results_[i];
        const uint32_t limit = std::min(remaining, d);
        if (limit <= best.length) return 0;
        const uint8_t* candidate = here - d;
        if (candidate[best.length] != here[best.length]) return 0;
        const uint32_t k = lengths_[i](d, kLz77NoMatch + 1, limit);
        if (k <= best.length) return 0;
        best = {k, d};
        uint64_t finished = k == remaining ? uint64_t{1} << i : 0;
        if (k >= kSureTokenLength) {
            // Should this position be searched, its token covers lanes i + 1 to i + k - 1; they
            // are dropped, and searched anew should one of them be asked for all the same.
            const uint32_t count = std::min(k - 1, kSpan - 1 - i);
            const uint64_t covered = ((uint64_t{1} << count) - 1) << (i + 1);
            valid_ &= ~covered;
            finished |= covered;
        }
        return finished;
    }

    const uint8_t* input_;
    uint32_t len_;
    uint32_t last_ = UINT32_MAX;  // the position asked before; position 0 follows a literal
    uint32_t literals_ = kLiteralRun - 1;  // literals in a row before last_, at most kLiteralRun
    uint32_t first_ = 0;
    uint64_t valid_ = 0;  // bit i: results_[i] is the search of position first_ + i
    Lz77Match results_[kSpan];
    detail::Lz77MatchLengths lengths_[kSpan];  // per lane, as results_
};

uint32_t EncodeWithWindow(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape, BatchSearch(input, len));
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

uint32_t detail::EncodeLz77Scalar(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape, [input](uint32_t pos, uint32_t remaining) {
        const uint8_t* here = input + pos;
        const auto lengths = [here](uint32_t d, uint32_t k, uint32_t limit) {
            return ExtendLz77Match(here, here - d, k, limit);
        };
        Lz77Match best{kLz77NoMatch, 0};
        WalkDistances(here, remaining, kLz77MinDistance, std::min(pos, kLz77Window), best, lengths);
        return best;
    });
}

}  // namespace tallox
#endif  // HWY_ONCE

// EncodeLz77Fast: LZ77 over chains of earlier positions sharing the first two bytes, walked to
// their end.
//
// Followed link by link, a walk waits on memory at every step. So the search walks the same
// chains in a second layout of the work table: every position, sorted by pair key and, within
// a key, by position (a bucket per key). The chain of pos is then the part of its key's bucket
// below pos's own entry, read downward: nearest first, every candidate once, from consecutive
// entries whose loads do not wait on each other, and the bucket of a position a few bytes ahead
// can be fetched while the current one is walked. Once the stream is written, the head and link
// tables are built over the layout, so the work table is left as the chains.
//
// On a run every earlier position of the run is a candidate, and each agrees with pos up to
// the end of pos's run: detail::Lz77MatchLengths gives such candidates (and those of any short
// period, as a flat colour) their length from the run's end instead of comparing up to it, so
// a search costs one step per candidate rather than per candidate and byte. Within pos's own
// stretch those lengths grow with the distance, and the candidates of one pair key are the
// consecutive entries of the bucket, so the walk jumps over them to the farthest in one step.
// The chains followed link by link keep the byte-by-byte comparison: they are the plain walk
// the layout is measured and tested against.
//
// On a flat image the searches are then a few dozen steps each, and what remains is the passes
// over the input that count the keys, fill the buckets and build the chains. Each finds the
// stretches where the keys repeat with a period of up to 4 positions (runs, flat colours of up
// to 32 bits) and fills the counts, the bucket entries and the links of a whole stretch at once:
// in a stretch of period p, past its first p positions, the nearest earlier position of a key is
// p back.

#include "codecs/lz77_fast.h"

#include <hwy/cache_control.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "codecs/detail/lz77_match_lengths.h"
#include "codecs/escape_byte.h"
#include "codecs/lz77_format.h"

namespace tallox {

namespace {

constexpr uint32_t kPairKeys = 65536;
// No earlier position, in the head and link tables: -1, all 32 bits set.
constexpr uint32_t kNone = UINT32_MAX;
// Compared with an input byte, never equal: the quick reject once the best reaches the end.
constexpr uint32_t kNoByte = 256;
// Marks the first (smallest) position of each bucket.
constexpr uint32_t kBucketStart = 0x80000000u;
// The bucket layout holds positions 0 to len - 2 below bit 31.
constexpr uint32_t kMaxBucketInput = kBucketStart + 1;
// How many positions ahead a bucket is fetched.
constexpr uint32_t kAhead = 8;

inline uint32_t PairKey(const uint8_t* at) { return static_cast<uint32_t>(at[0]) << 8 | at[1]; }

// A stretch of positions whose pair keys, and bytes at offset 3, repeat those `period`
// positions before: a run has period 1, a flat 24-bit colour period 3. Its first `period`
// positions have distinct pair keys, so the positions of each key in it are `period` apart,
// and the passes below fill their counts and entries for the whole stretch at once.
struct PairStretch {
    uint32_t period = 0;  // 0: none
    uint32_t count = 0;   // positions in the stretch, at least kMinStretch

    // Positions of phase r (r < period): at first + r, first + r + period, ...
    uint32_t PhaseCount(uint32_t r) const { return (count - r + period - 1) / period; }
};

// Longest period looked for, and the fewest positions a stretch must hold: between stretches
// the passes step over positions one by one, kMinStretch at a time.
constexpr uint32_t kMaxStretchPeriod = 4;
constexpr uint32_t kMinStretch = 64;

inline uint64_t LoadWord(const uint8_t* at) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
}

// ExtendLz77Match for stretches that run on for the whole input: 32 bytes a step, the last
// step's word found by ExtendLz77Match.
uint32_t ExtendStretch(const uint8_t* a, const uint8_t* b, uint32_t k, uint32_t limit) {
    while (limit - k >= 32) {
        uint64_t diff = 0;
        for (uint32_t w = 0; w < 32; w += 8) diff |= LoadWord(a + k + w) ^ LoadWord(b + k + w);
        if (diff != 0) break;
        k += 32;
    }
    return ExtendLz77Match(a, b, k, limit);
}

// The stretch from position i on, ending by `to` <= len - 1, with the shortest period that
// fits; period 0 when no stretch of kMinStretch positions starts at i. A period that fits the
// first 8 bytes, none shorter fitting, has distinct pair keys up to period 3; a period of 4
// can repeat one (A A A B), and is then not taken.
PairStretch FindStretch(const uint8_t* input, uint32_t i, uint32_t to, uint32_t len) {
    if (to - i < kMinStretch) return {};
    const uint64_t first = LoadWord(input + i);
    for (uint32_t p = 1; p <= kMaxStretchPeriod; ++p) {
        if (LoadWord(input + i + p) != first) continue;
        // n bytes from i + p on equal the byte p before: the keys and bytes at offset 3 of
        // the positions before i + p + n - 3 repeat.
        const uint32_t limit = std::min(len - i - p, to - i + 3 - p);
        const uint32_t n = ExtendStretch(input + i + p, input + i, 8, limit);
        const PairStretch stretch{p, p + n - 3};
        if (stretch.count < kMinStretch) return {};
        for (uint32_t r = 1; r < p; ++r) {
            for (uint32_t q = 0; q < r; ++q) {
                if (PairKey(input + i + q) == PairKey(input + i + r)) return {};
            }
        }
        return stretch;
    }
    return {};
}

// Calls stretch(i, s) for each stretch found from `from` to `to` (<= len - 1), and
// positions(i, end) for the positions between, at most kMinStretch at a time.
template <typename Stretch, typename Positions>
void ForEachStretch(const uint8_t* input, uint32_t len, uint32_t from, uint32_t to,
                    Stretch&& stretch, Positions&& positions) {
    uint32_t i = from;
    while (i < to) {
        const PairStretch found = FindStretch(input, i, to, len);
        if (found.period != 0) {
            stretch(i, found);
            i += found.count;
            continue;
        }
        const uint32_t end = to - i > kMinStretch ? i + kMinStretch : to;
        positions(i, end);
        i = end;
    }
}

// Calls step(i, entry) for positions from..to - 1 one by one, entry being table[k] for the pair
// key k of i, which step may change. The entry lives in a register while the key repeats: on a
// short run every position would otherwise load the entry that the position before has just
// stored, and wait for it.
template <typename Step>
void StepPositions(const uint8_t* input, uint32_t from, uint32_t to, uint32_t* table, Step&& step) {
    uint32_t key = PairKey(input + from);
    uint32_t entry = table[key];
    for (uint32_t i = from; i < to; ++i) {
        const uint32_t next = PairKey(input + i);
        if (next != key) {
            table[key] = entry;
            key = next;
            entry = table[key];
        }
        step(i, entry);
    }
    table[key] = entry;
}

// Head entries end as the last position of each pair key; link[i] is the nearest earlier
// position with the pair key of i, or -1. Positions are unsigned: inputs may pass 2^31 bytes.
void BuildChains(const uint8_t* input, uint32_t len, uint32_t* head, uint32_t* link) {
    std::fill(head, head + kPairKeys, kNone);
    ForEachStretch(
        input, len, 0, len - 1,
        [input, head, link](uint32_t from, PairStretch stretch) {
            // Past its first period, a position's nearest earlier one of its key is period back.
            const uint32_t p = stretch.period;
            for (uint32_t r = 0; r < p; ++r) {
                const uint32_t key = PairKey(input + from + r);
                link[from + r] = head[key];
                head[key] = from + r + (stretch.PhaseCount(r) - 1) * p;
            }
            for (uint32_t i = from + p; i < from + stretch.count; ++i) link[i] = i - p;
        },
        [input, head, link](uint32_t from, uint32_t to) {
            StepPositions(input, from, to, head, [link](uint32_t i, uint32_t& last) {
                link[i] = last;
                last = i;
            });
        });
    link[len - 1] = kNone;
}

// Adds to count[k] the positions from..to - 1 (to <= len - 1) of pair key k.
void CountPairs(const uint8_t* input, uint32_t len, uint32_t from, uint32_t to, uint32_t* count) {
    ForEachStretch(
        input, len, from, to,
        [input, count](uint32_t i, PairStretch stretch) {
            for (uint32_t r = 0; r < stretch.period; ++r) {
                count[PairKey(input + i + r)] += stretch.PhaseCount(r);
            }
        },
        [input, count](uint32_t first, uint32_t end) {
            StepPositions(input, first, end, count, [](uint32_t, uint32_t& n) { ++n; });
        });
}

// A bucket entry: kBucketStart on the first of its key, then the tag, then the position. The tag
// is the top bits of input[c + 3], the byte the first quick reject of every walk reads, as many
// as the position leaves room for (all 8 for inputs up to 8 MiB), so that most candidates are
// rejected without reading the input.
struct EntryLayout {
    uint32_t positionBits;
    uint32_t tagBits;

    // Positions run up to len - 2, at most 31 bits (len <= kMaxBucketInput).
    explicit EntryLayout(uint32_t len)
        : positionBits(static_cast<uint32_t>(std::bit_width(std::max(len, 3u) - 2))),
          tagBits(std::min(8u, 31 - positionBits)) {}

    uint32_t PositionMask() const { return (1u << positionBits) - 1; }
    uint32_t TagMask() const { return kBucketStart - 1 - PositionMask(); }
    // The tag of a byte, in place.
    uint32_t Tag(uint8_t byte) const {
        return static_cast<uint32_t>(byte) >> (8 - tagBits) << positionBits;
    }
};

// Fills order[0 .. len - 2] with the entries of all positions sorted by pair key, then position,
// and leaves cursor[k] at the first entry of key k.
void BuildBuckets(const uint8_t* input, uint32_t len, EntryLayout layout, uint32_t* cursor,
                  uint32_t* order) {
    std::fill(cursor, cursor + kPairKeys, 0u);
    CountPairs(input, len, 0, len - 1, cursor);
    uint32_t start = 0;
    for (uint32_t key = 0; key < kPairKeys; ++key) {
        const uint32_t count = cursor[key];
        cursor[key] = start;
        start += count;
    }
    // The last two positions have no byte at offset 3; they are never candidates, since a
    // search is made only where more than 3 bytes remain.
    ForEachStretch(
        input, len, 0, len - 1,
        [input, layout, cursor, order](uint32_t from, PairStretch stretch) {
            const uint32_t p = stretch.period;
            for (uint32_t r = 0; r < p; ++r) {
                uint32_t* slot = order + cursor[PairKey(input + from + r)];
                const uint32_t count = stretch.PhaseCount(r);
                uint32_t entry = layout.Tag(input[from + r + 3]) | (from + r);
                for (uint32_t q = 0; q < count; ++q, entry += p) slot[q] = entry;
                cursor[PairKey(input + from + r)] += count;
            }
        },
        [input, len, layout, cursor, order](uint32_t from, uint32_t to) {
            StepPositions(input, from, to, cursor,
                          [input, len, layout, order](uint32_t i, uint32_t& slot) {
                              const uint32_t tag = i + 3 < len ? layout.Tag(input[i + 3]) : 0;
                              order[slot++] = tag | i;
                          });
        });
    // Each cursor now stands at the end of its bucket, which is where the next one starts.
    start = 0;
    for (uint32_t key = 0; key < kPairKeys; ++key) {
        const uint32_t end = cursor[key];
        if (end != start) order[start] |= kBucketStart;
        cursor[key] = start;
        start = end;
    }
}

// The candidate at c against the best so far: extended from offset 2 (the pair is equal by
// construction) when it passes the quick reject at the best length; `lengths(d, k, limit)`
// extends as ExtendLz77Match does. limit <= 2 (distances 1 and 2) leaves k at 2, which never
// wins. True when the candidate became the best.
template <typename Lengths>
inline bool Visit(const uint8_t* input, uint32_t pos, uint32_t remaining, uint32_t c,
                  uint32_t& atLength, Lz77Match& best, Lengths& lengths) {
    if (input[c + best.length] != atLength) return false;
    const uint32_t d = pos - c;
    const uint32_t k = lengths(d, 2, std::min(remaining, d));
    if (k <= best.length) return false;
    best = {k, d};
    atLength = k < remaining ? input[pos + k] : kNoByte;
    return true;
}

// The searches over the bucket layout, asked for ascending positions. cursor[k] is the entry of
// the next position of key k not yet passed; positions skipped by a token are passed too.
class BucketSearch {
public:
    BucketSearch(const uint8_t* input, uint32_t len, EntryLayout layout, uint32_t* cursor,
                 const uint32_t* order)
        : input_(input), len_(len), layout_(layout), cursor_(cursor), order_(order) {}

    Lz77Match operator()(uint32_t pos, uint32_t remaining) {
        if (next_ < pos) CountPairs(input_, len_, next_, pos, cursor_);
        next_ = pos + 1;
        uint32_t j = cursor_[PairKey(input_ + pos)]++;
        if (remaining > kAhead + 1) {
            // The entries just below the later position's own: where its walk will begin. The
            // cursor may still be a few entries short; both addresses lie in the work table.
            const uint32_t* ahead = order_ + cursor_[PairKey(input_ + pos + kAhead)];
            hwy::Prefetch(ahead - 1);
            hwy::Prefetch(ahead - 16);
        }
        Lz77Match best{kLz77NoMatch, 0};
        if ((order_[j] & kBucketStart) != 0) return best;  // the first of its pair
        const uint32_t positionMask = layout_.PositionMask();
        const uint32_t tagMask = layout_.TagMask();
        const uint32_t tag = layout_.Tag(input_[pos + kLz77NoMatch]);  // remaining > 3
        uint32_t atLength = input_[pos + kLz77NoMatch];
        detail::Lz77MatchLengths lengths(input_ + pos, pos, remaining);
        // Invariant: entries j and up of the bucket have been visited; best.length <=
        // remaining, so c + best.length < pos + remaining = len.
        uint32_t entry;
        // While the best is 3 bytes long, a candidate whose tag differs fails the quick reject.
        do {
            entry = order_[--j];
            if ((entry & tagMask) != tag) continue;
            if (Visit(input_, pos, remaining, entry & positionMask, atLength, best, lengths)) {
                break;
            }
        } while ((entry & kBucketStart) == 0);
        while ((entry & kBucketStart) == 0) {
            entry = order_[--j];
            if (Visit(input_, pos, remaining, entry & positionMask, atLength, best, lengths)) {
                // Past a best as long as the rest of the input, no candidate is longer.
                if (best.length == remaining) break;
                if (lengths.Period() != 0) {
                    j = SkipStretch(j, pos, remaining, atLength, best, lengths);
                    entry = order_[j];
                }
            }
        }
        return best;
    }

private:
    // Called when the candidate of entry j, best.distance back, has just become the best. Once
    // pos's stretch of period p is measured and that distance d is a multiple of p, the
    // positions d + p, d + 2p, ... back, as far as the stretch reaches, all share pos's pair
    // key: when the entry m below j holds the one d + m * p back, the entries between hold
    // exactly the others (entries are distinct and sorted). Their lengths, min(Length(),
    // limit), grow with the distance up to min(Length(), remaining), so the nearest of the
    // longest among them is known without visiting them. Returns the entry visited down to.
    [[gnu::noinline]] uint32_t SkipStretch(uint32_t j, uint32_t pos, uint32_t remaining,
                                           uint32_t& atLength, Lz77Match& best,
                                           const detail::Lz77MatchLengths& lengths) const {
        const uint32_t p = lengths.Period();
        const uint32_t d = best.distance;
        if (p == 0 || d % p != 0 || lengths.Reach() < d + p) return j;
        const uint32_t m = (lengths.Reach() - d) / p;
        const uint32_t far = d + m * p;
        if ((order_[j - m] & layout_.PositionMask()) != pos - far) return j;
        // The candidate at d has min(cap, d) bytes.
        const uint32_t cap = std::min(lengths.Length(), remaining);
        if (cap > d) {
            const uint32_t length = std::min(cap, far);
            best = {length, far <= cap ? far : d + (cap - d + p - 1) / p * p};
            atLength = length < remaining ? input_[pos + length] : kNoByte;
        }
        return j - m;
    }

    const uint8_t* input_;
    uint32_t len_;
    EntryLayout layout_;
    uint32_t* cursor_;
    const uint32_t* order_;
    uint32_t next_ = 0;  // positions below this one have passed their entries
};

uint32_t WriteStream(const uint8_t* input, uint8_t* output, uint32_t len, auto&& search) {
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape, search);
}

// The chains followed link by link, nearest first.
Lz77Match SearchChain(const uint8_t* input, const uint32_t* link, uint32_t pos,
                      uint32_t remaining) {
    Lz77Match best{kLz77NoMatch, 0};
    uint32_t atLength = input[pos + kLz77NoMatch];
    const uint8_t* here = input + pos;
    const auto lengths = [here](uint32_t d, uint32_t k, uint32_t limit) {
        return ExtendLz77Match(here, here - d, k, limit);
    };
    for (uint32_t c = link[pos]; c != kNone; c = link[c]) {
        Visit(input, pos, remaining, c, atLength, best, lengths);
    }
    return best;
}

uint32_t* Head(int32_t* workTable) { return reinterpret_cast<uint32_t*>(workTable); }
uint32_t* Link(int32_t* workTable) { return Head(workTable) + kPairKeys; }

}  // namespace

uint32_t EncodeLz77FastChained(const uint8_t* input, uint8_t* output, uint32_t len,
                               int32_t* workTable) {
    if (len == 0) return 0;
    const uint32_t* link = Link(workTable);
    BuildChains(input, len, Head(workTable), Link(workTable));
    return WriteStream(input, output, len, [input, link](uint32_t pos, uint32_t remaining) {
        return SearchChain(input, link, pos, remaining);
    });
}

uint32_t EncodeLz77Fast(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable) {
    if (len == 0) return 0;
    if (len > kMaxBucketInput) return EncodeLz77FastChained(input, output, len, workTable);
    const EntryLayout layout(len);
    BuildBuckets(input, len, layout, Head(workTable), Link(workTable));
    const uint32_t count = WriteStream(
        input, output, len, BucketSearch(input, len, layout, Head(workTable), Link(workTable)));
    BuildChains(input, len, Head(workTable), Link(workTable));
    return count;
}

}  // namespace tallox

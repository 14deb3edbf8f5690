// Match lengths for the searches of both LZ77 encoders, without the square cost of runs.
//
// On a run of one byte value every candidate inside the run agrees with pos up to the end of
// pos's run, and a walk that compares them byte by byte pays the square of the run (of the
// window, of the whole input) per search. The same holds for data of any short period p (a
// flat 24-bit colour repeats every 3 bytes, a 32-bit one every 4; a run has period 1): let
// [S, E) be the stretch around pos where every byte equals the one p before it (from S + p on),
// with E - pos >= p. A candidate c in [S, pos) whose first p bytes equal pos's agrees with pos
// for exactly E - pos bytes: both copies repeat the same p bytes up to E, and at E pos's copy
// breaks the period while c's, which ends before E, still follows it. Its length is thus
// min(E - pos, limit) without comparing further; a candidate in the stretch whose first p bytes
// differ stops within them.
//
// A candidate c in an earlier stretch [S', E') of the same period whose first p bytes equal
// pos's is alike: the two copies agree until the first of them breaks the period, for
// min(E' - c, E - pos) bytes, and only when both break at the same offset does the comparison
// go on past it. The last such stretch met is kept, so the walk through a flat area of a
// screenshot measures each earlier run once, not once per candidate in it.
//
// Pos's stretch is measured at most once per search, and only when some candidate agrees with
// pos for kProbe bytes: a search where no candidate gets that far (most of them, on
// photographs) pays one comparison per candidate more than the plain extension, and nothing
// else.
#pragma once
#include <algorithm>
#include <cstdint>

#include "codecs/lz77_format.h"

namespace tallox::detail {

class Lz77MatchLengths {
public:
    // Bytes a candidate must agree for before the stretch around pos is measured.
    static constexpr uint32_t kProbe = 32;
    // Longest period looked for: up to 16 bytes a pixel, or a pattern of a few pixels.
    static constexpr uint32_t kMaxPeriod = 16;

    // `here` is the input at pos; no candidate of the search lies more than `farthest` bytes
    // back, and none has a limit above `cap` (so cap <= remaining and cap <= farthest).
    Lz77MatchLengths(const uint8_t* here, uint32_t farthest, uint32_t cap)
        : here_(here), farthest_(farthest), cap_(cap) {}
    Lz77MatchLengths() = default;

    // ExtendLz77Match(here, here - distance, k, limit): the first k bytes agree, limit <= cap.
    uint32_t operator()(uint32_t distance, uint32_t k, uint32_t limit) {
        const uint8_t* candidate = here_ - distance;
        // period_ is 0 until a stretch is found; the earlier stretch is empty until measured.
        if (limit > period_ && period_ != 0) {
            if (distance <= reach_) {
                k = ExtendLz77Match(here_, candidate, k, period_);
                return k < period_ ? k : std::min(length_, limit);
            }
            if (distance >= otherNear_ && distance <= otherFar_) return Other(distance, k, limit);
        }
        if (limit <= kProbe || (searched_ && period_ == 0)) {
            return ExtendLz77Match(here_, candidate, k, limit);
        }
        k = ExtendLz77Match(here_, candidate, k, kProbe);
        return k < kProbe ? k : Measure(distance, limit);
    }

    // Pos's stretch once measured: Period() is 0 until then. A candidate up to Reach() bytes
    // back whose distance is a multiple of the period lies in the stretch and agrees with pos
    // for its first period bytes, so its length is min(Length(), limit).
    uint32_t Period() const { return period_; }
    uint32_t Reach() const { return reach_; }
    uint32_t Length() const { return length_; }

private:
    // Called with a candidate `distance` back that agrees for kProbe bytes, whose limit passes
    // kProbe, and that lies in no stretch known yet. The first time looks for the shortest
    // period of the bytes at pos and measures pos's stretch; once the period is known, such a
    // candidate lies in an earlier stretch of it, which is measured. Returns the candidate's
    // length.
    uint32_t Measure(uint32_t distance, uint32_t limit);
    // The length of a candidate in the earlier stretch.
    uint32_t Other(uint32_t distance, uint32_t k, uint32_t limit);

    const uint8_t* here_ = nullptr;
    uint32_t farthest_ = 0;
    uint32_t cap_ = 0;
    bool searched_ = false;
    uint32_t period_ = 0;
    uint32_t length_ = 0;  // E - pos, or less when no limit of a candidate in [S, pos) reaches it
    bool lengthToCap_ = false;  // length_ is E - pos or at least cap_
    uint32_t reach_ = 0;   // pos - S, at most farthest_: candidates this far back lie in [S, pos)
    // The earlier stretch [S', E'): candidates otherNear_ to otherFar_ back lie in it with at
    // least period_ bytes before E', which lies otherEnd_ bytes after pos (it may be before).
    uint32_t otherNear_ = 1;
    uint32_t otherFar_ = 0;
    int64_t otherEnd_ = 0;
};

}  // namespace tallox::detail

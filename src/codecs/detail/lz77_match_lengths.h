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
// The stretch is measured once per search, and only when some candidate agrees with pos for
// kProbe bytes: a search where no candidate gets that far (most of them, on photographs) pays
// one comparison per candidate more than the plain extension, and nothing else.
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
        // reach_ is 0 until a stretch is found.
        if (distance <= reach_ && limit > period_) {
            k = ExtendLz77Match(here_, candidate, k, period_);
            return k < period_ ? k : std::min(length_, limit);
        }
        if (limit <= kProbe || searched_) return ExtendLz77Match(here_, candidate, k, limit);
        k = ExtendLz77Match(here_, candidate, k, kProbe);
        return k < kProbe ? k : Measure(distance, limit);
    }

private:
    // Called once, with a candidate `distance` back that agrees for kProbe bytes and whose
    // limit passes kProbe: looks for the shortest period of the bytes at pos, measures its
    // stretch, and returns that candidate's length.
    uint32_t Measure(uint32_t distance, uint32_t limit);

    const uint8_t* here_ = nullptr;
    uint32_t farthest_ = 0;
    uint32_t cap_ = 0;
    bool searched_ = false;
    uint32_t period_ = 0;
    uint32_t length_ = 0;  // E - pos, or less when no limit of a candidate in [S, pos) reaches it
    uint32_t reach_ = 0;   // pos - S, at most farthest_: candidates this far back lie in [S, pos)
};

}  // namespace tallox::detail

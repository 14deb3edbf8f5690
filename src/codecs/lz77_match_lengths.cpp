#include <bit>
#include <cstring>

#include "codecs/detail/lz77_match_lengths.h"

namespace tallox::detail {

namespace {

// How many bytes right before a and b agree, counted backward, stopping at limit. Reads
// a[-limit .. -1] and b[-limit .. -1] only.
uint32_t EqualBefore(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t k = 0;
    while (k + 8 <= limit) {
        uint64_t wordA;
        uint64_t wordB;
        std::memcpy(&wordA, a - k - 8, 8);
        std::memcpy(&wordB, b - k - 8, 8);
        const uint64_t diff = wordA ^ wordB;
        if (diff != 0) {
            // The first difference going backward is the highest-addressed one.
            if constexpr (std::endian::native == std::endian::little) {
                return k + static_cast<uint32_t>(std::countl_zero(diff)) / 8;
            } else {
                return k + static_cast<uint32_t>(std::countr_zero(diff)) / 8;
            }
        }
        k += 8;
    }
    while (k < limit && a[-1 - static_cast<int64_t>(k)] == b[-1 - static_cast<int64_t>(k)]) ++k;
    return k;
}

}  // namespace

uint32_t Lz77MatchLengths::Measure(uint32_t distance, uint32_t limit) {
    searched_ = true;
    // kProbe < limit <= distance <= farthest_ and limit <= cap_: the bytes compared below lie
    // inside the input.
    for (uint32_t p = 1; p <= kMaxPeriod; ++p) {
        const uint8_t* back = here_ - p;
        if (ExtendLz77Match(here_, back, 0, kProbe) < kProbe) continue;
        period_ = p;
        reach_ = p + EqualBefore(here_, back, farthest_ - p);
        // No candidate of the stretch has a limit above min(cap_, reach_).
        length_ = ExtendLz77Match(here_, back, kProbe, std::max(kProbe, std::min(cap_, reach_)));
        break;
    }
    // The candidate agrees for kProbe >= period_ bytes.
    if (distance <= reach_) return std::min(length_, limit);
    return ExtendLz77Match(here_, here_ - distance, kProbe, limit);
}

}  // namespace tallox::detail

#include <bit>
#include <cstring>

#include "codecs/detail/lz77_match_lengths.h"

namespace tallox::detail {

namespace {

// How many bytes right before a and b agree, counted backward, stopping at limit. Reads
// a[-limit .. -1] and b[-limit .. -1] only.
uint64_t LoadWord(const uint8_t* at) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
}

uint32_t EqualBefore(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t k = 0;
    // A stretch may reach back over the whole input: 32 bytes a step until a difference.
    while (limit - k >= 32) {
        uint64_t diff = 0;
        for (uint32_t w = 8; w <= 32; w += 8) diff |= LoadWord(a - k - w) ^ LoadWord(b - k - w);
        if (diff != 0) break;
        k += 32;
    }
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
    // kProbe < limit <= distance <= farthest_ and limit <= cap_: the bytes compared below lie
    // inside the input.
    const uint8_t* candidate = here_ - distance;
    if (!searched_) {
        searched_ = true;
        for (uint32_t p = 1; p <= kMaxPeriod; ++p) {
            const uint8_t* back = here_ - p;
            if (ExtendLz77Match(here_, back, 0, kProbe) < kProbe) continue;
            period_ = p;
            reach_ = p + EqualBefore(here_, back, farthest_ - p);
            // No candidate of the stretch has a limit above min(cap_, reach_).
            const uint32_t bound = std::max(kProbe, std::min(cap_, reach_));
            length_ = ExtendLz77Match(here_, back, kProbe, bound);
            lengthToCap_ = length_ < bound || bound == cap_;
            break;
        }
        if (period_ == 0) return ExtendLz77Match(here_, candidate, kProbe, limit);
        // The candidate agrees for kProbe >= period_ bytes.
        if (distance <= reach_) return std::min(length_, limit);
    }
    // The candidate agrees with pos for kProbe bytes, which repeat every period_ bytes: it lies
    // in an earlier stretch of the period, at least kProbe bytes before its end E'. E' is
    // looked for no farther than cap_ bytes after the candidate, enough for every limit.
    const uint32_t p = period_;
    const uint32_t ahead = p + ExtendLz77Match(candidate + p, candidate, 0, cap_ - p);
    const uint32_t behind = EqualBefore(candidate + p, candidate, farthest_ - distance);
    otherEnd_ = static_cast<int64_t>(ahead) - distance;
    // Nearer candidates of the stretch, should any be asked for, only while E' is exact.
    otherNear_ = ahead < cap_ ? distance - (ahead - p) : distance;
    otherFar_ = distance + behind;
    return Other(distance, kProbe, limit);
}

uint32_t Lz77MatchLengths::Other(uint32_t distance, uint32_t k, uint32_t limit) {
    const uint8_t* candidate = here_ - distance;
    k = ExtendLz77Match(here_, candidate, k, period_);
    if (k < period_) return k;
    if (!lengthToCap_) {
        length_ = ExtendLz77Match(here_, here_ - period_, length_, cap_);
        lengthToCap_ = true;
    }
    // Both copies repeat the same period_ bytes, the candidate's for `ahead` bytes, pos's for
    // length_; either value is exact or at least every limit.
    const auto ahead = static_cast<uint32_t>(otherEnd_ + distance);
    if (ahead != length_) return std::min({ahead, length_, limit});
    return ExtendLz77Match(here_, candidate, std::min(ahead, limit), limit);
}

}  // namespace tallox::detail

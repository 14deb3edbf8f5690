#include "engine/call_timing.h"

#include <algorithm>
#include <limits>

namespace tallox {
namespace {

// The median of a sorted, non-empty list: the mean of the middle two for an even count.
double SortedMedian(const std::vector<int64_t>& sorted) {
    const size_t half = sorted.size() / 2;
    return sorted.size() % 2 != 0 ? static_cast<double>(sorted[half])
                                  : (static_cast<double>(sorted[half - 1]) + static_cast<double>(sorted[half])) / 2;
}

}  // namespace

int64_t CounterReadTicks() {
    constexpr int kPairs = 256;
    int64_t least = std::numeric_limits<int64_t>::max();
    for (int i = 0; i < kPairs; ++i) {
        const int64_t start = ReadCounter();
        least = std::min(least, ReadCounter() - start);
    }
    return std::max<int64_t>(least, 0);  // a counter that went back costs nothing
}

CallStatistics Summarize(std::vector<int64_t> ticks, int64_t ticksPerSecond) {
    if (ticks.empty()) {
        return {};
    }
    std::sort(ticks.begin(), ticks.end());
    const double median = SortedMedian(ticks);
    // Deviations doubled so that they stay whole numbers when the median is a half.
    std::vector<int64_t> deviations(ticks.size());
    std::transform(ticks.begin(), ticks.end(), deviations.begin(), [&](int64_t t) {
        const int64_t twice = 2 * t - static_cast<int64_t>(2 * median);
        return twice < 0 ? -twice : twice;
    });
    std::sort(deviations.begin(), deviations.end());
    const double toMs = 1000.0 / static_cast<double>(ticksPerSecond);
    return {static_cast<double>(ticks.front()) * toMs, median * toMs,
            SortedMedian(deviations) / 2 * toMs, static_cast<double>(ticks.back()) * toMs};
}

}  // namespace tallox

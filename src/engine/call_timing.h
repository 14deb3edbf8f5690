// Every call of a measured loop timed on its own, and what the times say: the fastest, the
// median, the median absolute deviation and the slowest call.
#pragma once
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

#include "engine/stopwatch.h"
#include "platform/counter.h"

namespace tallox {

// Per-call times in milliseconds.
struct CallStatistics {
    double minMs = 0.0;
    double medianMs = 0.0;
    double madMs = 0.0;  // median absolute deviation from the median
    double maxMs = 0.0;
};

// The statistics of `ticks` (counter ticks per call, at `ticksPerSecond`); all zero when there
// are none.
CallStatistics Summarize(std::vector<int64_t> ticks, int64_t ticksPerSecond);

// How long a measured loop runs: `iterations` calls at least, and on until `minimumTicks` of
// calls have been timed, but no call more once `maximumTicks` are timed (0: no limit; the first
// call is always made); `overheadTicks` is what two reads of the counter add to each call.
struct CallPlan {
    int64_t iterations = 0;
    int64_t minimumTicks = 0;
    int64_t overheadTicks = 0;
    int64_t maximumTicks = 0;
};

// The ticks between two back-to-back reads of the counter, the least of many pairs: what timing
// a call adds to it when nothing disturbs the reads. The stopwatch's calibration times a single
// pair, at the first reads of the process, and may come out several times larger; subtracted
// from calls of a few hundred nanoseconds, that would make their times a guess.
int64_t CounterReadTicks();

// A plan of `iterations` calls and `minimumSeconds` of them, at most `maximumSeconds` (0: no
// limit), with the reads' cost measured now; the stopwatch must have calibrated.
inline CallPlan MakePlan(int64_t iterations, double minimumSeconds, double maximumSeconds = 0.0) {
    const auto ticks = [](double seconds) {
        return static_cast<int64_t>(seconds * static_cast<double>(Stopwatch::Frequency()));
    };
    return {iterations, ticks(minimumSeconds), CounterReadTicks(), ticks(maximumSeconds)};
}

// Runs `call` as `plan` says, each call between two reads of the counter, less their cost, its
// ticks appended to `ticks`; `after` runs after each call, outside its interval, and one that
// returns false ends the loop there, the calls so far standing for it. Stops at once, false,
// when a call returns false. The list grows only between calls, and only when the plan
// has a minimum time: reserve `plan.iterations` first.
template <typename Call, typename After>
bool TimeCalls(const CallPlan& plan, std::vector<int64_t>& ticks, Call&& call, After&& after) {
    const int64_t overhead = plan.overheadTicks;
    int64_t timed = 0;
    for (int64_t i = 0; i < plan.iterations || timed < plan.minimumTicks; ++i) {
        if (plan.maximumTicks > 0 && i > 0 && timed >= plan.maximumTicks) {
            break;  // a slow setting: the calls so far stand for it
        }
        const int64_t start = ReadCounter();
        const bool ok = call();
        const int64_t elapsed = ReadCounter() - start - overhead;
        if (!ok) {
            return false;
        }
        ticks.push_back(elapsed > 0 ? elapsed : 0);
        timed += ticks.back();
        if constexpr (std::is_same_v<std::invoke_result_t<After&>, bool>) {
            if (!after()) {
                break;  // asked to stop
            }
        } else {
            after();
        }
    }
    return true;
}

// A codec's measured loop: `warmup` untimed calls, then the calls of `iterations`,
// `minimumSeconds` and `maximumSeconds` inside one stopwatch, each also timed on its own into
// `ticks`. The stopwatch's elapsed seconds; nothing when a call failed.
template <typename Call, typename After>
std::optional<double> MeasureCalls(int32_t warmup, int32_t iterations, double minimumSeconds,
                                   std::vector<int64_t>& ticks, Call&& call, After&& after,
                                   double maximumSeconds = 0.0) {
    for (int32_t i = 0; i < warmup; ++i) {
        if (!call()) {
            return std::nullopt;
        }
    }
    ticks.clear();
    ticks.reserve(static_cast<size_t>(iterations));
    Stopwatch stopwatch;
    // Made before the timed stretch.
    const CallPlan plan = MakePlan(iterations, minimumSeconds, maximumSeconds);
    stopwatch.Start(false);
    const bool completed = TimeCalls(plan, ticks, call, after);
    stopwatch.Stop();
    if (!completed) {
        return std::nullopt;
    }
    return stopwatch.GetElapsedSeconds();
}

}  // namespace tallox

#include "platform/counter.h"

#include <time.h>

namespace tallox {
namespace {

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Offset by one so that the count is positive even on a clock that starts at zero: a count
    // of 0 or less would read as a stopped stopwatch.
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec + 1;
}

int64_t NanosecondsPerSecond() { return 1'000'000'000; }

constexpr CounterSource kMonotonic{&MonotonicNanoseconds, &NanosecondsPerSecond};
const CounterSource* g_source = &kMonotonic;

}  // namespace

int64_t ReadCounter() { return g_source->query(); }

int64_t CounterFrequency() { return g_source->frequency(); }

void SetCounterSource(const CounterSource* source) {
    g_source = source != nullptr ? source : &kMonotonic;
}

}  // namespace tallox

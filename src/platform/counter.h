// The high-resolution counter: CLOCK_MONOTONIC in nanoseconds. Tests may replace it.
#pragma once
#include <cstdint>

namespace tallox {

struct CounterSource {
    int64_t (*query)();      // the current count, positive and never falling
    int64_t (*frequency)();  // counts per second; 0 when there is no counter
};

int64_t ReadCounter();
int64_t CounterFrequency();

// Replaces the counter until called again; null restores the monotonic clock.
void SetCounterSource(const CounterSource* source);

}  // namespace tallox

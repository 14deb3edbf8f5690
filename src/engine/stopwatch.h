// High-resolution stopwatch. The whole state is one signed tick count: positive while running
// (the count at which the stretch counts as started), zero or less when stopped (minus the net
// ticks measured). The first construction in the process calibrates the cost of one start/stop
// pair, which every Stop then subtracts.
#pragma once
#include <cstdint>

namespace tallox {

class Stopwatch {
public:
    explicit Stopwatch(bool start = false);

    void Reset(bool start);
    // Starts from now; a stopped stopwatch with time measured resumes instead, unless `restart`.
    void Start(bool restart);
    void Stop();
    // The net time so far; a running stopwatch keeps running.
    double GetElapsedSeconds() const;

    // The counter's ticks per second, and the calibrated ticks of one start/stop pair; both
    // set by the first construction in the process.
    static int64_t Frequency() { return frequency_; }
    static int64_t OverheadTicks() { return -overhead_; }

private:
    friend struct StopwatchTestAccess;
    int64_t ticks_ = 0;
    static int64_t frequency_;
    static int64_t overhead_;  // minus the ticks of one start/stop pair
};

}  // namespace tallox

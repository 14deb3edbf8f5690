// High-resolution stopwatch. The whole state is one signed tick count: positive while running
// (the count at which the stretch counts as started), zero or less when stopped (minus the net
// ticks measured). The first construction in the process calibrates the cost of one start/stop
// pair, which every Stop then subtracts.
#pragma once
#include <cstdint>

namespace tallox {

class CStopwatch {
public:
    explicit CStopwatch(bool start = false);
    virtual ~CStopwatch() = default;
    CStopwatch(const CStopwatch& other);
    CStopwatch& operator=(const CStopwatch& other);

    void Reset(bool start);
    void Start(bool restart);
    void Stop();
    double GetElapsedSeconds() const;

protected:
    // Called around every access of m_ticks; a derived stopwatch may guard it here.
    virtual void BeginAccess() const {}
    virtual void EndAccess() const {}

private:
    friend struct CStopwatchTestAccess;
    int64_t m_ticks = 0;
    static int64_t s_frequency;
    static int64_t s_overhead;
};

}  // namespace tallox

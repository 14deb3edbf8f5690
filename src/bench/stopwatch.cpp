#include "bench/stopwatch.h"

#include "platform/counter.h"

namespace tallox {

int64_t CStopwatch::s_frequency = 0;
int64_t CStopwatch::s_overhead = 0;

CStopwatch::CStopwatch(bool start) { Reset(start); }

// A copy takes m_ticks under both objects' hooks and never calibrates.
CStopwatch::CStopwatch(const CStopwatch& other) {
    other.BeginAccess();
    BeginAccess();
    m_ticks = other.m_ticks;
    EndAccess();
    other.EndAccess();
}

CStopwatch& CStopwatch::operator=(const CStopwatch& other) {
    if (this != &other) {
        other.BeginAccess();
        BeginAccess();
        m_ticks = other.m_ticks;
        EndAccess();
        other.EndAccess();
    }
    return *this;
}

void CStopwatch::Reset(bool start) {
    if (s_frequency == 0) {
        // First stopwatch of the process: time one empty start/stop pair, the cost that every
        // Stop subtracts from then on.
        s_frequency = QueryPerformanceFrequency();
        if (s_frequency == 0) {
            s_frequency = 1;  // no counter rate: elapsed "seconds" are raw ticks
        }
        m_ticks = 0;
        s_overhead = 0;
        Start(false);
        Stop();
        s_overhead = m_ticks;
    }
    m_ticks = 0;
    if (start) {
        Start(false);
    }
}

void CStopwatch::Start(bool restart) {
    // The counter is read first, so that everything after it falls into the measured stretch
    // and into the calibrated overhead.
    const int64_t now = QueryPerformanceCounter();
    BeginAccess();
    if (!restart && m_ticks < 0) {
        m_ticks += now;  // resume: move the start back by the time already measured
    } else {
        m_ticks = now;
    }
    EndAccess();
}

void CStopwatch::Stop() {
    BeginAccess();
    if (m_ticks <= 0) {
        EndAccess();
        return;
    }
    const int64_t now = QueryPerformanceCounter();
    m_ticks -= now;  // minus the raw elapsed ticks
    // Less than the (negative) overhead: minus the net ticks. Otherwise the stretch took no
    // longer than the overhead, or the counter went back: nothing measured.
    m_ticks = m_ticks < s_overhead ? m_ticks - s_overhead : 0;
    EndAccess();
}

double CStopwatch::GetElapsedSeconds() const {
    CStopwatch copy(*this);
    copy.Stop();  // a running copy ends with the net ticks up to now; this one keeps running
    const int64_t ticks = -copy.m_ticks;
    return static_cast<double>(ticks) / static_cast<double>(s_frequency);
}

}  // namespace tallox

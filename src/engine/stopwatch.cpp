#include "engine/stopwatch.h"

#include "platform/counter.h"

namespace tallox {

int64_t Stopwatch::frequency_ = 0;
int64_t Stopwatch::overhead_ = 0;

Stopwatch::Stopwatch(bool start) { Reset(start); }

void Stopwatch::Reset(bool start) {
    if (frequency_ == 0) {
        // First stopwatch of the process: time one empty start/stop pair, the cost that every
        // Stop subtracts from then on.
        frequency_ = CounterFrequency();
        if (frequency_ == 0) {
            frequency_ = 1;  // no counter rate: elapsed "seconds" are raw ticks
        }
        ticks_ = 0;
        overhead_ = 0;
        Start(false);
        Stop();
        overhead_ = ticks_;
    }
    ticks_ = 0;
    if (start) {
        Start(false);
    }
}

void Stopwatch::Start(bool restart) {
    // The counter is read first, so that everything after it falls into the measured stretch
    // and into the calibrated overhead.
    const int64_t now = ReadCounter();
    if (!restart && ticks_ < 0) {
        ticks_ += now;  // resume: move the start back by the time already measured
    } else {
        ticks_ = now;
    }
}

void Stopwatch::Stop() {
    if (ticks_ <= 0) {
        return;
    }
    const int64_t now = ReadCounter();
    ticks_ -= now;  // minus the raw elapsed ticks
    // Less than the (negative) overhead: minus the net ticks. Otherwise the stretch took no
    // longer than the overhead, or the counter went back: nothing measured.
    ticks_ = ticks_ < overhead_ ? ticks_ - overhead_ : 0;
}

double Stopwatch::GetElapsedSeconds() const {
    Stopwatch copy(*this);
    copy.Stop();  // a running copy ends with the net ticks up to now; this one keeps running
    return static_cast<double>(-copy.ticks_) / static_cast<double>(frequency_);
}

}  // namespace tallox

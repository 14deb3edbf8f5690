// The run's progress bar: a 16-bit range, a position kept inside it, and a step; a step past the
// maximum starts again from the minimum. Front ends derive from it and show the state; tests
// derive from it to record the calls. StepIt runs inside the timed loops, once per encoder
// call, so a front end draws a step only now and then (see DrawThrottle), and everything else
// at once.
#pragma once
#include <cstdint>
#include <ctime>

namespace tallox {

class ProgressControl {
public:
    virtual ~ProgressControl() = default;
    virtual void SetRange(uint16_t minimum, uint16_t maximum);
    virtual void SetPos(int position);
    virtual void SetStep(int step);
    virtual void StepIt();
    // Whether the run is asked to end. The timed loops ask between calls, never inside one, and
    // then end after the call just made: the calls so far stand for the row, as under --max-time.
    virtual bool StopRequested() const { return false; }

    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    int Position() const { return position_; }
    int Step() const { return step_; }

protected:
    // Called after SetRange and SetPos.
    virtual void Changed() {}
    // Called after StepIt; it costs the timed loop whatever it does.
    virtual void Stepped() {}

private:
    void Coerce();
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
    int step_ = 10;
};

// Says when a step is worth drawing: at most once per interval, at the cost of one read of the
// coarse monotonic clock (a few nanoseconds, no system call) per question.
class DrawThrottle {
public:
    static constexpr int64_t kIntervalNanoseconds = 50'000'000;

    bool Due() {
        const int64_t now = Now();
        if (now - last_ < kIntervalNanoseconds) {
            return false;
        }
        last_ = now;
        return true;
    }
    // Counts a drawing made for another reason, so the next step waits a whole interval.
    void Drew() { last_ = Now(); }

private:
    static int64_t Now() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
    }
    int64_t last_ = 0;
};

}  // namespace tallox

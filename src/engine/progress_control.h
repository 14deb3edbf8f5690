// The run's progress bar: a 16-bit range, a position kept inside it, and a step; a step past the
// maximum starts again from the minimum. Front ends derive from it and show the state in
// Changed(); tests derive from it to record the calls.
#pragma once
#include <cstdint>

namespace tallox {

class ProgressControl {
public:
    virtual ~ProgressControl() = default;
    virtual void SetRange(uint16_t minimum, uint16_t maximum);
    virtual void SetPos(int position);
    virtual void SetStep(int step);
    virtual void StepIt();

    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    int Position() const { return position_; }
    int Step() const { return step_; }

protected:
    // Called after every call that may change what the bar shows.
    virtual void Changed() {}

private:
    void Coerce();
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
    int step_ = 10;
};

}  // namespace tallox

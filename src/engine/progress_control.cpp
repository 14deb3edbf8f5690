#include "engine/progress_control.h"

namespace tallox {

// The position always lies inside the range.
void ProgressControl::Coerce() {
    if (position_ < minimum_) {
        position_ = minimum_;
    }
    if (position_ > maximum_) {
        position_ = maximum_;
    }
}

void ProgressControl::SetRange(uint16_t minimum, uint16_t maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    Coerce();
    Changed();
}

void ProgressControl::SetPos(int position) {
    position_ = position;
    Coerce();
    Changed();
}

void ProgressControl::SetStep(int step) { step_ = step; }

void ProgressControl::StepIt() {
    // A step past the maximum starts the bar again from its minimum.
    const int64_t next = static_cast<int64_t>(position_) + step_;
    position_ = next > maximum_ ? minimum_ : static_cast<int>(next);
    Coerce();
    Stepped();
}

}  // namespace tallox

// The run's progress control shown in a QProgressBar. Steps are drawn at most every 50 ms;
// everything else, and Draw(), at once, so that what is finally shown is exact.
#pragma once
#include "engine/progress_control.h"

class QProgressBar;

namespace tallox {

class ProgressBarControl final : public ProgressControl {
public:
    // Shows the control's state in `bar`, which outlives it.
    explicit ProgressBarControl(QProgressBar* bar);

    // Shows the exact state now.
    void Draw();

protected:
    void Changed() override { Draw(); }
    void Stepped() override;

private:
    QProgressBar* bar_;
    DrawThrottle throttle_;
};

}  // namespace tallox

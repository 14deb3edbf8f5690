// The run's progress control shown in a QProgressBar.
#pragma once
#include "engine/progress_control.h"

class QProgressBar;

namespace tallox {

class ProgressBarControl final : public ProgressControl {
public:
    // Shows the control's state in `bar`, which outlives it.
    explicit ProgressBarControl(QProgressBar* bar);

protected:
    void Changed() override;

private:
    QProgressBar* bar_;
};

}  // namespace tallox

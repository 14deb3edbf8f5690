#include "ui/progress_bar_control.h"

#include <QProgressBar>

namespace tallox {

ProgressBarControl::ProgressBarControl(QProgressBar* bar) : bar_(bar) { Draw(); }

void ProgressBarControl::Stepped() {
    if (throttle_.Due()) {
        Draw();
    }
}

void ProgressBarControl::Draw() {
    throttle_.Drew();
    if (Maximum() > Minimum()) {
        bar_->setRange(Minimum(), Maximum());
        bar_->setValue(Position());
    } else {
        // An empty range (the run sets 1 to 0 when no codec is selected) draws an empty bar;
        // QProgressBar would animate a busy indicator for 0 to 0 instead.
        bar_->setRange(0, 1);
        bar_->setValue(0);
    }
}

}  // namespace tallox

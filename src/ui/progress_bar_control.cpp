#include "ui/progress_bar_control.h"

#include <QProgressBar>

namespace tallox {

void CProgressBarControl::Attach(QProgressBar* bar) {
    m_pBar = bar;
    Changed();
}

void CProgressBarControl::Changed() {
    if (m_pBar == nullptr) {
        return;
    }
    if (Maximum() > Minimum()) {
        m_pBar->setRange(Minimum(), Maximum());
        m_pBar->setValue(Position());
    } else {
        // An empty range (the run sets 1 to 0 when no codec is selected) draws an empty bar;
        // QProgressBar would animate a busy indicator for 0 to 0 instead.
        m_pBar->setRange(0, 1);
        m_pBar->setValue(0);
    }
}

}  // namespace tallox

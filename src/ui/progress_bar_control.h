// The run's progress control shown in a QProgressBar.
#pragma once
#include "bench/run_host.h"

class QProgressBar;

namespace tallox {

class CProgressBarControl final : public ProgressControl {
public:
    // Shows the control's state in `bar` from now on (null: shows it nowhere).
    void Attach(QProgressBar* bar);

protected:
    void Changed() override;

private:
    QProgressBar* m_pBar = nullptr;
};

}  // namespace tallox

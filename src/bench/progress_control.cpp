#include "bench/run_host.h"

namespace tallox {

// The position always lies inside the range, as in the Win32 control.
void ProgressControl::Coerce() {
    if (m_position < m_minimum) {
        m_position = m_minimum;
    }
    if (m_position > m_maximum) {
        m_position = m_maximum;
    }
}

void ProgressControl::SetRange(uint16_t minimum, uint16_t maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
    Coerce();
    Changed();
}

void ProgressControl::SetPos(int position) {
    m_position = position;
    Coerce();
    Changed();
}

void ProgressControl::SetStep(int step) { m_step = step; }

void ProgressControl::StepIt() {
    // A step past the maximum restarts the bar from its minimum.
    const int64_t next = static_cast<int64_t>(m_position) + m_step;
    m_position = next > m_maximum ? m_minimum : static_cast<int>(next);
    Coerce();
    Changed();
}

}  // namespace tallox

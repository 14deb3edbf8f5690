#include "support/recording_host.h"

namespace tallox::test {

void RecordingProgress::SetRange(uint16_t minimum, uint16_t maximum) {
    m_events.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    ProgressControl::SetRange(minimum, maximum);
}

void RecordingProgress::SetPos(int position) {
    m_events.push_back("pos " + std::to_string(position));
    ProgressControl::SetPos(position);
}

void RecordingProgress::SetStep(int step) {
    m_events.push_back("step " + std::to_string(step));
    ProgressControl::SetStep(step);
}

void RecordingProgress::StepIt() {
    m_events.push_back("stepit");
    ProgressControl::StepIt();
}

void RecordingHost::Push(const std::string& report) {
    events.push_back("push");
    pushes.push_back(report);
}

void RecordingHost::Repaint() { events.push_back("repaint"); }

void RecordingHost::ShowMessage(const RunMessage& message) {
    events.push_back("message " + message.text);
    messages.push_back(message.text);
}

void RecordingHost::RowFinished(const Row& row) {
    events.push_back("row " + row.codec);
    rows.push_back(row);
}

const std::string& RecordingHost::LastReport() const {
    static const std::string kNone;
    return pushes.empty() ? kNone : pushes.back();
}

}  // namespace tallox::test

// A run host that records every call in order, so tests can assert the exact sequence of
// pushes, repaints, progress messages and message boxes.
#pragma once
#include <string>
#include <vector>

#include "engine/run_host.h"

namespace tallox::test {

class RecordingProgress final : public ProgressControl {
public:
    explicit RecordingProgress(std::vector<std::string>& events) : m_events(events) {}
    void SetRange(uint16_t minimum, uint16_t maximum) override;
    void SetPos(int position) override;
    void SetStep(int step) override;
    void StepIt() override;

private:
    std::vector<std::string>& m_events;
};

class RecordingHost final : public RunHost {
public:
    void Push(const std::string& report) override;
    void Repaint() override;
    void RowFinished(const Row& row) override;
    ProgressControl& Progress() override { return m_progress; }
    void ShowMessage(const RunMessage& message) override;

    // "push", "repaint", "row <codec>", "range 1 100", "pos 1", "step 1", "stepit",
    // "message <text>".
    std::vector<std::string> events;
    std::vector<std::string> pushes;    // the report at every push
    std::vector<std::string> messages;  // message box texts
    std::vector<Row> rows;
    int stepIts = 0;

    const std::string& LastReport() const;
    const RecordingProgress& progress() const { return m_progress; }

private:
    RecordingProgress m_progress{events};
};

}  // namespace tallox::test

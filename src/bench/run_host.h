// What a benchmark run needs from its window: the report, a forced repaint, the progress bar
// and a message box. The dialog, the command line and the tests each provide one.
#pragma once
#include <cstdint>
#include <string>

namespace tallox {

// A progress bar with the Win32 control's rules: a 16-bit range, a position kept inside it, a
// step, and a step past the maximum that restarts from the minimum. Front ends derive from it
// and show the state in Changed(); tests derive from it to record the messages.
class ProgressControl {
public:
    virtual ~ProgressControl() = default;
    virtual void SetRange(uint16_t minimum, uint16_t maximum);
    virtual void SetPos(int position);
    virtual void SetStep(int step);
    virtual void StepIt();

    int Minimum() const { return m_minimum; }
    int Maximum() const { return m_maximum; }
    int Position() const { return m_position; }
    int Step() const { return m_step; }

protected:
    // Called after every message that may change what the bar shows.
    virtual void Changed() {}

private:
    void Coerce();
    int m_minimum = 0;
    int m_maximum = 100;
    int m_position = 0;
    int m_step = 10;
};

// One finished measurement, for front ends that print more than the report text.
struct CodecResult {
    std::string codec;          // short name: "jpeg", "rle", "huffman", "rice", "lz77", "lz77fast"
    int32_t iterations = 0;
    uint32_t referenceBytes = 0;  // input length, or width x height x 3 for JPEG
    uint32_t outputBytes = 0;     // the last encoder call's count, or the stream's size
    double elapsedSeconds = 0.0;
    double framesPerSecond = 0.0;
    double ratio = 0.0;
};

class RunHost {
public:
    virtual void Push(const std::string& report) = 0;  // show the report as it stands
    virtual void Repaint() = 0;                        // paint it now
    virtual ProgressControl& Progress() = 0;
    virtual void ShowMessage(const std::string& text) = 0;  // plain OK box; the run then ends
    // Called right after a codec's row has been appended, before it is pushed.
    virtual void Measured(const CodecResult& /*result*/) {}

protected:
    ~RunHost() = default;
};

}  // namespace tallox

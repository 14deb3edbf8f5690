// How tallox-cli shows a run: the report text row by row, or one record per codec.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/reporters.h"
#include "engine/run_context.h"
#include "engine/run_host.h"

namespace tallox::cli {

struct OutputOptions {
    ReportFormat format = ReportFormat::Text;
    std::FILE* stream = stdout;       // where the output goes: stdout, or the --output file
    bool crlf = false;                // keep the report's own "\r\n" line ends
    bool progress = false;            // draw a progress bar on stderr
    RunContext context;               // for JSON, JSON Lines and the Markdown header
    std::string settings;             // how the run was asked for, a JSON object (JSON Lines)
    std::vector<std::string> codecs;  // the bar's labels: the selected codecs in the run's order
    int32_t iterations = 0;           // encoder calls per codec
    RdOptions rd;                     // the reference and targets of the lossy comparison
};

// "tallox-cli: FILE: TEXT (the system's reason)", without the parts the message lacks.
std::string FormatMessage(const RunMessage& message);

// The output stream as a reporter's sink, with the progress bar erased before each write and
// `after` called after it.
class OutputSink final : public ReportSink {
public:
    OutputSink(const OutputOptions& options, std::function<void()> before,
               std::function<void()> after)
        : file_(options.stream, options.crlf),
          before_(std::move(before)),
          after_(std::move(after)) {}
    void Write(std::string_view text) override {
        before_();
        file_.Write(text);
        after_();
    }
    // 0, or 1 after "cannot write the output" on stderr.
    int Status() const;

private:
    FileSink file_;
    std::function<void()> before_;
    std::function<void()> after_;
};

// 1234567 as "1,234,567".
std::string Grouped(int64_t value);

// The progress bar on stderr: the encoder calls made for the codec being measured, out of the
// run's iterations, and an estimate of the time that codec has left. The run's 16-bit control
// is kept as it is, but not shown. A step only counts the call; the line is drawn at most every
// 50 ms, and once more when a codec finishes, so the last count shown is exact. A call that
// runs for seconds (AVIF at speed 0) would leave the bar still: a ticker thread, which sleeps
// 250 ms at a time, draws it again with the call's time so far once no step has drawn it for
// half a second.
class TerminalProgress final : public ProgressControl {
public:
    TerminalProgress(bool enabled, std::vector<std::string> codecs, int32_t iterations);
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    void CodecFinished();  // draws the finished codec's count, then moves on to the next codec
    void Clear();          // erase the bar before other output
    void Redraw();         // draw it again

protected:
    void Stepped() override;

private:
    void Draw();
    void DrawLocked(bool ticking);
    static int64_t Now();

    bool enabled_;
    std::vector<std::string> codecs_;
    int64_t iterations_;
    std::mutex drawing_;  // the line and what it shows, between the steps and the ticker
    size_t current_ = 0;  // the codec being measured
    // Its encoder calls so far: written by the measuring thread alone, read by the ticker.
    std::atomic<int64_t> calls_ = 0;
    std::atomic<int64_t> lastDraw_ = 0;  // when the line was last drawn, in nanoseconds
    DrawThrottle throttle_;
    // The first count drawn for this codec and when: the rate since then gives the time left.
    int64_t rateCalls_ = -1;
    std::chrono::steady_clock::time_point rateStart_;
    bool shown_ = false;
    std::jthread ticker_;
};

class CliHost final : public RunHost {
public:
    explicit CliHost(OutputOptions options);

    void Push(const std::string& report) override;
    void Repaint() override {}  // rows are written as they finish
    void RowFinished(const Row& row) override;
    ProgressControl& Progress() override { return progress_; }
    void ShowMessage(const RunMessage& message) override;

    // Ends the output: the JSON document, the bar erased. Returns the exit status: 0, or 1
    // when the run ended with a message or the output could not be written.
    int Finish();
    // Every row the run finished, the memcpy yardstick first when it was measured.
    const std::vector<Row>& Rows() const { return rows_; }

private:
    OutputOptions options_;
    TerminalProgress progress_;
    OutputSink sink_;
    std::unique_ptr<Reporter> reporter_;
    std::vector<Row> rows_;
    bool started_ = false;  // the run found its input measurable
    bool failed_ = false;
};

}  // namespace tallox::cli

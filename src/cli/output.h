// How tallox-cli shows a run: the report text row by row, or one record per codec.
#pragma once
#include <string>
#include <vector>

#include "engine/run_host.h"

namespace tallox::cli {

enum class Format { Text, Csv, Json, Markdown };

struct OutputOptions {
    Format format = Format::Text;
    bool crlf = false;      // keep the report's own "\r\n" line ends
    bool progress = false;  // draw a progress bar on stderr
    std::string file;       // for the JSON record
};

// A progress bar drawn on stderr on every change of the run's progress control.
class TerminalProgress final : public ProgressControl {
public:
    explicit TerminalProgress(bool enabled) : enabled_(enabled) {}
    void Clear();   // erase the bar before other output
    void Redraw();  // draw it again

protected:
    void Changed() override;

private:
    bool enabled_;
    bool shown_ = false;
    std::string lastLine_;
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
    // when the run ended with a message.
    int Finish();

private:
    void Write(std::string text);

    OutputOptions options_;
    TerminalProgress progress_;
    std::vector<Row> rows_;
    bool headerWritten_ = false;
    bool failed_ = false;
};

// The record fields, in the order the tabular formats print them.
std::string FormatCsvHeader();
std::string FormatCsvRecord(const Row& row);
std::string FormatMarkdownHeader();
std::string FormatMarkdownRecord(const Row& row);
std::string FormatJson(const std::string& file, const std::vector<Row>& rows);
double MegabytesPerSecond(const Row& row);

}  // namespace tallox::cli

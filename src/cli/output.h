// How tallox-cli shows a run: the report text as the run pushes it, or one record per codec.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "bench/run_host.h"

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
    explicit TerminalProgress(bool enabled) : m_enabled(enabled) {}
    void Clear();   // erase the bar before other output
    void Redraw();  // draw it again

protected:
    void Changed() override;

private:
    bool m_enabled;
    bool m_shown = false;
    std::string m_lastLine;
};

class CliHost final : public RunHost {
public:
    explicit CliHost(OutputOptions options);

    void Push(const std::string& report) override;
    void Repaint() override {}  // rows are written as they are pushed
    ProgressControl& Progress() override { return m_progress; }
    void ShowMessage(const std::string& text) override;
    void Measured(const CodecResult& result) override;

    // Ends the output: the JSON document, the bar erased. Returns the exit status: 0, or 1
    // when the run ended with a message.
    int Finish();

private:
    void Write(const std::string& text);

    OutputOptions m_options;
    TerminalProgress m_progress;
    size_t m_printed = 0;  // how much of the pushed report has been written
    std::vector<CodecResult> m_results;
    bool m_headerWritten = false;
    bool m_failed = false;
};

// The record fields, in the order the tabular formats print them.
std::string FormatCsvHeader();
std::string FormatCsvRecord(const CodecResult& result);
std::string FormatMarkdownHeader();
std::string FormatMarkdownRecord(const CodecResult& result);
std::string FormatJson(const std::string& file, const std::vector<CodecResult>& results);
double MegabytesPerSecond(const CodecResult& result);

}  // namespace tallox::cli

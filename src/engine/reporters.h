// The output formats of a run: one reporter class each over the one ordered field schema of
// records.h, chosen once by name or by a file's extension, writing to a sink. The command line's
// one-file and corpus runs and the dialog's saved reports all go through them.
#pragma once
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/records.h"
#include "engine/run_context.h"
#include "engine/run_host.h"

namespace tallox {

// Where a reporter's text goes.
class ReportSink {
public:
    virtual void Write(std::string_view text) = 0;

protected:
    ~ReportSink() = default;
};

// Appends to a string; the report's "\r" dropped unless `crlf`.
class StringSink final : public ReportSink {
public:
    explicit StringSink(std::string& text, bool crlf = true) : text_(text), crlf_(crlf) {}
    void Write(std::string_view text) override;

private:
    std::string& text_;
    bool crlf_;
};

// Writes to a stream and flushes each text at once, so that a run killed at any moment leaves
// every line it finished; the report's "\r" dropped unless `crlf`. After the first failed
// write, whose errno Error() keeps, nothing more is written.
class FileSink final : public ReportSink {
public:
    FileSink(std::FILE* stream, bool crlf) : stream_(stream), crlf_(crlf) {}
    void Write(std::string_view text) override;
    int Error() const { return error_; }

private:
    std::FILE* stream_;
    bool crlf_;
    int error_ = 0;
};

enum class ReportFormat { Text, Csv, Json, JsonLines, Markdown, Table };

// "text", "csv", "json", "jsonl", "markdown", "table".
std::optional<ReportFormat> ReportFormatNamed(std::string_view name);
// By the path's extension, letter case ignored: .txt, .csv, .json, .jsonl, .md.
std::optional<ReportFormat> ReportFormatOfPath(std::string_view path);

// What a reporter is told before the first record.
struct ReportStart {
    RunContext context;              // machine, build, timer, date; a one-file run's input
    bool corpus = false;             // records name their file; the summaries follow them
    std::vector<std::string> files;  // a corpus run's files
    std::string settings;  // how the run was asked for, a JSON object's text (JSON Lines keeps it)
};

// A run's output in one format. Begin comes first; FileStarted before each file's records
// (a one-file run's once the input is found measurable); Summary after a corpus's records;
// RateDistortion after them in any run that compares lossy codecs; End last, with the machine's
// CPU time over the run (TicksSince) for the steal in the context.
class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void Begin(const ReportStart& start) = 0;
    virtual void FileStarted(const std::string& path) = 0;
    virtual void Record(const Row& row) = 0;
    virtual void Summary(const std::vector<CodecSummary>& summaries) = 0;
    virtual void RateDistortion(const RdSummary& rd) = 0;
    virtual void End(const std::optional<CpuTicks>& runTicks) = 0;
};

// The reporter of `format` writing to `sink`. A saved text report (`textDetails`) ends with
// the aligned table and the context, so that it can be read on its own later.
std::unique_ptr<Reporter> MakeReporter(ReportFormat format, ReportSink& sink,
                                       bool textDetails = false);

}  // namespace tallox

#include "engine/reporters.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "engine/report.h"
#include "platform/system_info.h"

namespace tallox {
namespace {

std::string WithoutCr(std::string_view text, bool crlf) {
    std::string kept(text);
    if (!crlf) {
        std::erase(kept, '\r');  // the report's "\r" stands only before "\n"
    }
    return kept;
}

// The report as the dialog shows it: a header once the file is found measurable, each row's
// line; in a corpus, each file's path before its rows, a failed row's error on its line, and the
// summary. Saved as a file, it goes on with the aligned table and the context.
class TextReporter final : public Reporter {
public:
    TextReporter(ReportSink& sink, bool details) : sink_(sink), details_(details) {}

    void Begin(const ReportStart& start) override {
        start_ = start;
        if (start.corpus) {
            sink_.Write(kReportHeader);
        }
    }
    void FileStarted(const std::string& path) override {
        if (!start_.corpus) {
            sink_.Write(kReportHeader);
            return;
        }
        std::string line = "\r\n";
        line += path;
        line += "\r\n";
        sink_.Write(line);
    }
    void Record(const Row& row) override {
        sink_.Write(row.error.empty() ? row.text : row.label + "error: " + row.error + "\r\n");
        if (details_) {
            table_ += TableRecord(row);
        }
    }
    void Summary(const std::vector<CodecSummary>& summaries) override {
        sink_.Write(SummaryText(summaries));
    }
    void RateDistortion(const RdSummary& rd) override { sink_.Write(RateDistortionText(rd)); }
    void End(const std::optional<CpuTicks>& runTicks) override {
        if (details_) {
            start_.context.runTicks = runTicks;
            std::string text = "\n";
            text += TableHeader();
            text += table_;
            text += "\n";
            text += ContextText(start_.context);
            sink_.Write(text);
        }
    }

private:
    ReportSink& sink_;
    bool details_;
    ReportStart start_;
    std::string table_;
};

// CSV: a header line, a line per record, and the summaries as a second table after an empty
// line.
class CsvReporter final : public Reporter {
public:
    explicit CsvReporter(ReportSink& sink) : sink_(sink) {}

    void Begin(const ReportStart& start) override {
        corpus_ = start.corpus;
        sink_.Write(CsvHeader(corpus_));
    }
    void FileStarted(const std::string&) override {}
    void Record(const Row& row) override { sink_.Write(CsvRecord(row, corpus_)); }
    void Summary(const std::vector<CodecSummary>& summaries) override {
        sink_.Write(CsvSummary(summaries));
    }
    void RateDistortion(const RdSummary& rd) override { sink_.Write(RateDistortionCsv(rd)); }
    void End(const std::optional<CpuTicks>&) override {}

private:
    ReportSink& sink_;
    bool corpus_ = false;
};

// Markdown: the context as a list, a table row per record, and a section of summaries.
class MarkdownReporter final : public Reporter {
public:
    explicit MarkdownReporter(ReportSink& sink) : sink_(sink) {}

    void Begin(const ReportStart& start) override {
        corpus_ = start.corpus;
        sink_.Write(MarkdownHeader(start.context, corpus_));
    }
    void FileStarted(const std::string&) override {}
    void Record(const Row& row) override { sink_.Write(MarkdownRecord(row, corpus_)); }
    void Summary(const std::vector<CodecSummary>& summaries) override {
        sink_.Write(MarkdownSummary(summaries));
    }
    void RateDistortion(const RdSummary& rd) override { sink_.Write(RateDistortionMarkdown(rd)); }
    void End(const std::optional<CpuTicks>& runTicks) override {
        sink_.Write("\n- Steal during the run: " + StealText(runTicks) + "\n");
    }

private:
    ReportSink& sink_;
    bool corpus_ = false;
};

// The aligned table for terminals; in a corpus each file's path above its records.
class TableReporter final : public Reporter {
public:
    explicit TableReporter(ReportSink& sink) : sink_(sink) {}

    void Begin(const ReportStart& start) override {
        corpus_ = start.corpus;
        sink_.Write(TableHeader());
    }
    void FileStarted(const std::string& path) override {
        if (corpus_) {
            sink_.Write(path + "\n");
        }
    }
    void Record(const Row& row) override { sink_.Write(TableRecord(row)); }
    void Summary(const std::vector<CodecSummary>& summaries) override {
        sink_.Write(TableSummary(summaries));
    }
    void RateDistortion(const RdSummary& rd) override { sink_.Write(RateDistortionTable(rd)); }
    void End(const std::optional<CpuTicks>&) override {}

private:
    ReportSink& sink_;
    bool corpus_ = false;
};

// One JSON document, written whole at the end.
class JsonReporter final : public Reporter {
public:
    explicit JsonReporter(ReportSink& sink) : sink_(sink) {}

    void Begin(const ReportStart& start) override { start_ = start; }
    void FileStarted(const std::string&) override {}
    void Record(const Row& row) override { rows_.push_back(row); }
    void Summary(const std::vector<CodecSummary>& summaries) override { summaries_ = summaries; }
    void RateDistortion(const RdSummary& rd) override { rd_ = rd; }
    void End(const std::optional<CpuTicks>& runTicks) override {
        start_.context.runTicks = runTicks;
        sink_.Write((start_.corpus
                         ? CorpusJsonDocument(start_.context, start_.files, rows_, summaries_, &rd_)
                         : JsonDocument(start_.context, rows_, &rd_)) +
                    "\n");
    }

private:
    ReportSink& sink_;
    ReportStart start_;
    std::vector<Row> rows_;
    std::vector<CodecSummary> summaries_;
    RdSummary rd_;
};

// A line per object as it comes: the context, each record, each summary. A corpus's records
// carry their file's length and SHA-256, taken as the file starts.
class JsonLinesReporter final : public Reporter {
public:
    explicit JsonLinesReporter(ReportSink& sink) : sink_(sink) {}

    void Begin(const ReportStart& start) override {
        corpus_ = start.corpus;
        sink_.Write(
            JsonLinesContext(start.context, start.settings, start.corpus ? &start.files : nullptr));
    }
    void FileStarted(const std::string& path) override {
        struct stat status {};
        file_.bytes = stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
        file_.sha256 = FileSha256(path);
    }
    void Record(const Row& row) override {
        sink_.Write(JsonLinesRecord(row, corpus_ ? &file_ : nullptr));
    }
    void Summary(const std::vector<CodecSummary>& summaries) override {
        for (const CodecSummary& summary : summaries) {
            sink_.Write(JsonLinesSummary(summary));
        }
    }
    void RateDistortion(const RdSummary& rd) override { sink_.Write(JsonLinesRateDistortion(rd)); }
    void End(const std::optional<CpuTicks>& runTicks) override {
        sink_.Write(JsonLinesEnd(runTicks));
    }

private:
    ReportSink& sink_;
    bool corpus_ = false;
    FileIdentity file_;
};

}  // namespace

void StringSink::Write(std::string_view text) { text_ += WithoutCr(text, crlf_); }

void FileSink::Write(std::string_view text) {
    const std::string kept = WithoutCr(text, crlf_);
    if (error_ == 0 && (std::fwrite(kept.data(), 1, kept.size(), stream_) != kept.size() ||
                        std::fflush(stream_) != 0)) {
        error_ = errno != 0 ? errno : EIO;
    }
}

std::optional<ReportFormat> ReportFormatNamed(std::string_view name) {
    static constexpr std::pair<std::string_view, ReportFormat> kNames[] = {
        {"text", ReportFormat::Text},         {"csv", ReportFormat::Csv},
        {"json", ReportFormat::Json},         {"jsonl", ReportFormat::JsonLines},
        {"markdown", ReportFormat::Markdown}, {"table", ReportFormat::Table}};
    for (const auto& [known, format] : kNames) {
        if (known == name) {
            return format;
        }
    }
    return std::nullopt;
}

std::optional<ReportFormat> ReportFormatOfPath(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) {
        return std::nullopt;
    }
    std::string extension(path.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "txt") {
        return ReportFormat::Text;
    }
    if (extension == "md") {
        return ReportFormat::Markdown;
    }
    const std::optional<ReportFormat> format = ReportFormatNamed(extension);
    return format == ReportFormat::Text || format == ReportFormat::Markdown ||
                   format == ReportFormat::Table
               ? std::nullopt
               : format;
}

std::unique_ptr<Reporter> MakeReporter(ReportFormat format, ReportSink& sink, bool textDetails) {
    switch (format) {
        case ReportFormat::Text:
            return std::make_unique<TextReporter>(sink, textDetails);
        case ReportFormat::Csv:
            return std::make_unique<CsvReporter>(sink);
        case ReportFormat::Json:
            return std::make_unique<JsonReporter>(sink);
        case ReportFormat::JsonLines:
            return std::make_unique<JsonLinesReporter>(sink);
        case ReportFormat::Markdown:
            return std::make_unique<MarkdownReporter>(sink);
        case ReportFormat::Table:
            break;
    }
    return std::make_unique<TableReporter>(sink);
}

}  // namespace tallox

// A run's rows as records for other tools and people: CSV, JSON, Markdown and an aligned table.
// The command line prints them; the dialog saves them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/rd_summary.h"
#include "engine/run_context.h"
#include "engine/run_host.h"

namespace tallox {

// Input MB/s over the whole loop: the input bytes of every call over the row's elapsed time.
double MegabytesPerSecond(const Row& row);

// A run over many files (`corpus`) adds the file before a record's fields and the error after
// them; one file's records are as they always were.

// One line per row after a header line; no context (CSV holds records alone).
std::string CsvHeader(bool corpus = false);
std::string CsvRecord(const Row& row, bool corpus = false);

// The context as a list, then a table header; then one table line per row.
std::string MarkdownHeader(const RunContext& context, bool corpus = false);
std::string MarkdownRecord(const Row& row, bool corpus = false);

// {"tallox": ..., "machine": ..., "build": ..., "timer": ..., "input": ..., "date": ...,
//  "file": ..., "results": [...]}. Non-finite numbers are null. A path that is not valid
// UTF-8 shows its bad bytes as U+FFFD, and is also given exactly as "file_bytes_hex".
// "rate_distortion" follows the results when `rd` is given and not empty.
std::string JsonDocument(const RunContext& context, const std::vector<Row>& rows,
                         const RdSummary* rd = nullptr);

// An aligned table for terminals, 80 columns wide: ratio, encode MB/s at the median and at
// the fastest call, decode MB/s, spread (MAD over median), verified mark, memory. A failed
// row shows its error instead.
std::string TableHeader();
std::string TableRecord(const Row& row);

// One codec over many files. The totals are over the files it measured, the geometric means
// over those with a finite, positive figure; NaN when there are none.
struct CodecSummary {
    std::string codec;
    std::string label;  // the report's label, tabs included
    std::string params;
    std::optional<JpegOptions> jpeg;  // the settings of a JPEG row's files
    int32_t files = 0;                // measured
    int32_t failed = 0;               // an error record each
    uint64_t inputBytes = 0;
    uint64_t outputBytes = 0;
    double medianSeconds = 0.0;  // the sum of the files' median call times
    double geomeanRatio = 0.0;
    double geomeanMbps = 0.0;  // of the files' input MB/s at the median call
    // The pixels of the files that were images, and the codec's output over them: bits per
    // pixel of the totals.
    double pixels = 0.0;
    uint64_t imageOutputBytes = 0;
};

// Per codec and parameters (per row label) in the order of its first row; the memcpy
// yardstick is no codec here.
std::vector<CodecSummary> SummarizeCodecs(const std::vector<Row>& rows);

// The summaries as rows for a chart: each codec's label and JPEG settings with the ratio and
// MB/s of its totals, after the memcpy baseline's MB/s over its files when it ran.
std::vector<Row> SummaryRows(const std::vector<Row>& rows);

// The summary in each format: a block headed "Summary" in the report's tab layout; a second
// CSV table after an empty line; a Markdown section; the aligned table's section.
std::string SummaryText(const std::vector<CodecSummary>& summaries);
std::string CsvSummary(const std::vector<CodecSummary>& summaries);
std::string MarkdownSummary(const std::vector<CodecSummary>& summaries);
std::string TableSummary(const std::vector<CodecSummary>& summaries);

// The JSON document of a run over `files`: the context without an input, "files", the
// records with their file, "summary", and "rate_distortion" when `rd` is given and not empty.
std::string CorpusJsonDocument(const RunContext& context, const std::vector<std::string>& files,
                               const std::vector<Row>& rows,
                               const std::vector<CodecSummary>& summaries,
                               const RdSummary* rd = nullptr);

// The rate-distortion summary in each format, for one that is not empty. Text and the aligned
// table: a block headed "Rate-distortion against REFERENCE" with a table per file of BD-rates
// (a column per metric) and of bpp at each target (a column per target), each cell's reason
// for having no figure below its table, the means over the files ("mean files/without"), and
// the spreads. CSV: a table each for the BD-rates, their means, the bpp at the targets, their
// means and the spreads, each after an empty line. Markdown: a section with the same tables.
std::string RateDistortionText(const RdSummary& rd);
std::string RateDistortionTable(const RdSummary& rd);
std::string RateDistortionCsv(const RdSummary& rd);
std::string RateDistortionMarkdown(const RdSummary& rd);

// The context as lines of text, for `--version --verbose` and saved text reports.
std::string ContextText(const RunContext& context);

// The version of the JSON Lines layout; readers refuse a file of a later one.
inline constexpr int kJsonLinesSchema = 1;

// A file of a corpus as JSON Lines records name it, so that a resumed run knows it again.
struct FileIdentity {
    uint64_t bytes = 0;
    std::string sha256;
};

// JSON Lines, one object per line, each with its "type": the context ("context", "schema",
// the context of the JSON document, `settings`, a JSON object's text, and a corpus's `files`);
// a record, as the JSON document has it, with `file`'s length and SHA-256 after its path in a
// corpus; a codec's summary.
std::string JsonLinesContext(const RunContext& context, const std::string& settings,
                             const std::vector<std::string>* files);
std::string JsonLinesRecord(const Row& row, const FileIdentity* file);
std::string JsonLinesSummary(const CodecSummary& summary);
// The rate-distortion summary as one line of type "rate_distortion", with the fields of the JSON
// documents' "rate_distortion" object.
std::string JsonLinesRateDistortion(const RdSummary& rd);
// The last line, once the run has ended: {"type": "end"} with the steal over the run
// (`steal_seconds`, `steal_share`; null where the system does not count it).
std::string JsonLinesEnd(const std::optional<CpuTicks>& runTicks);

// The steal over a run, for text and Markdown: "0.12 s, 0.6 % of CPU time"; "-" when unknown.
std::string StealText(const std::optional<CpuTicks>& runTicks);

}  // namespace tallox

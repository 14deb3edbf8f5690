// A run's rows as records for other tools and people: CSV, JSON, Markdown and an aligned table.
// The command line prints them; the dialog saves them.
#pragma once
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "engine/run_host.h"

namespace tallox {

// Input MB/s over the whole loop: the input bytes of every call over the row's elapsed time.
double MegabytesPerSecond(const Row& row);

// One line per row after a header line; no context (CSV holds records alone).
std::string CsvHeader();
std::string CsvRecord(const Row& row);

// The context as a list, then a table header; then one table line per row.
std::string MarkdownHeader(const RunContext& context);
std::string MarkdownRecord(const Row& row);

// {"tallox": ..., "machine": ..., "build": ..., "timer": ..., "input": ..., "date": ...,
//  "file": ..., "results": [...]}. Non-finite numbers are null. A path that is not valid
// UTF-8 shows its bad bytes as U+FFFD, and is also given exactly as "file_bytes_hex".
std::string JsonDocument(const RunContext& context, const std::vector<Row>& rows);

// An aligned table for terminals, 80 columns wide: ratio, encode MB/s at the median and at
// the fastest call, decode MB/s, spread (MAD over median), verified mark, memory.
std::string TableHeader();
std::string TableRecord(const Row& row);

// The context as lines of text, for `--version --verbose` and saved text reports.
std::string ContextText(const RunContext& context);

}  // namespace tallox

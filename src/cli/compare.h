// `tallox-cli compare BASE NEW`: two result files side by side, per codec, parameters and file
// measured in both: how much slower or faster NEW is and whether that stands out from the noise,
// and how its output size and quality differ.
#pragma once
#include <optional>
#include <string>

namespace tallox::cli {

enum class CompareFormat { Text, Json, Csv, Markdown };

struct CompareOptions {
    std::string base;  // result files, JSON or JSON Lines
    std::string next;
    double alpha = 0.05;  // a change with a Mann-Whitney p at or above this is noise (marked ~)
    // Exit status 1 when some record is significantly slower by more than this many per cent.
    std::optional<double> failAbovePercent;
    CompareFormat format = CompareFormat::Text;
};

// Compares the records of `options.base` and `options.next` and writes the comparison to `out`,
// messages to `err` (each a "tallox-cli: compare: ..." line). Per record in both: the ratio of
// the median call times (new over base) with its 95 % interval and the Mann-Whitney p-value
// when both kept their call times ("samples_ms"), else the ratio of "median_ms" alone, never
// significant; the exact changes in output bytes, bpp, PSNR-Y and SSIM; a failed side's error.
// Records in one file only are listed as such; a line says when the runs come from different
// machines, builds or library versions. The text format is an aligned table; JSON, CSV and
// Markdown hold one row per record. Returns the exit status: 0; 1 for a slowdown past
// `failAbovePercent`; 2 when a file cannot be read or is no result file, nothing written to
// `out`.
int RunCompare(const CompareOptions& options, std::string& out, std::string& err);

}  // namespace tallox::cli

// The lossy codecs of a run compared at equal quality: Bjøntegaard delta rates against a
// reference codec, the bits per pixel each codec needs for a quality asked for, and how each
// quality figure spreads over a corpus. Computed from the rows alone, so that a run, a resumed
// run and a merge of shards all sum up alike; the reporters render it in every format.
//
// A codec's rate-distortion curve on a file is every row of that codec on that file: its
// settings (a sweep such as webp:50-90:10) are the points, bpp against one quality figure. Rows
// that differ in something besides the swept setting (two JPEG subsamplings, two AVIF speeds)
// fall on one curve too; when that breaks its order, the curve gets no figure and the reason.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/result.h"
#include "engine/run_host.h"

namespace tallox {

// The quality figures the summary compares, by their record fields: psnr_y, ssim, ssimulacra2,
// butteraugli_3norm. Butteraugli is a distance, lower better; its curves take the negated
// distance as their quality, so that quality rises with bpp as for the others.
struct RdMetric {
    const char* name;
    bool distance;  // lower is better: negated on the curves
    std::optional<double> Row::*field;
};
const std::vector<RdMetric>& RdMetrics();
// "psnr_y,ssim,ssimulacra2,butteraugli_3norm", for messages.
std::string RdMetricNames();

// A quality asked for: the metric's name and its value as the records give it (a butteraugli
// distance as a distance).
struct QualityTarget {
    std::string metric;
    double value = 0.0;
};

// "METRIC=V[,V...]", e.g. "ssimulacra2=70,80,90": the targets, or why the text is none.
Result<std::vector<QualityTarget>> ParseQualityTargets(std::string_view text);

struct RdOptions {
    std::string reference = "jpeg";  // the codec the BD-rates are against
    std::vector<QualityTarget> targets = {
        {"ssimulacra2", 70}, {"ssimulacra2", 80}, {"ssimulacra2", 90}};
};

// One file's figure for one codec and metric, or the reason there is none: a BD-rate in percent
// against the reference, or the bpp at a target quality.
struct RdFigure {
    std::string file;  // empty in a one-file run
    std::string codec;
    std::string metric;
    double target = 0.0;  // the quality asked for (bpp at a target); 0 for a BD-rate
    std::optional<double> value;
    std::string reason;  // empty when there is a value
};

// The mean of the files' figures for one codec and metric (and target), over the files that
// have one; NaN when none has. `without`: the files where the codec had points but no figure.
struct RdMean {
    std::string codec;
    std::string metric;
    double target = 0.0;
    double mean = 0.0;
    int32_t files = 0;
    int32_t without = 0;
};

// One metric over the files of one codec setting (a summary label): the files with a finite
// figure, their mean, sample standard deviation (n - 1) and 5th, 50th and 95th percentiles.
struct MetricSpread {
    std::string codec;
    std::string label;    // the report's label, tabs included
    std::string setting;  // the parameters, or JPEG's "q50 420"
    std::string metric;
    int32_t files = 0;
    double mean = 0.0;
    double sd = 0.0;
    double p5 = 0.0;
    double p50 = 0.0;
    double p95 = 0.0;
};

struct RdSummary {
    std::string reference;
    // Why the summary has no BD-rates although it compares lossy codecs: the reference is not
    // in the run. Empty otherwise.
    std::string note;
    std::vector<RdFigure> bdRates;  // per file, then codec, then metric
    std::vector<RdMean> bdRateMeans;
    std::vector<RdFigure> bppAt;  // per file, then codec, then target
    std::vector<RdMean> bppAtMeans;
    std::vector<MetricSpread> spreads;  // over two or more files only
    int32_t files = 0;                  // with lossy records
    // Nothing to say: no lossy codec has a curve (a sweep) on any file and the run has fewer
    // than two files with quality figures. The reporters then print nothing of it.
    bool empty = true;
};

// The rate-distortion summary of `rows` (records of any run, failed ones and the yardstick
// skipped). A lossy row is one with a bpp and at least one of the metrics; points whose figure
// is missing or not finite (PSNR of an identical image) are left off that metric's curve.
RdSummary SummarizeRateDistortion(const std::vector<Row>& rows, const RdOptions& options);

}  // namespace tallox

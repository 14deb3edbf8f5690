// The JPEG rows of a run: one per setting of the quality and subsampling sweep, and the
// quality figures of a lossy row's decoded image.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/benchmark_settings.h"
#include "engine/run_host.h"
#include "platform/imaging.h"

namespace tallox {

// One JPEG row of a run: its settings and its label.
struct JpegRow {
    JpegOptions options;
    std::string label;
};

// The JPEG rows the settings ask for: subsampling by subsampling, each quality in the order
// given. A single row keeps the codec's label. In a sweep each label names its quality, and its
// subsampling when several are swept ("JPEG q30\t", "JPEG q5\t\t", "JPEG q100 444\t"), and
// ends at the second tab stop, as the other labels do, so the columns line up.
std::vector<JpegRow> JpegRows(const BenchmarkSettings& settings);

// The JPEG codec's parameter values for `options`: quality, subsampling, progressive, optimise.
std::vector<double> JpegValues(const JpegOptions& options);

// Sets the row's PSNR over RGB and luma and its SSIM, comparing `decoded` (the lossy codec's
// output decoded, 24-bit RGB of the image's size) with `image`. Never timed.
void AddQualityMetrics(Row& row, const Image& image, const uint8_t* decoded);

}  // namespace tallox

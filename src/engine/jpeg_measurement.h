// The lossy rows: the loaded image saved as JPEG into one reused byte vector, once per
// iteration, at each setting of the sweep.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/benchmark_settings.h"
#include "engine/codec_table.h"
#include "engine/run_host.h"
#include "platform/imaging.h"

namespace tallox {

extern const char kSaveFailedMessage[];
extern const char kJpegMismatchMessage[];

// One JPEG row of a run: its settings and its label.
struct JpegRow {
    JpegOptions options;
    std::string label;
};

// The JPEG rows the settings ask for: subsampling by subsampling, each quality in the order
// given. A single row keeps the codec's label. In a sweep each label names its quality, and its
// subsampling when several are swept ("JPEG q30\t", "JPEG q5\t\t", "JPEG q100 444\t"), and
// ends at the second tab stop, as the other labels do, so the columns line up.
std::vector<JpegRow> JpegRows(const Codec& codec, const BenchmarkSettings& settings);

// Measures JPEG over `image` (null when the file did not decode) at every setting of
// JpegRows and appends a row for each to `report`. False when the run must end: the message
// has then been shown, and no further row written.
bool MeasureJpeg(const Codec& codec, const BenchmarkSettings& settings, const Image* image,
                 Imaging& imaging, RunHost& host, std::string& report);

// Sets the row's bits per pixel and, when `jpeg` decodes to the image's size, its PSNR and
// SSIM against `image`; false when it does not. Never timed.
bool AddQualityMetrics(Row& row, const Image& image, const std::vector<uint8_t>& jpeg,
                       Imaging& imaging);

}  // namespace tallox

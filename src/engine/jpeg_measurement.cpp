#include "engine/jpeg_measurement.h"

#include <cstdio>
#include <vector>

#include "engine/call_timing.h"
#include "engine/image_quality.h"
#include "engine/report.h"
#include "engine/stopwatch.h"
#include "platform/system_info.h"

namespace tallox {

const char kSaveFailedMessage[] = "Failed to save to stream!";
const char kJpegMismatchMessage[] = "The JPEG output does not decode to an image of its size!";

namespace {

bool MeasureJpegRow(const Codec& codec, const JpegRow& jpegRow, const BenchmarkSettings& settings,
                    const Image* image, Imaging& imaging, RunHost& host, std::string& report) {
    // A file that did not decode fails as a refused save would: the first save is where the
    // missing image shows.
    if (image == nullptr) {
        host.ShowMessage({kSaveFailedMessage, {}, 0});
        return false;
    }
    std::vector<uint8_t> jpeg;
    ProgressControl& progress = host.Progress();
    const auto save = [&] { return imaging.SaveJpeg(*image, jpegRow.options, jpeg); };
    // The warm-up first, so that the resident set's high-water mark, brought down to the present
    // right after it, measures the timed loop alone.
    for (int32_t i = 0; i < settings.warmup; ++i) {
        if (!save()) {
            host.ShowMessage({kSaveFailedMessage, {}, 0});
            return false;
        }
    }
    const std::optional<uint64_t> residentBefore = ResidentBytes();
    const bool peakReset = ResetPeakResident();
    std::vector<int64_t> ticks;
    // Timed: the saves, each also on its own, and the progress steps between them. Every save
    // replaces the vector's bytes and keeps its capacity, so only the first one allocates.
    const std::optional<double> elapsed = MeasureCalls(
        0, settings.iterations, settings.minimumSeconds, ticks, save, [&] { progress.StepIt(); });
    if (!elapsed) {
        host.ShowMessage({kSaveFailedMessage, {}, 0});
        return false;
    }
    const std::optional<uint64_t> peak = PeakResidentBytes();

    // Both counts are unsigned 32-bit, as the row's arithmetic takes them.
    const uint32_t inputBytes = image->width * image->height * 3u;
    Codec labelled = codec;
    labelled.label = jpegRow.label.c_str();
    Row row = MakeRow(labelled, ticks, *elapsed, inputBytes, static_cast<uint32_t>(jpeg.size()));
    if (peakReset && residentBefore && peak) {
        row.memoryBytes = *peak > *residentBefore ? *peak - *residentBefore : 0;
    }
    row.jpeg = jpegRow.options;
    // Decoded once more, outside all timing: the figures of its quality, and the check that the
    // saved JPEG is an image of the input's size.
    const bool decodes = AddQualityMetrics(row, *image, jpeg, imaging);
    if (settings.verify) {
        if (!decodes) {
            host.ShowMessage({kJpegMismatchMessage, {}, 0});
            return false;
        }
        row.verified = true;
        row.verifiedBytes = inputBytes;
    }
    FinishRow(codec, row, report, host);
    return true;
}

}  // namespace

std::vector<JpegRow> JpegRows(const Codec& codec, const BenchmarkSettings& settings) {
    const std::vector<int32_t> qualities = settings.jpegQualities.empty()
                                               ? std::vector<int32_t>{settings.jpegQuality}
                                               : settings.jpegQualities;
    const std::vector<Subsampling> subsamplings = settings.jpegSubsamplings.empty()
                                                      ? std::vector<Subsampling>{Subsampling::k420}
                                                      : settings.jpegSubsamplings;
    const bool sweep = qualities.size() * subsamplings.size() > 1;
    std::vector<JpegRow> rows;
    for (const Subsampling subsampling : subsamplings) {
        for (const int32_t quality : qualities) {
            JpegRow& row = rows.emplace_back();
            row.options = {quality, subsampling, settings.jpegProgressive, settings.jpegOptimize};
            if (!sweep) {
                row.label = codec.label;
                continue;
            }
            char name[32];
            std::snprintf(name, sizeof name, "JPEG q%d%s%s", static_cast<int>(quality),
                          subsamplings.size() > 1 ? " " : "",
                          subsamplings.size() > 1 ? SubsamplingName(subsampling) : "");
            // 7 to 13 characters: tabs up to the second tab stop, where the figures start.
            row.label = name;
            row.label += row.label.size() < 8 ? "\t\t" : "\t";
        }
    }
    return rows;
}

bool MeasureJpeg(const Codec& codec, const BenchmarkSettings& settings, const Image* image,
                 Imaging& imaging, RunHost& host, std::string& report) {
    for (const JpegRow& jpegRow : JpegRows(codec, settings)) {
        if (!MeasureJpegRow(codec, jpegRow, settings, image, imaging, host, report)) {
            return false;
        }
    }
    return true;
}

bool AddQualityMetrics(Row& row, const Image& image, const std::vector<uint8_t>& jpeg,
                       Imaging& imaging) {
    row.bpp =
        8.0 * static_cast<double>(jpeg.size()) / (static_cast<double>(image.width) * image.height);
    const std::optional<Image> decoded = imaging.DecodeJpeg(jpeg);
    if (!decoded || decoded->width != image.width || decoded->height != image.height) {
        return false;
    }
    row.psnrRgb = PsnrRgb(image, *decoded);
    row.psnrY = PsnrY(image, *decoded);
    row.ssim = SsimY(image, *decoded);
    return true;
}

}  // namespace tallox

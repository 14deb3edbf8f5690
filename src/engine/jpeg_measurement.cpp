#include "engine/jpeg_measurement.h"

#include <vector>

#include "engine/call_timing.h"
#include "engine/report.h"
#include "engine/stopwatch.h"
#include "platform/system_info.h"

namespace tallox {

const char kSaveFailedMessage[] = "Failed to save to stream!";

bool MeasureJpeg(const Codec& codec, const BenchmarkSettings& settings, const Image* image,
                 Imaging& imaging, RunHost& host, std::string& report) {
    // A file that did not decode fails as a refused save would: the first save is where the
    // missing image shows.
    if (image == nullptr) {
        host.ShowMessage({kSaveFailedMessage, {}, 0});
        return false;
    }
    std::vector<uint8_t> jpeg;
    ProgressControl& progress = host.Progress();
    const auto save = [&] { return imaging.SaveJpeg(*image, settings.jpegQuality, jpeg); };
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
    Row row = MakeRow(codec, ticks, *elapsed, inputBytes, static_cast<uint32_t>(jpeg.size()));
    if (peakReset && residentBefore && peak) {
        row.memoryBytes = *peak > *residentBefore ? *peak - *residentBefore : 0;
    }
    FinishRow(codec, row, report, host);
    return true;
}

}  // namespace tallox

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
    for (int32_t i = 0; i < settings.warmup; ++i) {
        if (!save()) {
            host.ShowMessage({kSaveFailedMessage, {}, 0});
            return false;
        }
    }
    std::vector<int64_t> ticks;
    ticks.reserve(static_cast<size_t>(settings.iterations));
    // The high-water mark of the resident set, brought down to the present before the loop.
    const std::optional<uint64_t> residentBefore = ResidentBytes();
    const bool peakReset = ResetPeakResident();

    Stopwatch stopwatch;
    stopwatch.Start(false);
    // Timed: the saves, each also on its own, and the progress steps between them. Every save
    // replaces the vector's bytes and keeps its capacity, so only the first one allocates.
    if (!TimeCalls(MakePlan(settings.iterations, settings.minimumSeconds), ticks, save,
                   [&] { progress.StepIt(); })) {
        host.ShowMessage({kSaveFailedMessage, {}, 0});
        return false;
    }
    stopwatch.Stop();
    const std::optional<uint64_t> peak = PeakResidentBytes();

    // Both counts are unsigned 32-bit, as the row's arithmetic takes them.
    const uint32_t inputBytes = image->width * image->height * 3u;
    Row row = MakeRow(codec, ticks, stopwatch.GetElapsedSeconds(), inputBytes,
                      static_cast<uint32_t>(jpeg.size()));
    if (peakReset && residentBefore && peak) {
        row.memoryBytes = *peak > *residentBefore ? *peak - *residentBefore : 0;
    }
    FinishRow(codec, row, report, host);
    return true;
}

}  // namespace tallox

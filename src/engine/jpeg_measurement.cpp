#include "engine/jpeg_measurement.h"

#include <vector>

#include "engine/report.h"
#include "engine/stopwatch.h"

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

    Stopwatch stopwatch;
    stopwatch.Start(false);
    // Timed: the saves and the progress steps. Every save replaces the vector's bytes and keeps
    // its capacity, so only the first one allocates.
    for (int32_t i = 0; i < settings.iterations; ++i) {
        if (!imaging.SaveJpeg(*image, settings.jpegQuality, jpeg)) {
            host.ShowMessage({kSaveFailedMessage, {}, 0});
            return false;
        }
        progress.StepIt();
    }
    stopwatch.Stop();

    // Both counts are unsigned 32-bit, as the row's arithmetic takes them.
    const uint32_t inputBytes = image->width * image->height * 3u;
    FinishRow(codec,
              MakeRow(codec, settings.iterations, stopwatch.GetElapsedSeconds(), inputBytes,
                      static_cast<uint32_t>(jpeg.size())),
              report, host);
    return true;
}

}  // namespace tallox

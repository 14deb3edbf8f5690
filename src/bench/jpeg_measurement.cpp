#include "bench/jpeg_measurement.h"

#include <memory>
#include <vector>

#include "bench/report.h"
#include "bench/stopwatch.h"

namespace tallox {
namespace {

const char kCreateStreamFailed[] = "Failed to create stream on global memory!";
const char kRewindFailed[] = "Failed to smove the file pointer to the beginning of the stream!";
const char kSaveFailed[] = "Failed to save to stream!";
const char kSizeFailed[] = "Failed to get the size of the stream!";

// The stream goes before the message is shown; the run then ends.
bool Fail(std::unique_ptr<ImageStream>& stream, RunHost& host, const char* message) {
    stream.reset();
    host.ShowMessage(message);
    return false;
}

}  // namespace

int FindEncoderClsid(Imaging& imaging, const std::string& mimeType, Clsid* clsid) {
    const std::vector<ImageCodecInfo> encoders = imaging.GetImageEncoders();
    for (size_t i = 0; i < encoders.size(); ++i) {
        if (encoders[i].mimeType == mimeType) {
            if (clsid != nullptr) {
                *clsid = encoders[i].clsid;
            }
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool MeasureJpeg(const BenchmarkSettings& settings, const Image* image, Imaging& imaging,
                 RunHost& host, std::string& report) {
    std::unique_ptr<ImageStream> stream = imaging.CreateStream();
    if (!stream) {
        host.ShowMessage(kCreateStreamFailed);
        return false;
    }
    // Left unset when there is no JPEG encoder: the first save then fails.
    Clsid encoder{};
    FindEncoderClsid(imaging, "image/jpeg", &encoder);
    const int32_t quality = settings.m_nJpegQuality;
    // A file that did not decode is saved as the empty image, which every save refuses.
    static const Image kNoImage;
    const Image& source = image != nullptr ? *image : kNoImage;
    ProgressControl& progress = host.Progress();

    CStopwatch stopwatch;
    stopwatch.Start(false);
    // Timed: the rewinds, the saves and the progress steps. The stream is rewound, never
    // emptied, so it keeps the largest extent that any save wrote.
    for (int32_t i = 0; i < settings.m_nIterations; ++i) {
        if (!stream->Seek(0, ImageStream::Origin::Begin, nullptr)) {
            return Fail(stream, host, kRewindFailed);
        }
        if (imaging.SaveImageToStream(source, *stream, encoder, quality) != kImagingOk) {
            return Fail(stream, host, kSaveFailed);
        }
        progress.StepIt();
    }
    stopwatch.Stop();

    uint64_t length = 0;
    if (!stream->Seek(0, ImageStream::Origin::End, &length)) {
        return Fail(stream, host, kSizeFailed);
    }
    // Both counts are unsigned 32-bit, as the row's arithmetic takes them.
    const uint32_t referenceBytes = source.width * source.height * 3u;
    FinishRow(report, host, "JPEG GDI+\t", "jpeg", settings.m_nIterations,
              stopwatch.GetElapsedSeconds(), referenceBytes, static_cast<uint32_t>(length), true);
    return true;  // the stream goes with this frame, after the row is pushed and repainted
}

}  // namespace tallox

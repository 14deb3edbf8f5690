#include "engine/run.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "codecs/working_block.h"
#include "engine/call_timing.h"
#include "engine/codec_table.h"
#include "engine/input_file.h"
#include "engine/jpeg_measurement.h"
#include "engine/report.h"
#include "engine/stopwatch.h"

namespace tallox {
namespace {

// Decodes the codec's last output, outside all timing, and compares it with the input; then,
// when asked, times the decoder as the encoder was timed. False when the output does not
// decode to its input: a fault of the codec.
bool CheckDecoding(const Codec& codec, const BenchmarkSettings& settings, WorkingBlock& block,
                   uint32_t count, Row& row) {
    const uint32_t len = block.Length();
    const uint32_t coded = len / codec.sampleBytes * codec.sampleBytes;
    const std::unique_ptr<uint8_t[]> decoded(new (std::nothrow) uint8_t[size_t{len} + 1]);
    if (!decoded) {
        return true;  // no memory to decode into: the row stays unverified
    }
    const auto decode = [&] { return codec.decode(block.Output(), count, decoded.get(), len); };
    const bool matches = decode() == coded && std::memcmp(decoded.get(), block.Input(), coded) == 0;
    if (settings.verify) {
        if (!matches) {
            return false;
        }
        row.verified = true;
        row.verifiedBytes = coded;
    }
    if (settings.measureDecoding && matches) {
        std::vector<int64_t> ticks;
        MeasureCalls(
            settings.warmup, settings.iterations, settings.minimumSeconds, ticks,
            [&] { return decode().has_value(); }, [] {});
        row.decodeCalls = Summarize(ticks, Stopwatch::Frequency());
        row.decodeMbpsMedian = coded / 1e3 / row.decodeCalls->medianMs;
    }
    return true;
}

// Measures one lossless codec over a fresh copy of the file and appends its row; false, with
// the message shown, when the run must end.
bool MeasureLossless(const Codec& codec, const BenchmarkSettings& settings, RunHost& host,
                     std::string& report) {
    WorkingBlock block;
    if (const std::optional<InputError> error =
            ReadInput(settings.filePath, codec.needsWorkTable, block)) {
        host.ShowMessage({error->message, settings.filePath, error->systemError});
        return false;
    }
    const uint8_t* input = block.Input();
    uint8_t* output = block.Output();
    int32_t* table = block.WorkTable();
    const uint32_t len = block.Length();
    ProgressControl& progress = host.Progress();
    uint32_t count = 0;
    std::vector<int64_t> ticks;
    // Timed: the encoder calls, each also on its own, and the progress steps between them.
    const std::optional<double> elapsed = MeasureCalls(
        settings.warmup, settings.iterations, settings.minimumSeconds, ticks,
        [&] {
            count = codec.encode(input, output, len, table);
            return true;
        },
        [&] { progress.StepIt(); });

    Row row = MakeRow(codec, ticks, *elapsed, len, count);
    row.memoryBytes = WorkingBlockSize(len) + (codec.needsWorkTable ? WorkTableSize(len) : 0);
    if ((settings.verify || settings.measureDecoding) &&
        !CheckDecoding(codec, settings, block, count, row)) {
        host.ShowMessage({MismatchMessage(codec), {}, 0});
        return false;
    }
    FinishRow(codec, row, report, host);
    return true;
}

// The yardstick: a memcpy of the same input into the output area, timed as the encoders are.
// Its row goes to the host alone: the report has no line for it, and the progress bar no steps.
bool MeasureBaseline(const BenchmarkSettings& settings, RunHost& host) {
    WorkingBlock block;
    if (const std::optional<InputError> error = ReadInput(settings.filePath, false, block)) {
        host.ShowMessage({error->message, settings.filePath, error->systemError});
        return false;
    }
    const uint32_t len = block.Length();
    std::vector<int64_t> ticks;
    const std::optional<double> elapsed = MeasureCalls(
        settings.warmup, settings.iterations, settings.minimumSeconds, ticks,
        [&] {
            std::memcpy(block.Output(), block.Input(), len);
            return true;
        },
        [] {});
    Row row = MakeRow(kBaseline, ticks, *elapsed, len, len);
    row.text.clear();
    row.memoryBytes = WorkingBlockSize(len);
    host.RowFinished(row);
    return true;
}

}  // namespace

const Codec kBaseline{"memcpy", "", nullptr, nullptr, false, false, nullptr, 1, "memcpy"};

std::string MismatchMessage(const Codec& codec) {
    return std::string("The ") + codec.displayName + " output does not decode to its input!";
}

void RunBenchmark(const BenchmarkSettings& settings, RunHost& host, Imaging& imaging,
                  std::span<const Codec> codecs) {
    if (settings.fileName.empty()) {
        return;
    }
    std::string report;
    host.Push(report);
    host.Repaint();

    // A file that cannot be measured at all ends the run before anything is loaded: whatever
    // the codecs, the message then names the real cause.
    if (const std::optional<InputError> error = CheckInput(settings.filePath)) {
        host.ShowMessage({error->message, settings.filePath, error->systemError});
        return;
    }

    // Loaded on every run, JPEG selected or not, and released at every end of the run. Whether
    // it decoded is the JPEG measurement's concern.
    const std::optional<Image> image = imaging.Load(settings.filePath);

    // Rows to measure: JPEG gives one per setting of its sweep.
    uint32_t selected = 0;
    for (const Codec& codec : codecs) {
        if (settings.*codec.selection) {
            selected += codec.encode == nullptr
                            ? static_cast<uint32_t>(JpegRows(codec, settings).size())
                            : 1;
        }
    }
    ProgressControl& progress = host.Progress();
    // The range is a 16-bit word: the product is cut to its low 16 bits.
    const uint32_t steps = static_cast<uint32_t>(settings.iterations) * selected;
    progress.SetRange(1, static_cast<uint16_t>(steps));
    progress.SetPos(1);
    progress.SetStep(1);

    report = kReportHeader;
    host.Push(report);
    host.Repaint();

    if (settings.baseline && !MeasureBaseline(settings, host)) {
        return;
    }
    for (const Codec& codec : codecs) {
        if (!(settings.*codec.selection)) {
            continue;
        }
        const bool goOn =
            codec.encode == nullptr
                ? MeasureJpeg(codec, settings, image ? &*image : nullptr, imaging, host, report)
                : MeasureLossless(codec, settings, host, report);
        if (!goOn) {
            return;  // the progress position is kept; the image is released
        }
    }
    progress.SetPos(0);
}

}  // namespace tallox

#include "engine/run.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/butteraugli.h"
#include "engine/call_timing.h"
#include "engine/input_file.h"
#include "engine/jpeg_measurement.h"
#include "engine/report.h"
#include "engine/ssimulacra2.h"
#include "engine/stopwatch.h"
#include "platform/affinity.h"
#include "platform/cpu_time.h"
#include "platform/image_input.h"
#include "platform/machine_state.h"
#include "platform/system_info.h"

namespace tallox {
namespace {

// A lossless codec's output that does not give back its input, or a lossy one's that is no
// image of the input's size: a fault of the codec, which ends the run.
std::string MismatchMessage(const CodecInfo& info) {
    return "The " + info.displayName +
           (info.lossy ? " output does not decode to an image of its size!"
                       : " output does not decode to its input!");
}

// Samples of 1, 3 or 4 channels as 24-bit RGB: grey repeated, alpha dropped, as the quality
// figures compare them.
std::vector<uint8_t> RgbOf(std::span<const uint8_t> samples, uint32_t channels) {
    if (channels == 3 || channels == 0) {
        return {samples.begin(), samples.end()};
    }
    std::vector<uint8_t> rgb;
    rgb.reserve(samples.size() / channels * 3);
    for (size_t i = 0; i + channels <= samples.size(); i += channels) {
        for (uint32_t c = 0; c < 3; ++c) {
            rgb.push_back(samples[i + (channels == 1 ? 0 : c)]);
        }
    }
    return rgb;
}

// A lossy row's quality against the image, the metrics the settings ask for, never timed.
void AddLossyFigures(const BenchmarkSettings& settings, const Image& image,
                     const std::vector<uint8_t>& decoded, Row& row) {
    if (decoded.size() != image.rgb.size()) {
        return;
    }
    if (settings.psnr || settings.ssim) {
        AddQualityMetrics(row, image, decoded.data());
        if (!settings.psnr) {
            row.psnrRgb.reset();
            row.psnrY.reset();
        }
        if (!settings.ssim) {
            row.ssim.reset();
        }
    }
    if (settings.ssimulacra2) {
        row.ssimulacra2 = Ssimulacra2(image.rgb, decoded, image.width, image.height).value;
    }
    if (settings.butteraugli) {
        if (const auto distances =
                Butteraugli(image.rgb, decoded, image.width, image.height).value) {
            row.butteraugliMax = distances->max;
            row.butteraugli3Norm = distances->pnorm3;
        }
    }
}

// Decodes the codec's last output, outside all timing, and compares it with the input (a lossy
// codec's with the input's size, and its quality figures); then, when asked, times the decoder
// as the encoder was timed. False when the output does not decode as it should: a fault of the
// codec.
bool CheckDecoding(const CodecInfo& info, CodecInstance& codec, const BenchmarkSettings& settings,
                   std::span<const uint8_t> input, std::span<const uint8_t> encoded,
                   const Image* image, uint32_t channels, Row& row) {
    const uint64_t len = input.size();
    const uint64_t coded = codec.CodedBytes(len);
    const std::unique_ptr<uint8_t[]> decoded(new (std::nothrow) uint8_t[len + 1]);
    if (!decoded) {
        return true;  // no memory to decode into: the row stays unverified
    }
    const std::span<uint8_t> room(decoded.get(), len + 1);
    const Result<size_t> count = codec.Decode(encoded, room);
    const bool matches =
        count && (info.lossy ? *count == len
                             : *count == coded && std::memcmp(decoded.get(), input.data(),
                                                              static_cast<size_t>(coded)) == 0);
    if (info.lossy && matches && image != nullptr) {
        AddLossyFigures(settings, *image, RgbOf({decoded.get(), len}, channels), row);
    }
    if (settings.verify) {
        if (!matches) {
            return false;
        }
        row.verified = true;
        row.verifiedBytes = static_cast<uint32_t>(info.lossy ? len : coded);
    }
    if (settings.measureDecoding && matches && info.timedDecoding) {
        std::vector<int64_t> ticks;
        MeasureCalls(
            settings.warmup, settings.iterations, settings.minimumSeconds, ticks,
            [&] { return codec.Decode(encoded, room).ok(); }, [] {}, settings.maximumSeconds);
        row.decodeCalls = Summarize(ticks, Stopwatch::Frequency());
        row.decodeMbpsMedian = static_cast<double>(coded) / 1e3 / row.decodeCalls->medianMs;
    }
    return true;
}

// The 24-bit image of `pixels`: grey repeated into each colour, alpha dropped, as the imaging
// library converts its own images.
Image RgbImageOf(const PixelImage& pixels) {
    Image image{pixels.width, pixels.height, {}};
    const size_t count = size_t{pixels.width} * pixels.height;
    image.rgb.resize(count * 3);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* in = pixels.samples.data() + i * pixels.channels;
        uint8_t* out = image.rgb.data() + i * 3;
        out[0] = in[0];
        out[1] = in[pixels.channels >= 3 ? 1 : 0];
        out[2] = in[pixels.channels >= 3 ? 2 : 0];
    }
    return image;
}

// Measures one row: the codec made and prepared, its input read afresh (a pixel codec's taken
// from the loaded image), the warm-up, the timed calls with the progress steps, the decoding,
// and the row appended. False, with the message shown, when the run must end.
bool MeasureRow(const PlannedRow& planned, const BenchmarkSettings& settings,
                const RunInput& source, Imaging& imaging, RunHost& host, std::string& report) {
    const CodecInfo& info = planned.entry->info;
    const Image* image = source.image ? &*source.image : nullptr;
    const PixelImage* pixels = source.pixels ? &*source.pixels : nullptr;
    const auto fail = [&](const Error& error) {
        host.ShowMessage({error.message, {}, error.systemError});
        return false;
    };
    // A row of several threads on a pinned run spreads over as many CPUs, the pinned one first,
    // before the codec starts its threads, which inherit the set; the one CPU again after.
    CpuPlan placement;
    if (planned.threads > 1 && settings.pinnedCpu) {
        placement = PlanCpus(planned.threads, *settings.pinnedCpu, settings.allowedCpus);
        SetCallingThreadCpus(placement.cpus);
    }
    struct Repin {
        std::optional<int> cpu;
        bool spread;
        ~Repin() {
            if (cpu && spread) {
                PinCallingThread(*cpu);
            }
        }
    } repin{settings.pinnedCpu, !placement.cpus.empty()};
    Result<std::unique_ptr<CodecInstance>> made =
        planned.entry->create(planned.values, {&imaging, planned.threads});
    if (!made) {
        return fail(made.error());
    }
    CodecInstance& codec = **made;

    WorkingBlock block;
    InputShape shape;
    std::span<const uint8_t> input;
    // The byte codecs take a bitmap's file bytes, read afresh for each, and any other image's
    // decoded pixels; the report's JPEG row its 24-bit RGB, the other pixel codecs the image's
    // own samples.
    const bool pixelBasis = source.pixelBasis;
    if (info.input == CodecInput::Bytes && !pixelBasis) {
        if (const Status read = ReadInput(
                settings.filePath, [&](uint64_t length) { return codec.Layout(length); }, block);
            !read) {
            host.ShowMessage({read.error().message, settings.filePath, read.error().systemError});
            return false;
        }
        input = {block.Input(), block.Length()};
    } else if (info.input == CodecInput::Bytes) {
        if (const Status read =
                FillBlock(pixels->samples, codec.Layout(pixels->samples.size()), block);
            !read) {
            return fail(read.error());
        }
        input = {block.Input(), block.Length()};
    } else if (image != nullptr) {
        // The image is the run's: the block holds the output area alone.
        const bool own = pixels != nullptr && !info.reportRow;
        input = own ? std::span<const uint8_t>(pixels->samples) : image->rgb;
        if (const Status read = FillBlock({}, codec.Layout(input.size()), block); !read) {
            return fail(read.error());
        }
        shape.image = image;
        shape.width = image->width;
        shape.height = image->height;
        shape.channels = own ? pixels->channels : 3;
    }
    shape.bytes = input.size();
    if (Status prepared = codec.Prepare(shape, block); !prepared) {
        return fail(prepared.error());
    }

    const std::span<uint8_t> output(block.Output(), block.OutputBytes());
    std::span<const uint8_t> encoded;
    std::optional<Error> failure;
    const auto encode = [&] {
        Result<std::span<const uint8_t>> result = codec.Encode(input, output);
        if (!result) {
            failure = result.error();
            return false;
        }
        encoded = *result;
        return true;
    };
    // The warm-up first, so that the heap's and the resident set's high-water marks, brought
    // down to the present right after it, measure the timed calls alone.
    for (int32_t i = 0; i < settings.warmup; ++i) {
        if (!encode()) {
            return fail(*failure);
        }
    }
    const bool hooked = codec.HeapPeak().has_value();
    codec.ResetHeapPeak();
    // Tallox's own encoders and the yardstick use their block alone; the others, unhooked, are
    // measured by the resident set's growth over the timed calls.
    const bool blockOnly = info.family == "tallox" || info.yardstick;
    const uint64_t residentBefore = hooked || blockOnly ? 0 : ResidentBytes().value_or(0);
    const bool peakReset = residentBefore > 0 && ResetPeakResident();
    ProgressControl& progress = host.Progress();
    std::vector<int64_t> ticks;
    const CpuTimes cpuBefore = ReadCpuTimes();
    // Timed: the encoder calls, each also on its own, and the progress steps between them.
    const std::optional<double> elapsed =
        info.yardstick ? MeasureCalls(
                             0, settings.iterations, settings.minimumSeconds, ticks, encode, [] {},
                             settings.maximumSeconds)
                       : MeasureCalls(
                             0, settings.iterations, settings.minimumSeconds, ticks, encode,
                             [&] {
                                 progress.StepIt();
                                 return !progress.StopRequested();
                             },
                             settings.maximumSeconds);
    const CpuTimes cpu = ReadCpuTimes() - cpuBefore;
    if (!elapsed) {
        return fail(*failure);
    }
    const uint64_t peak = peakReset ? PeakResidentBytes().value_or(0) : 0;

    Row row = MakeRow(info.name, planned.label, ticks, *elapsed,
                      static_cast<uint32_t>(input.size()), static_cast<uint32_t>(encoded.size()));
    row.params = ParamsText(*planned.entry, planned.values);
    row.library = info.library;
    row.yardstick = info.yardstick;
    row.threads = planned.threads;
    if (settings.samples) {
        const double msPerTick = 1e3 / static_cast<double>(Stopwatch::Frequency());
        for (const int64_t tick : ticks) {
            row.samplesMs.push_back(static_cast<double>(tick) * msPerTick);
        }
    }
    row.basis = info.input == CodecInput::Pixels || pixelBasis ? "pixels" : "file";
    row.threadsShared = placement.shared;
    row.cpuUserSeconds = cpu.processUserSeconds;
    row.cpuSystemSeconds = cpu.processSystemSeconds;
    row.noisy = !info.yardstick && IsNoisyRow(row.calls.medianMs, row.calls.madMs);
    row.jpeg = planned.jpeg;
    if (hooked) {
        row.memoryBytes = block.Size() + *codec.HeapPeak();
        row.memorySource = "block+heap";
    } else if (blockOnly) {
        row.memoryBytes = block.Size();
        row.memorySource = "block";
    } else if (peak > 0) {
        row.memoryBytes = block.Size() + (peak > residentBefore ? peak - residentBefore : 0);
        row.memorySource = "block+resident";
    }
    // Bits per pixel and megapixels per second wherever the input is an image, whatever the
    // codec took of it.
    if (image != nullptr && image->width > 0 && image->height > 0 && !info.yardstick) {
        const double count = static_cast<double>(image->width) * image->height;
        row.bpp = 8.0 * static_cast<double>(encoded.size()) / count;
        row.mpps = count / 1e3 / row.calls.medianMs;
    }
    // A lossy row is always decoded once, for its quality figures.
    if ((info.lossy || settings.verify || settings.measureDecoding) && !info.yardstick &&
        !CheckDecoding(info, codec, settings, input, encoded, image, shape.channels, row)) {
        return fail({MismatchMessage(info)});
    }
    if (info.yardstick) {
        row.text.clear();  // the report has no line for it
        host.RowFinished(row);
        return true;
    }
    FinishRow(info.repaint, row, report, host);
    return true;
}

}  // namespace

std::vector<CodecSetting> OrderedSettings(const BenchmarkSettings& settings,
                                          const CodecRegistry& registry) {
    std::vector<CodecSetting> ordered;
    const auto kind = [&](const CodecSetting& setting) {
        const CodecEntry* entry = registry.Find(setting.name);
        return entry == nullptr ? -1 : entry->info.yardstick ? 0 : entry->info.reportRow ? 1 : 2;
    };
    for (const CodecEntry& entry : registry.Entries()) {
        if (entry.info.yardstick && settings.baseline && !settings.Selected(entry.info.name)) {
            ordered.push_back({entry.info.name, {}});
            break;
        }
    }
    for (const CodecSetting& setting : settings.codecs) {
        if (kind(setting) == 0) {
            ordered.push_back(setting);
        }
    }
    // The report's rows have no parameters of their own (JPEG's come from its sweep): one each.
    for (const CodecEntry& entry : registry.Entries()) {
        if (entry.info.reportRow && settings.Selected(entry.info.name)) {
            ordered.push_back({entry.info.name, {}});
        }
    }
    for (const CodecSetting& setting : settings.codecs) {
        if (kind(setting) == 2) {
            ordered.push_back(setting);
        }
    }
    return ordered;
}

std::vector<PlannedRow> PlanRows(const BenchmarkSettings& settings, const CodecRegistry& registry) {
    std::vector<PlannedRow> rows;
    for (const CodecSetting& setting : OrderedSettings(settings, registry)) {
        const CodecEntry& entry = *registry.Find(setting.name);
        if (entry.info.name == "jpeg") {
            for (const JpegRow& jpeg : JpegRows(settings)) {
                rows.push_back({&entry, JpegValues(jpeg.options), jpeg.label, jpeg.options});
            }
            continue;
        }
        const std::vector<double> values = ValuesOf(entry, setting);
        const std::string label = LabelOf(entry, values);
        if (!entry.info.threads || settings.threads.empty()) {
            rows.push_back({&entry, values, label, std::nullopt, 1});
            continue;
        }
        // Counts above the codec's own limit are measured at the limit, once.
        std::vector<int32_t> counts;
        for (const int32_t asked : settings.threads) {
            const int32_t threads =
                entry.info.maxThreads > 0 ? std::min(asked, entry.info.maxThreads) : asked;
            if (std::find(counts.begin(), counts.end(), threads) == counts.end()) {
                counts.push_back(threads);
            }
        }
        for (const int32_t threads : counts) {
            // "zstd -19 x4": the count after the name, the tabs kept to the second stop.
            const std::string name = label.substr(0, label.find('\t'));
            rows.push_back({&entry, values,
                            threads == 1 && counts.size() == 1
                                ? label
                                : TabbedLabel(name + " \u00d7" + std::to_string(threads)),
                            std::nullopt, threads});
        }
    }
    return rows;
}

std::string PinMeasuringThread(BenchmarkSettings& settings, std::optional<int> cpu) {
    settings.allowedCpus = AllowedCpus();
    settings.pinnedCpu.reset();
    if (!cpu) {
        cpu = CurrentCpu();
    }
    const PinResult pinned = cpu ? PinCallingThread(*cpu) : PinResult{false, "no CPU known"};
    if (!pinned.pinned) {
        return "refused: " + pinned.reason;
    }
    settings.pinnedCpu = cpu;
    return "CPU " + std::to_string(*cpu);
}

RunInput ReadRunInput(const BenchmarkSettings& settings, Imaging& imaging) {
    RunInput input;
    // A file that cannot be measured at all ends the run before anything is loaded: whatever
    // the codecs, the message then names the real cause.
    if (const Status check = CheckInput(settings.filePath); !check) {
        input.refusal =
            RunMessage{check.error().message, settings.filePath, check.error().systemError};
        return input;
    }
    // Read once here, decoded and dropped; each byte codec still reads the file afresh into its
    // own block, and one that cannot be read whole fails there, with its message.
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(settings.filePath, bytes)) {
        return input;
    }
    // An image file is decoded by content into its own samples; one that is cut short or would
    // not fit in memory is refused here rather than measured as if whole.
    ImageResult decoded = DecodeImageBytes(bytes.data(), bytes.size());
    if (auto* error = std::get_if<ImageError>(&decoded)) {
        if (error->message.starts_with("truncated") || error->message.starts_with("too large")) {
            input.refusal = RunMessage{error->message, settings.filePath, 0};
            return input;
        }
    } else {
        input.pixels = std::move(std::get<PixelImage>(decoded));
    }
    // The report's 24-bit image, loaded on every run, JPEG selected or not; whether it decoded
    // is the pixel codecs' concern. An RGB image's samples are that image already, converted by
    // the same library alike, and spare decoding the file a second time.
    if (input.pixels && input.pixels->channels == 3) {
        input.image = Image{input.pixels->width, input.pixels->height, input.pixels->samples};
    } else {
        input.image = imaging.DecodeImage(bytes);
        if (!input.image && input.pixels) {
            input.image = RgbImageOf(*input.pixels);  // PAM, which the library does not read
        } else if (input.pixels && (!input.image || input.pixels->width != input.image->width ||
                                    input.pixels->height != input.image->height)) {
            input.pixels.reset();
        }
    }
    // A bitmap's bytes are the byte codecs' input unless the pixels are asked for.
    input.pixelBasis =
        input.pixels &&
        (settings.basis == BenchmarkSettings::Basis::Pixels ||
         (settings.basis == BenchmarkSettings::Basis::Auto && input.pixels->format != "bmp"));
    return input;
}

void RunBenchmark(const BenchmarkSettings& settings, RunHost& host, Imaging& imaging,
                  const CodecRegistry& registry, const RunInput* input) {
    if (settings.fileName.empty()) {
        return;
    }
    std::string report;
    host.Push(report);
    host.Repaint();

    // Released at every end of the run.
    std::optional<RunInput> read;
    if (input == nullptr) {
        input = &read.emplace(ReadRunInput(settings, imaging));
    }
    if (input->refusal) {
        host.ShowMessage(*input->refusal);
        return;
    }

    const std::vector<PlannedRow> rows = PlanRows(settings, registry);
    const auto selected =
        static_cast<uint32_t>(std::count_if(rows.begin(), rows.end(), [](const PlannedRow& row) {
            return !row.entry->info.yardstick;
        }));
    ProgressControl& progress = host.Progress();
    // The range is a 16-bit word: the product is cut to its low 16 bits.
    const uint32_t steps = static_cast<uint32_t>(settings.iterations) * selected;
    progress.SetRange(1, static_cast<uint16_t>(steps));
    progress.SetPos(1);
    progress.SetStep(1);

    report = kReportHeader;
    host.Push(report);
    host.Repaint();

    for (const PlannedRow& row : rows) {
        if (!MeasureRow(row, settings, *input, imaging, host, report)) {
            return;  // the progress position is kept; the image is released
        }
    }
    progress.SetPos(0);
}

}  // namespace tallox

// One benchmark run: every selected codec setting over the chosen file, the report's own rows
// in their fixed order and the others after them, each timed by a fresh stopwatch and
// reported as one row.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "engine/benchmark_settings.h"
#include "engine/codec.h"
#include "engine/run_host.h"
#include "platform/image_input.h"
#include "platform/imaging.h"

namespace tallox {

// One row a run will measure: the codec, its parameter values and the row's label.
struct PlannedRow {
    const CodecEntry* entry = nullptr;
    std::vector<double> values;
    std::string label;
    std::optional<JpegOptions> jpeg;  // the JPEG rows' settings
    int threads = 1;
};

// The codec settings of `settings` in the order they are measured: the yardstick first (when
// asked for or selected), the report's rows in the registry's order, then every other codec
// setting in the order given. Names the registry does not know are left out.
std::vector<CodecSetting> OrderedSettings(const BenchmarkSettings& settings,
                                          const CodecRegistry& registry);

// The rows `settings` asks for, in the order they are measured: the yardstick when asked for,
// the report's rows in the registry's order (JPEG one per setting of its sweep), then every
// other codec setting in the order given. Names the registry does not know are left out.
std::vector<PlannedRow> PlanRows(const BenchmarkSettings& settings, const CodecRegistry& registry);

// Pins the calling thread, which is to measure, to `cpu` (nothing: the CPU it runs on now) and
// notes it in `settings`: the CPUs the process may use, read first, and the CPU once pinned.
// Returns how the measuring thread runs, for the context: "CPU 1", or "refused: REASON".
std::string PinMeasuringThread(BenchmarkSettings& settings, std::optional<int> cpu);

// What a run measures of its file, read once for all its rows: the image as the report's rows
// take it (24-bit RGB), the image's own samples when the file is an image Tallox reads, whether
// the byte codecs take those samples in place of the file's bytes, or why the file cannot be
// measured at all.
struct RunInput {
    std::optional<Image> image;
    std::optional<PixelImage> pixels;
    bool pixelBasis = false;
    std::optional<RunMessage> refusal;
};

// Reads `settings.filePath` as a run of `settings` does.
RunInput ReadRunInput(const BenchmarkSettings& settings, Imaging& imaging);

// `registry` holds the codecs; tests hand in their own to reach the failure paths. `input`, read
// by ReadRunInput with the same file and basis, spares reading the file again (a corpus reads
// each file once for all its codecs); without it the run reads the file itself.
void RunBenchmark(const BenchmarkSettings& settings, RunHost& host,
                  Imaging& imaging = PlatformImaging(),
                  const CodecRegistry& registry = DefaultRegistry(),
                  const RunInput* input = nullptr);

}  // namespace tallox

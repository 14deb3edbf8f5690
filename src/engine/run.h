// One benchmark run: every selected codec over the chosen file, in the order of the codec
// table, each timed by a fresh stopwatch and reported as one row.
#pragma once
#include <span>
#include <string>

#include "engine/benchmark_settings.h"
#include "engine/codec_table.h"
#include "engine/run_host.h"
#include "platform/imaging.h"

namespace tallox {

// `codecs` is the codec table; tests hand in their own to reach the failure paths.
void RunBenchmark(const BenchmarkSettings& settings, RunHost& host,
                  Imaging& imaging = PlatformImaging(),
                  std::span<const Codec> codecs = CodecTable());

// The yardstick's entry: a memcpy of the input, timed as the encoders are.
extern const Codec kBaseline;

// "The RLE output does not decode to its input!", with the codec's name.
std::string MismatchMessage(const Codec& codec);

}  // namespace tallox

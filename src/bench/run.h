// One benchmark run: every selected codec over the chosen file, in the fixed order JPEG, RLE,
// Huffman, Rice, LZ77, LZ77 Fast, each timed by a fresh stopwatch and reported as one row.
#pragma once
#include "bench/benchmark_settings.h"
#include "bench/run_host.h"
#include "platform/imaging.h"

namespace tallox {

void RunBenchmark(const BenchmarkSettings& settings, RunHost& host,
                  Imaging& imaging = PlatformImaging());

}  // namespace tallox

// One benchmark run: every selected codec over the chosen file, in the order of the codec
// table, each timed by a fresh stopwatch and reported as one row.
#pragma once
#include "engine/benchmark_settings.h"
#include "engine/run_host.h"
#include "platform/imaging.h"

namespace tallox {

void RunBenchmark(const BenchmarkSettings& settings, RunHost& host,
                  Imaging& imaging = PlatformImaging());

}  // namespace tallox

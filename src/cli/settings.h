// From tallox-cli's options to what the engine and the output read: the run's settings and the
// output's options.
#pragma once
#include <string>

#include "cli/options.h"
#include "cli/output.h"
#include "engine/benchmark_settings.h"

namespace tallox::cli {

// The settings of a run over `filePath` (a corpus run replaces the file for each of its files):
// the codecs in the order --codecs gives them (JPEG's values as its qualities), the metering,
// the JPEG options and the yardstick, which every format but the report text opens with.
BenchmarkSettings MakeSettings(const CliOptions& options, const std::string& filePath);

// The output as the options ask: its format, the bar's labels in the run's order, the context
// for the formats that print one (a corpus's without an input).
// The lossy comparison's reference and targets; the targets by default when --at is not given.
RdOptions MakeRdOptions(const CliOptions& options);

OutputOptions MakeOutputOptions(const CliOptions& options, const BenchmarkSettings& settings,
                                bool corpus);

}  // namespace tallox::cli

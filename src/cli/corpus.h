// The command line's corpus run: the engine's run over many files shown as a progress bar on
// stderr and records in the chosen format, and its exit status.
#pragma once
#include <string>
#include <vector>

#include "cli/output.h"
#include "engine/benchmark_settings.h"
#include "engine/codec.h"
#include "engine/corpus_run.h"
#include "platform/imaging.h"

namespace tallox::cli {

// Measures the codecs `settings` selects from `registry` over each of `files`, and prints the
// records and the summaries as `output` says; the records also go to `records` when given.
// Returns the exit status: 0, or 1 when a record failed or the output could not be written.
int RunCorpus(const BenchmarkSettings& settings, const std::vector<std::string>& files,
              const CorpusOptions& options, const OutputOptions& output,
              Imaging& imaging = PlatformImaging(),
              const CodecRegistry& registry = DefaultRegistry(),
              std::vector<Row>* records = nullptr);

}  // namespace tallox::cli

// A run over many files: the folders walked, each file's codecs measured in turn (in a child
// process unless told otherwise), a record per file and codec, and a summary per codec at the
// end.
#pragma once
#include <string>
#include <vector>

#include "cli/output.h"
#include "engine/benchmark_settings.h"
#include "engine/codec.h"
#include "platform/imaging.h"

namespace tallox::cli {

struct CorpusOptions {
    bool stopOnError = false;     // the first failed record ends the run
    bool isolate = true;          // the measurements made in a child process
    double timeoutSeconds = 0.0;  // an isolated measurement's limit; 0: none
    // The records already in a resumed output, in its order: not measured again, not printed,
    // but counted in the summaries.
    const std::vector<Row>* recorded = nullptr;
};

// What tells a record from every other of a run: its file, codec, parameters and JPEG settings.
std::string RecordKey(const Row& row);

// The files to measure: each path that is not a folder as given; each folder's regular files
// whose names match one of `includes` (shell patterns, letter case ignored), hidden names
// skipped, in byte order of their names, with its subfolders' files at their place when
// `recursive`. A folder that cannot be read stays in the list, to fail as an input.
std::vector<std::string> CollectFiles(const std::vector<std::string>& paths, bool recursive,
                                      const std::vector<std::string>& includes);

// Measures the codecs `settings` selects from `registry` over each of `files`, and prints the
// records and the summaries as `output` says; the records also go to `records` when given.
// Returns the exit status: 0, or 1 when a record failed or the output could not be written.
int RunCorpus(const BenchmarkSettings& settings, const std::vector<std::string>& files,
              const CorpusOptions& options, const OutputOptions& output,
              Imaging& imaging = PlatformImaging(),
              const CodecRegistry& registry = DefaultRegistry(),
              std::vector<Row>* records = nullptr);

}  // namespace tallox::cli

// A run over many files: the folders walked, each file's codecs measured in turn (in a child
// process unless told otherwise), a record per file and codec, and a summary per codec at the
// end. The run tells an observer what happens; the command line and the dialog each show it
// their own way.
#pragma once
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/benchmark_settings.h"
#include "engine/codec.h"
#include "engine/records.h"
#include "engine/run_host.h"
#include "platform/imaging.h"

namespace tallox {

struct CorpusOptions {
    bool stopOnError = false;     // the first failed record ends the run
    bool isolate = true;          // the measurements made in a child process
    double timeoutSeconds = 0.0;  // an isolated measurement's limit; 0: none
    // The records already in a resumed output, in its order: not measured again, not handed
    // to the observer as records, but counted in the summaries.
    const std::vector<Row>* recorded = nullptr;
    // Set from another thread to end the run once the measurement under way has finished.
    const std::atomic<bool>* stop = nullptr;
};

// How a corpus run ended.
struct CorpusResult {
    std::vector<Row> rows;  // the resumed records, then this run's, in their order
    std::vector<CodecSummary> summaries;
    size_t failed = 0;     // the rows with an error
    bool stopped = false;  // asked to stop before every file was measured
};

// What a corpus run tells its front end, in this order: for each file it measures,
// FileStarted, then for each codec CodecStarted, its records, CodecFinished; then
// FileFinished; RunFinished last. A codec that fails on a file gives one record with its
// error instead of figures. The run's encoder calls step Progress() as a one-file run's do. With
// isolation, CodecStarted, the steps and CodecFinished of a measurement are also made on the
// child process's copy of the observer.
class CorpusObserver {
public:
    virtual void FileStarted(size_t file, const std::string& path) = 0;
    // A codec's measurement of file `file`; the memcpy yardstick's has none.
    virtual void CodecStarted(size_t file, const std::string& codec) = 0;
    // After the codec's records, or in place of a measurement a resumed run already holds.
    virtual void CodecFinished() = 0;
    virtual void Record(const Row& row) = 0;  // its `file` set
    virtual void FileFinished(size_t file, const std::string& path) = 0;
    virtual void RunFinished(const CorpusResult& result) = 0;
    virtual ProgressControl& Progress() = 0;

protected:
    ~CorpusObserver() = default;
};

// What tells a record from every other of a run: its file, codec, parameters and JPEG settings.
std::string RecordKey(const Row& row);

// The files to measure: each path that is not a folder as given; each folder's regular files
// whose names match one of `includes` (shell patterns, letter case ignored), hidden names
// skipped, in byte order of their names, with its subfolders' files at their place when
// `recursive`. A folder that cannot be read stays in the list, to fail as an input.
std::vector<std::string> CollectFiles(const std::vector<std::string>& paths, bool recursive,
                                      const std::vector<std::string>& includes);

// Every image format a run reads, by the usual names: the patterns a folder's files are taken
// by unless told otherwise.
std::vector<std::string> ImageFilePatterns();

// The codecs of a corpus run that show on a progress bar: one per selected codec setting,
// without the yardstick.
size_t CountedCodecs(const BenchmarkSettings& settings, const CodecRegistry& registry);

// Measures the codecs `settings` selects from `registry` over each of `files`, telling
// `observer`, and returns what RunFinished was given.
CorpusResult RunCorpus(const BenchmarkSettings& settings, const std::vector<std::string>& files,
                       const CorpusOptions& options, CorpusObserver& observer,
                       Imaging& imaging = PlatformImaging(),
                       const CodecRegistry& registry = DefaultRegistry());

}  // namespace tallox

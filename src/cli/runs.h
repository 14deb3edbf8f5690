// Runs spread over time and machines: a corpus split into shards, a killed JSON Lines run
// resumed where it stopped, and the shards' result files merged into one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/codec.h"
#include "engine/rd_summary.h"
#include "engine/run_host.h"

namespace tallox::cli {

// The `k`-th of `n` parts of `files` (1 <= k <= n): every n-th file of the list sorted by its
// bytes, from the k-th on, so that every machine given the same paths takes the same part.
std::vector<std::string> ShardFiles(std::vector<std::string> files, int k, int n);

// What a killed run left in its JSON Lines output.
struct Resumption {
    std::vector<Row> recorded;  // its records, in its order
    uint64_t keptBytes = 0;     // its whole lines before any summary: the rest is cut off
};

// Reads `path` for --resume and checks that this run, whose JSON Lines context line is
// `context`, continues it: the same settings and files, and each file measured unchanged (its
// length and SHA-256). A missing or empty file is a run not yet begun. Returns 0; 1 when the
// file cannot be read, 2 when it belongs to another run; what differs goes to stderr, and so
// does a note on a last line cut short.
int ReadResumption(const std::string& path, const std::string& context,
                   const CodecRegistry& registry, Resumption& resumption);

// `tallox-cli merge`: the results of `inputs` (JSON documents or JSON Lines of shards of one
// run) as one, written to `output` as JSON or, for a name ending in .jsonl, JSON Lines: each
// input's context, the records in the order of their files, and the summaries computed again
// over all of them, marked where their speeds come from more than one machine, with the
// rate-distortion summary of `rd` when the records compare lossy codecs. Returns 0; 1,
// with nothing written, when an input cannot be read, the inputs' settings differ, a shard is
// missing or given twice, or a record is missing or doubled (each named on stderr); 2 for an
// output name of no known format.
int RunMerge(const std::vector<std::string>& inputs, const std::string& output,
             const RdOptions& rd = {}, const CodecRegistry& registry = DefaultRegistry());

}  // namespace tallox::cli

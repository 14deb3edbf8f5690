// tallox-cli's command line: every option and command, parsed into one plain structure.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/compare.h"
#include "cli/encode.h"
#include "engine/corpus_run.h"
#include "platform/imaging.h"

namespace tallox::cli {

struct CliOptions {
    std::vector<std::string> paths;
    bool recursive = false;
    std::vector<std::string> includes = ImageFilePatterns();
    bool stopOnError = false;
    bool isolate = false;
    bool noIsolate = false;
    double timeoutSeconds = 0.0;
    std::vector<std::string> codecLists{"jpeg,rle,huffman,rice"};
    bool all = false;
    bool fast = false;
    bool accurate = false;
    int32_t iterations = 0;
    std::string quality = "50";
    std::vector<int32_t> qualities;
    std::string subsampling;
    std::vector<Subsampling> subsamplings;
    bool progressive = false;
    bool optimize = false;
    std::string plot;
    std::string format = "text";
    bool crlf = false;
    bool noProgress = false;
    int32_t warmup = 0;
    double minimumSeconds = 0.0;
    double maximumSeconds = 0.0;
    bool samples = false;
    std::string bytes;                                          // --bytes: "", "file" or "pixels"
    std::string metrics = "psnr,ssim,ssimulacra2,butteraugli";  // --metrics
    std::string reference = "jpeg";  // --reference: the lossy codec the BD-rates are against
    std::vector<std::string> at;     // --at METRIC=V,...: each as given, checked
    std::string cpu;  // --cpu, checked against the CPUs the process may use when it pins
    bool noPin = false;
    std::string threadList;
    std::vector<int32_t> threads{1};
    bool noVerify = false;
    bool noDecode = false;
    bool version = false;
    bool verbose = false;
    bool listCodecs = false;
    bool codecsGiven = false;  // --codecs was on the command line
    bool runEncode = false;    // the encode command, with its options in `encode`
    EncodeOptions encode;
    std::string outputPath;  // --output
    std::string resumePath;  // --resume
    std::string shard;       // --shard K/N
    bool formatGiven = false;
    bool runMerge = false;  // the merge command, its shard files and output
    std::vector<std::string> mergeInputs;
    std::string mergeOutput;
    bool runCompare = false;  // the compare command, with its options in `compare`
    CompareOptions compare;
    std::string compareFormat = "text";
    double failAbovePercent = 0.0;
};

// Parses the command line into `options`. The exit status when parsing ends the program (the
// help printed: 0; a usage error, said on stderr: 2); nothing when the program goes on.
std::optional<int> ParseOptions(int argc, char** argv, CliOptions& options);

// "tallox-cli: TEXT" on stderr; the usage error's exit status, 2.
int UsageError(const std::string& text);

}  // namespace tallox::cli

// A result file read back: the JSON document or the JSON Lines that tallox-cli writes, as plain
// figures for tools that compare runs.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallox {

// The version of the records' layout this program reads; a file without a "schema" key is of
// version 1.
inline constexpr int kResultSchema = 1;

// Where a run was made; empty where the file does not say.
struct ResultContext {
    std::string version;  // Tallox's
    std::string cpu;      // the processor's model name
    std::string compiler;
    std::string buildType;
    std::string simd;                              // the SIMD targets, "rle AVX3, rice AVX3, ..."
    std::map<std::string, std::string> libraries;  // name to version, e.g. "qt" to "6.4.2"
    std::string input;                             // a one-file run's input path
    std::string inputSha256;
};

// One record: a codec with its parameters over a file. A figure the file leaves null or out is
// empty; a failed record has its error and no figures.
struct ResultRecord {
    std::string file;  // empty in a one-file run
    std::string codec;
    std::string params;  // empty for none
    std::string label;
    std::optional<double> medianMs;
    std::optional<double> madMs;
    std::optional<double> outputBytes;
    std::optional<double> bpp;
    std::optional<double> psnrY;
    std::optional<double> psnrRgb;
    std::optional<double> ssim;
    std::vector<double> samplesMs;  // each timed call, when the run kept them
    std::string error;
};

struct ResultFile {
    ResultContext context;
    std::vector<ResultRecord> records;  // in the file's order, one per (file, codec, params)
    std::vector<std::string> notes;     // what was skipped, and why
};

// `text` read as a result file, or the reason it is none ("not a Tallox result file: ...").
// A JSON document has its records under "results"; JSON Lines have the context on the first
// line and a {"type": "record"} object per record after it, other types being skipped. A last
// line that is not whole JSON (a run killed while writing) is skipped with a note. Records
// without "params" take it from their JPEG settings ("q50 420 progressive optimize"); a second
// record for the same (file, codec, params) is skipped with a note.
struct ResultFileRead {
    std::optional<ResultFile> file;
    std::string error;
};
ResultFileRead ParseResultFile(std::string_view text);

// The file at `path` read and parsed; the error then starts with the path.
ResultFileRead ReadResultFile(const std::string& path);

}  // namespace tallox

// The codec seam: every codec the benchmark measures, Tallox's own or a library's, is one
// CodecEntry in a registry and, once its parameters are set, one CodecInstance that encodes
// into a caller-owned output and decodes back. The one measurement path (measure.h) drives
// them all alike.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/result.h"

namespace tallox {

class Imaging;
class WorkingBlock;
struct Image;

// What a codec compresses: the input's bytes, or the decoded image's pixels.
enum class CodecInput : uint8_t { Bytes, Pixels };

// "bytes" or "pixels".
const char* CodecInputName(CodecInput input);

// One parameter of a codec: its range, its default, and how a value reads in a row's label.
struct CodecParameter {
    std::string name;  // "level", "quality", "acceleration"
    double minimum = 0.0;
    double maximum = 0.0;
    double fallback = 0.0;  // the default
    bool whole = true;      // whole numbers only
    // Written before the value in a label: "-" makes "zstd -19"; empty leaves the parameter
    // out of the label unless it differs from its default, and then as "name=value".
    std::string labelPrefix;
    std::vector<double> choices;  // the values allowed, when not every one in the range is
};

// The facts of a codec that hold whatever its parameters.
struct CodecInfo {
    std::string name;         // for command lines and records: "zstd", "rle", "lz77fast"
    std::string displayName;  // for labels and messages: "zstd", "RLE", "LZ77 Fast"
    std::string family;       // "tallox", "zstd", "lz4", "deflate", "jpeg", ...
    CodecInput input = CodecInput::Bytes;
    bool lossy = false;
    std::vector<CodecParameter> parameters;
    std::string library;  // the library and its version, "libzstd 1.5.4"; empty for Tallox's own
    std::string description;  // one line for --list-codecs
    // The rows of the benchmark report proper, in its fixed order; the others follow them.
    bool reportRow = false;
    // The memcpy yardstick: no report line, no progress steps, not summarised as a codec.
    bool yardstick = false;
    // Takes a thread count, so that --threads measures a row per count; the others are
    // measured once, single-threaded.
    bool threads = false;
    // The most threads it can put to work (libwebp's are a switch: two); larger counts are
    // measured at this one, once. 0: no limit of its own.
    int maxThreads = 0;
    bool repaint = true;  // the report is repainted after the row (not after the LZ77 rows)
    // The decoder timed after the encoder; the JPEG row decodes once, for its figures alone.
    bool timedDecoding = true;
};

// A codec and its parameter values: what one row measures. An empty `values` stands for the
// defaults; otherwise there is one value per parameter, in order.
struct CodecSetting {
    std::string name;
    std::vector<double> values;

    bool operator==(const CodecSetting&) const = default;
};

// What a codec is about to be handed. A pixel codec's input is the image's samples, rows top
// first, channels interleaved.
struct InputShape {
    uint64_t bytes = 0;
    const Image* image = nullptr;  // pixel codecs; null when the file did not decode
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;
};

// Where the measurement puts a codec's input and output.
struct BlockLayout {
    uint64_t outputBytes = 0;  // the output area: the most any call may write
    // Tallox's own encoders work in one block, the output area right behind the input, as they
    // were designed to; every other codec gets its output in a 64-byte aligned block of its own.
    bool behindInput = false;
    bool workTable = false;  // LZ77 Fast's table beside the block
};

// One codec at one setting, its contexts and tables made before any timed call and reused by
// every call after.
class CodecInstance {
public:
    virtual ~CodecInstance() = default;

    virtual BlockLayout Layout(uint64_t inputBytes) const = 0;
    // Outside the timed calls: whatever the codec builds once for inputs of this shape, and
    // the refusal of an input it cannot take. The block holds the input and the output area.
    virtual Status Prepare(const InputShape& shape, WorkingBlock& block) = 0;
    // The timed call: encodes `input` into `output` (the layout's area, reused by every call)
    // and returns the encoded bytes, a prefix of `output` unless the codec writes elsewhere.
    virtual Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                                    std::span<uint8_t> output) = 0;
    // Decodes `encoded` into `decoded`, which has room for one byte more than the input had so
    // that an overlong stream shows: the decoded length, or why the stream does not decode.
    virtual Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) = 0;
    // The leading bytes of an input of `inputBytes` that a stream codes: all of them, but
    // Rice's whole samples alone.
    virtual uint64_t CodedBytes(uint64_t inputBytes) const { return inputBytes; }
    // The peak of the heap the library allocated through its allocator hooks since the last
    // reset; nothing where the library takes no hooks.
    virtual std::optional<uint64_t> HeapPeak() const { return std::nullopt; }
    virtual void ResetHeapPeak() {}
};

// What a codec may need from the run that creates it.
struct CodecEnvironment {
    Imaging* imaging = nullptr;
    // The threads a codec that takes threads may use (CodecInfo::threads); 1 for the others.
    // Every library is told its count explicitly: some default to all cores, or read it from
    // the environment.
    int threads = 1;
};

struct CodecEntry {
    CodecInfo info;
    // Creates an instance for `values` (one per parameter, already checked against the
    // ranges); an error when the library cannot make one.
    std::function<Result<std::unique_ptr<CodecInstance>>(const std::vector<double>& values,
                                                         const CodecEnvironment& environment)>
        create;
    // The report's label for a setting, tabs included; null: the generic one (LabelOf).
    std::function<std::string(const std::vector<double>& values)> label;
};

class CodecRegistry {
public:
    void Add(CodecEntry entry);
    const CodecEntry* Find(std::string_view name) const;
    const std::vector<CodecEntry>& Entries() const { return entries_; }
    // "jpeg, rle, ..., zstd, lz4": every name, for messages.
    std::string Names() const;

private:
    std::vector<CodecEntry> entries_;
};

// Every codec Tallox can measure: the report's six in their order, the yardstick, then the
// library codecs.
const CodecRegistry& DefaultRegistry();

// The values of `setting` with the defaults filled in: one per parameter of `entry`.
std::vector<double> ValuesOf(const CodecEntry& entry, const CodecSetting& setting);

// A value as the label and the records write it: "19", "-5", "0.5".
std::string FormatValue(double value);

// The parameters as records write them, in the grammar of --codecs: "19", or "6:extreme=1"
// with the other parameters named where they differ from their defaults; empty for a codec
// without parameters.
std::string ParamsText(const CodecEntry& entry, const std::vector<double>& values);

// The row label of `entry` at `values`, ending at the second tab stop as the report's labels
// do: "zstd -19\t", "lz4hc -9\t", "RLE\t\t".
std::string LabelOf(const CodecEntry& entry, const std::vector<double>& values);

// A label's name padded with tabs to the report's second tab stop.
std::string TabbedLabel(const std::string& name);

// Parses one --codecs list: names, each optionally followed by ":" and its values, which are
// numbers, so that the next name ends the list ("zstd:1,3,19,lz4,brotli:5"); a range
// "zstd:1-19:3" (first-last:step) expands; further parameters by name after another colon
// ("xz:6:extreme=1", "avif:60:speed=6"). Each value becomes a setting of its own. Errors name
// the allowed codecs or the parameter's range.
Result<std::vector<CodecSetting>> ParseCodecList(std::string_view text,
                                                 const CodecRegistry& registry);

}  // namespace tallox

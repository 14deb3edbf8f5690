// One benchmark run: every selected codec over the chosen file, in the fixed order JPEG, RLE,
// Huffman, Rice, LZ77, LZ77 Fast, each timed by a fresh stopwatch and reported as one row.
#pragma once
#include <cstdint>
#include <span>

#include "bench/benchmark_settings.h"
#include "bench/run_host.h"
#include "platform/imaging.h"

namespace tallox {

// One row of the codec table. `encode` is null for JPEG, which saves the decoded image instead
// of encoding the file's bytes; `workTable` is used by LZ77 Fast alone.
struct CodecDescriptor {
    const char* name;   // short name for command lines and records: "jpeg", "rle", ...
    const char* label;  // the row's label in the report
    int32_t BenchmarkSettings::*selection;
    uint32_t (*encode)(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable);
    bool needsWorkTable;
    bool repaint;  // the LZ77 rows are pushed without a repaint
};

// The codecs in the order of the report.
std::span<const CodecDescriptor> CodecTable();

// The working block of a lossless measurement: the input, then an output area of
// 2 * ((len * 104 + 50) / 100) + 768 bytes that holds any encoder's largest output.
uint64_t WorkingBlockSize(uint64_t len);
// The LZ77 Fast work table: 65,536 + len signed 32-bit entries.
uint64_t WorkTableSize(uint64_t len);

// Messages of a lossless measurement that cannot go on; each ends the run.
extern const char kOpenFailedMessage[];
extern const char kReadFailedMessage[];
extern const char kAllocationFailedMessage[];
extern const char kTooLargeMessage[];

void RunBenchmark(const BenchmarkSettings& settings, RunHost& host,
                  Imaging& imaging = PlatformImaging());

}  // namespace tallox

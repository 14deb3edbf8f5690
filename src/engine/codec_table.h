// The codecs a run measures, in the order of the report.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/benchmark_settings.h"

namespace tallox {

struct Codec {
    const char* name;   // short name for command lines and records: "jpeg", "rle", ...
    const char* label;  // the row's label in the report
    bool BenchmarkSettings::*selection;
    // Null for JPEG, which saves the decoded image instead of encoding the file's bytes.
    uint32_t (*encode)(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable);
    bool needsWorkTable;  // LZ77 Fast alone
    bool repaint;         // the LZ77 rows are pushed without a repaint
    // Decodes `count` bytes of the encoder's output into `decoded`, which has room for `len`
    // bytes: the decoded length, or nothing when the stream is malformed. Null for JPEG.
    std::optional<uint32_t> (*decode)(const uint8_t* output, uint32_t count, uint8_t* decoded,
                                      uint32_t len);
    // The bytes of a `len`-byte input that the stream codes: all of them, but for Rice the
    // whole samples alone (the last len mod 4 bytes of signed 32-bit samples are never coded).
    uint32_t sampleBytes;
    const char* displayName;  // "RLE", "LZ77 Fast", ... in messages
};

std::span<const Codec> CodecTable();

// The codec of that short name, or null.
const Codec* FindCodec(std::string_view name);

}  // namespace tallox

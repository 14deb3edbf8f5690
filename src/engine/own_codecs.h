// Tallox's own encoders, the JPEG row and the memcpy yardstick as registry entries. The own
// encoders are plain functions over one working block; a table of them says how each is called.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/codec.h"

namespace tallox {

extern const char kSaveFailedMessage[];
extern const char kJpegMismatchMessage[];

// One of Tallox's own lossless encoders and its decoder.
struct OwnCodec {
    const char* name;   // short name for command lines and records: "rle", "huffman", ...
    const char* label;  // the row's label in the report
    uint32_t (*encode)(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable);
    bool needsWorkTable;  // LZ77 Fast alone
    bool repaint;         // the LZ77 rows are pushed without a repaint
    // Decodes `count` bytes of the encoder's output into `decoded`, which has room for `len`
    // bytes: the decoded length, or nothing when the stream is malformed.
    std::optional<uint32_t> (*decode)(const uint8_t* output, uint32_t count, uint8_t* decoded,
                                      uint32_t len);
    // The bytes of a `len`-byte input that the stream codes: all of them, but for Rice the
    // whole samples alone (the last len mod 4 bytes of signed 32-bit samples are never coded).
    uint32_t sampleBytes;
    const char* displayName;  // "RLE", "LZ77 Fast", ... in messages
};

// RLE, Huffman, Rice, LZ77 and LZ77 Fast, in the report's order.
std::span<const OwnCodec> OwnCodecs();
const OwnCodec* FindOwnCodec(std::string_view name);

// The registry entry of an own encoder; tests make entries of encoders of their own.
CodecEntry MakeOwnEntry(const OwnCodec& codec);
// The JPEG row: the loaded image saved through the imaging services' JPEG encoder.
CodecEntry MakeJpegEntry();
// The yardstick: a memcpy of the input into an aligned block of its own.
CodecEntry MakeMemcpyEntry();

}  // namespace tallox

// Byte-oriented run-length encoder. Output byte 0 is the escape byte E; runs of four or more
// equal bytes become E, a one- or two-byte count (L - 1) and the value.
#pragma once
#include <cstdint>
#include <optional>

namespace tallox {

// Returns the output count, byte 0 included; 0 for an empty input (nothing written).
// Never writes more than 1 + len + len / 256 bytes.
uint32_t EncodeRle(const uint8_t* input, uint8_t* output, uint32_t len);

// Decodes the `count` bytes of a stream into output, which holds `capacity` bytes, and returns
// the decoded length (0 for an empty stream). nullopt when a token is cut off or the bytes do
// not fit in the capacity. Reads input[0, count) and writes output[0, capacity) only.
std::optional<uint32_t> DecodeRle(const uint8_t* input, uint32_t count, uint8_t* output,
                                  uint32_t capacity);

}  // namespace tallox

// Static two-section entropy encoder: a pre-order code tree, then the code of every input byte,
// one bit stream packed most significant bit first. Codes come from top-down splits of the
// frequency-sorted values, each range cut at the first prefix whose count reaches half.
#pragma once
#include <cstdint>

namespace tallox {

struct SymbolCode {
    uint32_t symbol;  // the byte value
    uint32_t count;   // occurrences in the input
    uint32_t code;    // right-aligned: first bit is bit length - 1
    uint32_t length;  // 0: no code
};

struct HuffmanBitWriter {
    uint8_t* bytePtr;   // the byte being filled
    uint32_t bitIndex;  // bits already written into it, 0 to 7
};

// Returns the bytes the stream touches, a partly written last byte included; 0 for an empty
// input, and 0 when a code would exceed 32 bits (the tree is then left written).
uint32_t EncodeHuffman(const uint8_t* input, uint8_t* output, uint32_t len);

// Record v gets symbol v and its count, then the table is sorted by count, descending, stable.
void BuildFrequencyTable(const uint8_t* input, uint32_t len, SymbolCode table[256]);

// Builds the subtree of sorted records first..last, writes its description and stores the
// leaves' codes and lengths.
void AssignFanoCodes(SymbolCode table[256], HuffmanBitWriter& writer, uint32_t code,
                     uint32_t length, uint32_t first, uint32_t last);

// Writes the low n bits of value (n 0 to 32), highest first; each bit sets or clears one bit
// and leaves the byte's other bits alone.
void WriteBits(HuffmanBitWriter& writer, uint32_t n, uint32_t value);

}  // namespace tallox

// The code table and tree of the Huffman encoder, which tests reach with hand-made tables.
#pragma once
#include <cstdint>

namespace tallox::detail {

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

// Record v gets symbol v and its count, then the table is sorted by count, descending, stable.
void BuildFrequencyTable(const uint8_t* input, uint32_t len, SymbolCode table[256]);

// Builds the subtree of sorted records first..last, writes its description and stores the
// leaves' codes and lengths.
void AssignFanoCodes(SymbolCode table[256], HuffmanBitWriter& writer, uint32_t code,
                     uint32_t length, uint32_t first, uint32_t last);

// Writes the low n bits of value (n 0 to 32), highest first; each bit sets or clears one bit
// and leaves the byte's other bits alone.
void WriteBits(HuffmanBitWriter& writer, uint32_t n, uint32_t value);

// Position of the last record (in count order) that gets a code: 255 when every value occurs,
// else the last non-zero count, but at least 1 so that a single value still forms a cut.
uint32_t CodedRangeEnd(const SymbolCode table[256]);

// False when some record's code is longer than 32 bits, which the data writer cannot hold.
bool CodesFitIn32Bits(const SymbolCode table[256]);

}  // namespace tallox::detail

// Steps of the Huffman encoder that tests reach with hand-made symbol tables.
#pragma once
#include <cstdint>

#include "codecs/huffman.h"

namespace tallox::detail {

// Position of the last record (in count order) that gets a code: 255 when every value occurs,
// else the last non-zero count, but at least 1 so that a single value still forms a cut.
uint32_t CodedRangeEnd(const SymbolCode table[256]);

// False when some record's code is longer than 32 bits, which the data writer cannot hold.
bool CodesFitIn32Bits(const SymbolCode table[256]);

}  // namespace tallox::detail

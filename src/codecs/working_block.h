// The memory a lossless measurement hands an encoder. The encoders other than Rice check no
// output bound: they rely on the output area below, which holds the largest output any of
// them can write. Sizes are 64-bit: past 41,297,761 bytes, len * 104 + 50 overflows 32 bits.
#pragma once
#include <cstdint>

namespace tallox {

// The output area that follows the input in the working block.
constexpr uint64_t OutputAreaSize(uint64_t len) { return 2 * ((len * 104 + 50) / 100) + 768; }

// The working block: the input, then the output area.
constexpr uint64_t WorkingBlockSize(uint64_t len) { return len + OutputAreaSize(len); }

// The LZ77 Fast work table: 65,536 + len signed 32-bit entries.
constexpr uint64_t WorkTableSize(uint64_t len) { return 4 * (65'536 + len); }

}  // namespace tallox

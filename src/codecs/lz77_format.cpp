#include "codecs/lz77_format.h"

namespace tallox {

uint32_t WriteLz77GroupNumber(uint8_t* output, uint32_t value) {
    uint32_t groups = 1;
    while (groups < 5 && (value >> (7 * groups)) != 0) ++groups;
    for (uint32_t i = 0; i < groups; ++i) {
        const uint32_t shift = 7 * (groups - 1 - i);
        const uint8_t group = static_cast<uint8_t>((value >> shift) & 0x7F);
        output[i] = i + 1 < groups ? static_cast<uint8_t>(group | 0x80) : group;
    }
    return groups;
}

bool AcceptLz77Match(uint32_t length, uint32_t distance) {
    // The token takes E, one byte for L (< 128 here or accepted anyway) and the groups of D:
    // it must come out shorter than the L bytes it replaces.
    switch (length) {
        case 0:
        case 1:
        case 2:
        case 3:
            return false;
        case 4:
            return distance <= 0x7F;
        case 5:
            return distance <= 0x3FFF;
        case 6:
            return distance <= 0x1FFFFF;
        case 7:
            return distance <= 0x0FFFFFFF;
        default:
            return true;
    }
}

}  // namespace tallox

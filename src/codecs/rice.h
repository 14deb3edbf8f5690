// Adaptive Rice coder over fixed-width samples. Header byte k0 and a Rice-coded bit stream,
// or, when that does not fit in len + 1 bytes, header byte 0 and the mapped samples raw.
#pragma once
#include <cstdint>

namespace tallox {

enum RiceSampleType : uint32_t {
    Signed8 = 1,
    Unsigned8 = 2,
    Signed16 = 3,
    Unsigned16 = 4,
    Signed32 = 7,
    Unsigned32 = 8,
};

// Returns the size of the form written; 0 (nothing written) for an unsupported type or an
// input shorter than one sample. Touches only output bytes 0 to len.
uint32_t EncodeRice(const uint8_t* input, uint8_t* output, uint32_t len, uint32_t sampleType);

}  // namespace tallox

// The Rice encoder without processor-specific instructions, so that tests can compare it
// with the path EncodeRice takes on this machine.
#pragma once
#include <cstdint>

namespace tallox::detail {

uint32_t EncodeRicePortable(const uint8_t* input, uint8_t* output, uint32_t len,
                            uint32_t sampleType);

}  // namespace tallox::detail

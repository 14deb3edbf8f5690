// The end of a bit stream packed most significant bit first (Huffman, Rice): the encoder
// leaves the bits of the last byte after the stream as the area held them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tallox::test {

// Runs `encode` (which writes into an area of areaSize bytes and returns the count) on areas
// prefilled with 0x00 and with 0xFF. The two streams must agree but for low bits of the last
// byte, both must pass `decodes` (true when a stream decodes to the input), and the last bit
// they agree on must belong to the stream: flipped, the stream no longer decodes to the
// input. Returns what failed, empty when nothing did.
std::string CheckStreamEnd(
    const std::function<uint32_t(uint8_t* area)>& encode, size_t areaSize,
    const std::function<bool(const uint8_t* stream, uint32_t count)>& decodes);

}  // namespace tallox::test

#include "support/stream_end.h"

#include <vector>

namespace tallox::test {

std::string CheckStreamEnd(
    const std::function<uint32_t(uint8_t* area)>& encode, size_t areaSize,
    const std::function<bool(const uint8_t* stream, uint32_t count)>& decodes) {
    std::vector<uint8_t> zeros(areaSize, 0x00);
    std::vector<uint8_t> ones(areaSize, 0xFF);
    const uint32_t count = encode(zeros.data());
    if (encode(ones.data()) != count) return "the count depends on the area";
    if (count == 0) return "";
    for (uint32_t i = 0; i + 1 < count; ++i) {
        if (zeros[i] != ones[i]) return "byte " + std::to_string(i) + " depends on the area";
    }
    // The bits left alone: set in ones' last byte, clear in zeros'.
    const auto kept = static_cast<uint8_t>(zeros[count - 1] ^ ones[count - 1]);
    if ((kept & (kept + 1)) != 0 || kept == 0xFF)
        return "the last byte's kept bits are not its low bits";
    if (!decodes(zeros.data(), count) || !decodes(ones.data(), count)) return "does not decode";
    zeros[count - 1] ^= static_cast<uint8_t>(kept + 1);  // the stream's last bit
    if (decodes(zeros.data(), count)) return "the bit before the kept ones is not the stream's";
    return "";
}

}  // namespace tallox::test

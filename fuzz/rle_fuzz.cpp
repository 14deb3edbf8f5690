// EncodeRle on arbitrary bytes: the stream stays inside its bound, writes nothing past its
// count, and decodes to the input in the one form the encoder must choose.
#include <cstring>

#include "codecs/working_block.h"
#include "codecs/rle.h"
#include "guarded_output.h"
#include "support/rle_decoder.h"

using namespace tallox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    fuzz::GuardedOutput output(WorkingBlockSize(len) - len);
    const uint32_t count = EncodeRle(data, output.Area(), len);

    CHECK_UNTOUCHED_FROM(output, count);
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        return 0;
    }
    // Only a lone escape value grows (to two bytes), and it occurs at most len / 256 times.
    FUZZ_CHECK(count >= 2 && count <= 1u + len + len / 256);
    const std::optional<test::RleDecoded> decoded = test::DecodeRle(output.Area(), count);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(decoded->canonical);
    FUZZ_CHECK(decoded->bytes.size() == len);
    FUZZ_CHECK(std::memcmp(decoded->bytes.data(), data, len) == 0);
    return 0;
}

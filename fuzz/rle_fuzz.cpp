// EncodeRle on arbitrary bytes: the stream stays inside its bound, writes nothing past its
// count, and decodes to the input in the one form the encoder must choose (its size worked
// out from the input). DecodeRle on the same bytes as a stream stays inside its output.
#include <cstring>
#include <vector>

#include "codecs/working_block.h"
#include "codecs/rle.h"
#include "guarded_output.h"
#include "support/rle_stream_size.h"

using namespace tallox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    fuzz::GuardedOutput output(WorkingBlockSize(len) - len);
    const uint32_t count = EncodeRle(data, output.Area(), len);

    CHECK_UNTOUCHED_FROM(output, count);
    // Arbitrary bytes as a stream: whatever they decode to stays inside the capacity.
    fuzz::GuardedOutput arbitrary(2 * size_t{len});
    DecodeRle(data, len, arbitrary.Area(), 2 * len);
    CHECK_UNTOUCHED_FROM(arbitrary, 2 * size_t{len});
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        return 0;
    }
    // Only a lone escape value grows (to two bytes), and it occurs at most len / 256 times.
    FUZZ_CHECK(count >= 2 && count <= 1u + len + len / 256);
    FUZZ_CHECK(count == test::RleStreamSize(data, len, output.Area()[0]));
    std::vector<uint8_t> decoded(len);
    FUZZ_CHECK(DecodeRle(output.Area(), count, decoded.data(), len) == len);
    FUZZ_CHECK(std::memcmp(decoded.data(), data, len) == 0);
    return 0;
}

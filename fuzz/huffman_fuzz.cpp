// EncodeHuffman on arbitrary bytes: the stream decodes to the input, and the unwritten rest of
// the area (the low bits of the last byte included) keeps what it held. DecodeHuffman on the
// same bytes as a stream stays inside its output.
#include <cstring>
#include <vector>

#include "codecs/working_block.h"
#include "codecs/huffman.h"
#include "guarded_output.h"
#include "support/stream_end.h"

using namespace tallox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    const size_t areaSize = WorkingBlockSize(len) - len;
    fuzz::GuardedOutput output(areaSize);
    const uint32_t count = EncodeHuffman(data, output.Area(), len);

    CHECK_UNTOUCHED_FROM(output, count);
    // Arbitrary bytes as a stream of len bytes: whatever it decodes to stays inside.
    fuzz::GuardedOutput arbitrary(len);
    DecodeHuffman(data, len, arbitrary.Area(), len);
    CHECK_UNTOUCHED_FROM(arbitrary, len);
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        return 0;
    }
    // A code longer than 32 bits needs counts that grow like Fibonacci numbers, far more bytes
    // than a fuzz input holds: every input here must get its stream.
    FUZZ_CHECK(count != 0);
    std::vector<uint8_t> decoded(len);
    FUZZ_CHECK(DecodeHuffman(output.Area(), count, decoded.data(), len) == len);
    FUZZ_CHECK(std::memcmp(decoded.data(), data, len) == 0);
    const std::string end = test::CheckStreamEnd(
        [&](uint8_t* area) { return EncodeHuffman(data, area, len); }, areaSize,
        [&](const uint8_t* stream, uint32_t n) {
            return DecodeHuffman(stream, n, decoded.data(), len) == len &&
                   std::memcmp(decoded.data(), data, len) == 0;
        });
    FUZZ_CHECK(end.empty());
    return 0;
}

// EncodeHuffman on arbitrary bytes: tree and codes decode to the input, every present value and
// no other has a leaf, the count covers exactly the bits written, and the unwritten rest of the
// area (the low bits of the last byte included) keeps what it held.
#include <cstring>

#include "codecs/working_block.h"
#include "codecs/huffman.h"
#include "guarded_output.h"
#include "support/huffman_decoder.h"

using namespace tallox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    fuzz::GuardedOutput output(WorkingBlockSize(len) - len);
    const uint32_t count = EncodeHuffman(data, output.Area(), len);

    CHECK_UNTOUCHED_FROM(output, count);
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        return 0;
    }
    // A code longer than 32 bits needs counts that grow like Fibonacci numbers, far more bytes
    // than a fuzz input holds: every input here must get its stream.
    FUZZ_CHECK(count != 0);
    const std::optional<test::HuffmanDecoded> decoded =
        test::DecodeHuffman(output.Area(), count, len);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(decoded->bytes.size() == len);
    FUZZ_CHECK(std::memcmp(decoded->bytes.data(), data, len) == 0);
    FUZZ_CHECK(count == (decoded->totalBits + 7) / 8);
    CHECK_TAIL_BITS(output, decoded->totalBits);

    bool present[256] = {};
    for (uint32_t i = 0; i < len; ++i) present[data[i]] = true;
    uint32_t distinct = 0;
    uint64_t dataBits = 0;
    for (uint32_t v = 0; v < 256; ++v) {
        FUZZ_CHECK(present[v] == (decoded->codeLength[v] != 0));
        distinct += present[v] ? 1 : 0;
    }
    for (uint32_t i = 0; i < len; ++i) dataBits += decoded->codeLength[data[i]];
    // k leaves of 9 bits and k - 1 inner nodes of 3; one value: an inner node, its leaf, a 0.
    FUZZ_CHECK(decoded->treeBits == (distinct == 1 ? 12u : 12u * distinct - 3));
    FUZZ_CHECK(decoded->totalBits == decoded->treeBits + dataBits);
    FUZZ_CHECK(decoded->maxDepth <= 32);
    return 0;
}

// EncodeLz77 on arbitrary bytes: the stream decodes to the input within the 100,000-byte
// window, stays inside its bound and writes nothing past its count.
#include "codecs/lz77.h"
#include "lz77_checks.h"

using namespace tallox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    fuzz::GuardedOutput output(WorkingBlockSize(len) - len);
    const uint32_t count = EncodeLz77(data, output.Area(), len);

    CHECK_UNTOUCHED_FROM(output, count);
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        return 0;
    }
    fuzz::CheckLz77Stream(data, len, output.Area(), count, 100'000);
    return 0;
}

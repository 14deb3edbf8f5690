// EncodeLz77 against EncodeLz77Fast on inputs of at most 100,005 bytes, where the window of
// the one still reaches every candidate that the chains of the other can accept: the two
// streams must be identical, byte for byte, and both must stay inside their bound. The work
// table starts full of junk (its content on entry must not matter) and must be left holding
// the chains as built.
#include <cstring>
#include <vector>

#include "codecs/lz77.h"
#include "codecs/lz77_fast.h"
#include "lz77_checks.h"

using namespace tallox;

// A candidate farther back than the window first occurs at position 100,001, where at most 4
// bytes remain, and is refused there: up to this length the two searches must agree.
constexpr size_t kLargestInput = 100'005;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kLargestInput) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    const size_t area = WorkingBlockSize(len) - len;
    fuzz::GuardedOutput window(area);
    fuzz::GuardedOutput chains(area);
    std::vector<int32_t> table = fuzz::JunkWorkTable(len);
    const std::vector<int32_t> junk = table;

    const uint32_t count = EncodeLz77(data, window.Area(), len);
    const uint32_t fastCount = EncodeLz77Fast(data, chains.Area(), len, table.data());

    CHECK_UNTOUCHED_FROM(window, count);
    CHECK_UNTOUCHED_FROM(chains, fastCount);
    FUZZ_CHECK(count == fastCount);
    FUZZ_CHECK(std::memcmp(window.Area(), chains.Area(), count) == 0);
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        FUZZ_CHECK(table == junk);
        return 0;
    }
    fuzz::CheckLz77Stream(data, len, window.Area(), count, 100'000);
    fuzz::CheckChains(data, len, table);
    return 0;
}

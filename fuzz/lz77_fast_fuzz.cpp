// EncodeLz77Fast on arbitrary bytes, its work table handed over full of junk: the stream
// decodes to the input, stays inside its bound, writes nothing past its count, and the table
// is left holding the chains as built (untouched for an empty input); and the bucket walk gives
// the bytes of the chains followed link by link.
#include <cstring>

#include "codecs/lz77_fast.h"
#include "codecs/lz77_format.h"
#include "lz77_checks.h"

using namespace tallox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    fuzz::GuardedOutput output(WorkingBlockSize(len) - len);
    std::vector<int32_t> table = fuzz::JunkWorkTable(len);
    const std::vector<int32_t> junk = table;
    const uint32_t count = EncodeLz77Fast(data, output.Area(), len, table.data());

    CHECK_UNTOUCHED_FROM(output, count);
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        FUZZ_CHECK(table == junk);
        return 0;
    }
    fuzz::CheckLz77Stream(data, len, output.Area(), count, UINT32_MAX);
    fuzz::CheckChains(data, len, table);

    std::vector<uint8_t> chained(WorkingBlockSize(len) - len);
    std::vector<int32_t> chainedTable = fuzz::JunkWorkTable(len);
    FUZZ_CHECK(EncodeLz77FastChained(data, chained.data(), len, chainedTable.data()) == count);
    FUZZ_CHECK(std::memcmp(chained.data(), output.Area(), count) == 0);
    FUZZ_CHECK(chainedTable == table);
    return 0;
}

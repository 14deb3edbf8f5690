// EncodeLz77 against EncodeLz77Fast on inputs of at most 100,005 bytes, where the window of
// the one still reaches every candidate that the chains of the other can accept: the two
// streams must be identical, byte for byte, and both must stay inside their bound. The work
// table starts full of junk (its content on entry must not matter) and must be left holding
// the chains as built.
#include <cstring>
#include <vector>

#include "bench/run.h"
#include "codecs/lz77.h"
#include "codecs/lz77_fast.h"
#include "guarded_output.h"

using namespace tallox;

namespace {

constexpr size_t kLargestInput = 100'005;
constexpr uint32_t kHeads = 65'536;

// Plausible positions and negative values mixed, so that a stale entry read as a chain link
// shows as a wrong match or as a read out of bounds.
std::vector<int32_t> JunkWorkTable(uint32_t len) {
    std::vector<int32_t> table(WorkTableSize(len) / sizeof(int32_t));
    uint32_t state = 0x9E3779B9u ^ len;
    for (int32_t& entry : table) {
        state = state * 1664525u + 1013904223u;
        entry = static_cast<int32_t>((state >> 8) & 1 ? state : state % (len + 1));
    }
    return table;
}

void CheckChains(const uint8_t* data, uint32_t len, const std::vector<int32_t>& table) {
    std::vector<int32_t> head(kHeads, -1);
    for (uint32_t i = 0; i + 1 < len; ++i) {
        const uint32_t key = data[i] * 256u + data[i + 1];
        FUZZ_CHECK(table[kHeads + i] == head[key]);
        head[key] = static_cast<int32_t>(i);
    }
    FUZZ_CHECK(table[kHeads + len - 1] == -1);
    FUZZ_CHECK(std::memcmp(table.data(), head.data(), kHeads * sizeof(int32_t)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kLargestInput) return 0;
    const uint32_t len = static_cast<uint32_t>(size);
    const size_t area = WorkingBlockSize(len) - len;
    fuzz::GuardedOutput window(area);
    fuzz::GuardedOutput chains(area);
    std::vector<int32_t> table = JunkWorkTable(len);
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
    FUZZ_CHECK(count >= 2 && count <= 1u + len + len / 256);
    CheckChains(data, len, table);
    return 0;
}

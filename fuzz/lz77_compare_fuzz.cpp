// EncodeLz77 against EncodeLz77Fast on inputs of at most 100,005 bytes, where the window of
// the one still reaches every candidate that the chains of the other can accept: the two
// streams must be identical, byte for byte, both must decode to the input and stay inside
// their bound, and the work table (junk on entry) must be left holding the chains as built.
//
// The exhaustive search costs about len x min(len, 100,000) steps, seconds per input of
// 100,000 bytes under the sanitizers, so the first byte picks one of two layouts: the rest of
// the input as it is (up to 4,096 bytes), or its bytes at both ends of an input of 100,001 to
// 100,005 bytes whose middle repeats a fixed 1,024-byte stretch. Long matches cover that
// middle in a few searches, and the end lies just past the window, where a candidate at the
// start is too far back for the one search and refused when the other finds it.
#include <cstring>
#include <vector>

#include "codecs/lz77.h"
#include "codecs/lz77_fast.h"
#include "lz77_checks.h"

using namespace tallox;

namespace {

constexpr size_t kPlainLargest = 4'096;
constexpr size_t kWindowEnd = 100'001;  // the first length with a candidate past the window
constexpr size_t kHeadLargest = 4'096;
constexpr size_t kTailLargest = 8;

std::vector<uint8_t> Filler() {
    std::vector<uint8_t> filler(kWindowEnd + 4);
    uint32_t state = 12345;
    for (size_t i = 0; i < filler.size(); ++i) {
        if (i % 1024 == 0) state = 12345;
        state = state * 1103515245u + 12345u;
        filler[i] = static_cast<uint8_t>(state >> 16);
    }
    return filler;
}

std::vector<uint8_t> Layout(const uint8_t* data, size_t size) {
    const uint8_t mode = data[0];
    const uint8_t* body = data + 1;
    const size_t bodySize = size - 1;
    if ((mode & 1) == 0) return std::vector<uint8_t>(body, body + bodySize);
    static const std::vector<uint8_t> kFiller = Filler();
    std::vector<uint8_t> input(kFiller.begin(), kFiller.begin() + kWindowEnd + (mode >> 1) % 5);
    const size_t tail = bodySize < kTailLargest ? bodySize : kTailLargest;
    const size_t head = bodySize - tail < kHeadLargest ? bodySize - tail : kHeadLargest;
    std::memcpy(input.data(), body, head);
    std::memcpy(input.data() + input.size() - tail, body + bodySize - tail, tail);
    return input;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size - 1 > kPlainLargest) return 0;
    const std::vector<uint8_t> input = Layout(data, size);
    const uint32_t len = static_cast<uint32_t>(input.size());
    const size_t area = WorkingBlockSize(len) - len;
    fuzz::GuardedOutput window(area);
    fuzz::GuardedOutput chains(area);
    std::vector<int32_t> table = fuzz::JunkWorkTable(len);
    const std::vector<int32_t> junk = table;

    const uint32_t count = EncodeLz77(input.data(), window.Area(), len);
    const uint32_t fastCount = EncodeLz77Fast(input.data(), chains.Area(), len, table.data());

    CHECK_UNTOUCHED_FROM(window, count);
    CHECK_UNTOUCHED_FROM(chains, fastCount);
    FUZZ_CHECK(count == fastCount);
    FUZZ_CHECK(std::memcmp(window.Area(), chains.Area(), count) == 0);
    if (len == 0) {
        FUZZ_CHECK(count == 0);
        FUZZ_CHECK(table == junk);
        return 0;
    }
    fuzz::CheckLz77Stream(input.data(), len, window.Area(), count, 100'000);
    fuzz::CheckChains(input.data(), len, table);
    return 0;
}

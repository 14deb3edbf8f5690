// EncodeLz77Fast: LZ77 over chains of earlier positions sharing the first two bytes, walked to
// their end. A walk waits on the link table at every step, so the walks of several positions
// run side by side and their cache misses overlap.
#include "codecs/lz77_fast.h"

#include <hwy/cache_control.h>

#include <algorithm>

#include "codecs/escape_byte.h"
#include "codecs/lz77_format.h"

namespace tallox {

namespace {

constexpr uint32_t kPairKeys = 65536;
constexpr int32_t kNone = -1;
// Compared with an input byte, never equal: the quick reject once the best reaches the end.
constexpr uint32_t kNoByte = 256;

// Head entries end as the last position of each pair key; link[i] is the nearest earlier
// position with the pair key of i, or -1.
void BuildChains(const uint8_t* input, uint32_t len, int32_t* head, int32_t* link) {
    std::fill(head, head + kPairKeys, kNone);
    for (uint32_t i = 0; i + 1 < len; ++i) {
        const uint32_t key = static_cast<uint32_t>(input[i]) << 8 | input[i + 1];
        link[i] = head[key];
        head[key] = static_cast<int32_t>(i);
    }
    link[len - 1] = kNone;
}

// One search in progress. The walk along the chain only applies the quick reject at offset L
// and queues the candidates that pass; they are compared from offset 2 in chain order (nearest
// first) when the queue fills or the chain ends. A queued candidate passed the reject with a
// length no greater than the current one, and only a candidate matching the first L + 1 bytes
// can become the best, so every winner is queued and the result is that of the plain walk.
struct ChainWalk {
    static constexpr uint32_t kQueue = 32;

    uint32_t pos;
    uint32_t remaining;
    int32_t candidate;  // next to visit, or -1 at the end of the chain
    uint32_t atLength;  // input[pos + best.length], or kNoByte once best.length == remaining
    uint32_t queued;
    Lz77Match best;
    int32_t queue[kQueue];
};

void StartWalk(const uint8_t* input, const int32_t* link, uint32_t pos, uint32_t remaining,
               ChainWalk& walk) {
    walk.pos = pos;
    walk.remaining = remaining;
    walk.candidate = link[pos];
    walk.atLength = input[pos + kLz77NoMatch];  // remaining > 3
    walk.queued = 0;
    walk.best = {kLz77NoMatch, 0};
}

// Compares the queued candidates, nearest first; a farther one wins only when longer.
void Settle(const uint8_t* input, ChainWalk& walk) {
    const uint8_t* here = input + walk.pos;
    for (uint32_t i = 0; i < walk.queued && walk.best.length < walk.remaining; ++i) {
        const uint8_t* from = input + walk.queue[i];
        if (from[walk.best.length] != here[walk.best.length]) continue;
        const uint32_t d = walk.pos - static_cast<uint32_t>(walk.queue[i]);
        const uint32_t limit = std::min(walk.remaining, d);
        if (limit <= 2) continue;  // distances 1 and 2: never longer than 2 bytes
        const uint32_t k = ExtendLz77Match(here, from, 2, limit);
        if (k > walk.best.length) walk.best = {k, d};
    }
    walk.queued = 0;
    walk.atLength = walk.best.length < walk.remaining ? here[walk.best.length] : kNoByte;
}

// Visits one candidate without a data-dependent branch, and prefetches the next one's link
// entry and bytes for the walk's next turn. candidate + L < pos + remaining: inside the input.
inline void Step(const uint8_t* input, const int32_t* link, ChainWalk& walk) {
    const int32_t c = walk.candidate;
    const int32_t next = link[c];
    const uint32_t length = walk.best.length;
    // next = -1 points at the last head entry and at input[L - 1]: both inside their areas.
    hwy::Prefetch(link + next);
    hwy::Prefetch(input + (next + static_cast<int32_t>(length)));
    walk.queue[walk.queued] = c;
    walk.queued += input[static_cast<uint32_t>(c) + length] == walk.atLength;
    walk.candidate = next;
    if (walk.queued == ChainWalk::kQueue) Settle(input, walk);
}

// The searches of the encoder's positions, each the complete walk of its chain. The chains of
// neighbouring positions tend to run through the same cache lines, so walking them together
// overlaps few misses. While the encoder writes literals, every position is searched: the
// searches of a batch of the next positions are made ahead, kWalks walks side by side, each
// taking its positions from its own stretch of the batch, so that their misses lie apart. The
// batch doubles along a stretch of literals and falls back to the position asked for after a
// token, which may skip the next ones, so the searches made ahead and never used stay below
// those the encoder needs.
class ChainSearch {
public:
    ChainSearch(const uint8_t* input, const int32_t* link) : m_pInput(input), m_pLink(link) {}

    Lz77Match operator()(uint32_t pos, uint32_t remaining) {
        const bool afterLiteral = pos == m_nLast + 1;
        m_nLast = pos;
        if (pos - m_nFirst < m_nCount) return m_results[pos - m_nFirst];
        m_nBatch = afterLiteral ? std::min(kMaxBatch, 2 * m_nBatch) : 1;
        m_nFirst = pos;
        // Only positions with more than 3 bytes left are searched.
        m_nCount = std::min(m_nBatch, remaining - kLz77NoMatch);
        SearchBatch(remaining);
        return m_results[0];
    }

private:
    static constexpr uint32_t kWalks = 32;
    static constexpr uint32_t kMaxBatch = 1024;

    struct Slot {
        ChainWalk walk;
        uint32_t end;  // offset in the batch past the slot's last position
    };

    void SearchBatch(uint32_t remaining) {
        const uint32_t walks = std::min(kWalks, m_nCount);
        const uint32_t span = (m_nCount + walks - 1) / walks;
        uint32_t active = 0;
        for (uint32_t begin = 0; begin < m_nCount; begin += span) {
            Slot& slot = m_slots[active++];
            slot.end = std::min(m_nCount, begin + span);
            StartWalk(m_pInput, m_pLink, m_nFirst + begin, remaining - begin, slot.walk);
        }
        // Round robin over the active slots. A slot whose chain has ended stores its result
        // and starts the next position of its stretch, or leaves the round.
        while (active > 0) {
            for (uint32_t i = 0; i < active;) {
                Slot& slot = m_slots[i];
                ChainWalk& walk = slot.walk;
                if (walk.candidate != kNone) {
                    Step(m_pInput, m_pLink, walk);
                    ++i;
                    continue;
                }
                Settle(m_pInput, walk);
                const uint32_t offset = walk.pos - m_nFirst;
                m_results[offset] = walk.best;
                if (offset + 1 < slot.end) {
                    StartWalk(m_pInput, m_pLink, walk.pos + 1, walk.remaining - 1, walk);
                    ++i;
                } else {
                    slot = m_slots[--active];
                }
            }
        }
    }

    const uint8_t* m_pInput;
    const int32_t* m_pLink;
    uint32_t m_nFirst = 0;
    uint32_t m_nCount = 0;
    uint32_t m_nBatch = 1;
    uint32_t m_nLast = UINT32_MAX;  // so that position 0 counts as following a literal
    Slot m_slots[kWalks];
    Lz77Match m_results[kMaxBatch];
};

}  // namespace

uint32_t EncodeLz77Fast(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable) {
    if (len == 0) return 0;
    int32_t* head = workTable;
    int32_t* link = workTable + kPairKeys;
    BuildChains(input, len, head, link);
    const uint8_t escape = SelectEscapeByte(input, len);
    output[0] = escape;
    return WriteLz77Stream(input, output, len, escape, ChainSearch(input, link));
}

}  // namespace tallox

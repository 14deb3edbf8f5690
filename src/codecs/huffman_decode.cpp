// Table-driven decoding: the first kTableBits bits of a code index a table that gives the
// value and the code's length, or, for longer codes, the tree node to walk on from.

#include <cstring>

#include "codecs/detail/big_endian.h"
#include "codecs/detail/bit_stream.h"
#include "codecs/detail/check.h"
#include "codecs/huffman.h"

namespace tallox {

namespace {

constexpr uint32_t kMaxDepth = 32;  // the encoder writes no longer code
constexpr uint32_t kTableBits = 12;
// Four table codes follow one refill of at least 56 bits.
static_assert(4 * kTableBits <= 56);
// At most 256 leaves of distinct values, and one inner node fewer; a stream may repeat values
// in its leaves, so parsing stops at this many nodes.
constexpr uint32_t kMaxNodes = 511;
constexpr int16_t kNone = -1;

// Table entry: the value in bits 8 to 15 and the code's length (1 to kTableBits) below, where
// a shift by the entry (which takes its low 6 bits) consumes the code; for a longer code,
// length 0 and the node reached after kTableBits bits, plus 1, from bit 16 on; 0 for a prefix
// of no code.
inline uint32_t ShortEntry(uint32_t length, uint32_t value) { return value << 8 | length; }
inline uint32_t WalkEntry(uint32_t node) { return (node + 1) << 16; }
inline uint32_t EntryLength(uint32_t entry) { return entry & 0xFF; }

struct Tree {
    int16_t child[kMaxNodes][2];
    int16_t value[kMaxNodes];  // kNone for inner nodes
    uint32_t nodes;
};

// Pre-order: 1 and eight value bits for a leaf; 0, then 1 and the left subtree, then either 1
// and the right subtree or a lone 0 for an empty right part. Returns the node, or kNone when
// the description is malformed.
int16_t ReadNode(const detail::BitStream& stream, uint64_t& pos, Tree& tree, uint32_t depth) {
    if (tree.nodes == kMaxNodes) return kNone;
    const auto node = static_cast<int16_t>(tree.nodes++);
    tree.child[node][0] = kNone;
    tree.child[node][1] = kNone;
    const uint64_t head = stream.Peek(pos);
    if (head >> 63) {
        tree.value[node] = static_cast<int16_t>((head >> 55) & 0xFF);
        pos += 9;
        return depth == 0 ? kNone : node;  // even one value gets a one-bit code
    }
    tree.value[node] = kNone;
    pos += 2;
    if (((head >> 62) & 1) == 0 || depth == kMaxDepth) return kNone;
    const int16_t left = ReadNode(stream, pos, tree, depth + 1);
    if (left == kNone) return kNone;
    tree.child[node][0] = left;
    if (stream.Peek(pos++) >> 63) {
        const int16_t right = ReadNode(stream, pos, tree, depth + 1);
        if (right == kNone) return kNone;
        tree.child[node][1] = right;
    }
    return node;
}

void FillTable(const Tree& tree, int16_t node, uint32_t code, uint32_t depth, uint32_t* table) {
    if (tree.value[node] != kNone) {
        const uint32_t shift = kTableBits - depth;
        const uint32_t entry = ShortEntry(depth, static_cast<uint32_t>(tree.value[node]));
        for (uint32_t e = code << shift; e < (code + 1) << shift; ++e) table[e] = entry;
        return;
    }
    if (depth == kTableBits) {
        table[code] = WalkEntry(static_cast<uint32_t>(node));
        return;
    }
    for (uint32_t bit = 0; bit < 2; ++bit) {
        if (tree.child[node][bit] != kNone) {
            FillTable(tree, tree.child[node][bit], code * 2 + bit, depth + 1, table);
        }
    }
}

// The value whose code starts the top bits of `word` and the code's length; length 0 when
// no code does. Codes are at most kMaxDepth bits, all of them in `word`.
struct Decoded {
    uint32_t value;
    uint32_t length;
};

inline Decoded DecodeOne(const Tree& tree, const uint32_t* table, uint64_t word) {
    const uint32_t entry = table[word >> (64 - kTableBits)];
    if (EntryLength(entry) != 0 || entry == 0) return {(entry >> 8) & 0xFF, EntryLength(entry)};
    auto node = static_cast<int16_t>((entry >> 16) - 1);
    uint32_t length = kTableBits;
    while (tree.value[node] == kNone) {
        node = tree.child[node][(word << length) >> 63];
        if (node == kNone) return {0, 0};
        ++length;
    }
    TALLOX_DCHECK(length <= kMaxDepth);
    return {static_cast<uint32_t>(tree.value[node]), length};
}

}  // namespace

std::optional<uint32_t> DecodeHuffman(const uint8_t* input, uint32_t count, uint8_t* output,
                                      uint32_t len) {
    if (count == 0 || len == 0) {
        if (count == 0 && len == 0) return 0;
        return std::nullopt;
    }
    const detail::BitStream stream{input, count};
    Tree tree;
    tree.nodes = 0;
    uint64_t pos = 0;
    if (ReadNode(stream, pos, tree, 0) == kNone || pos > stream.Bits()) return std::nullopt;
    uint32_t table[1u << kTableBits];
    std::memset(table, 0, sizeof table);
    FillTable(tree, 0, 0, 0, table);

    uint32_t i = 0;
    // Away from the end, the codes come from a bit buffer: `bits` holds `avail` stream bits at
    // its top, and `next` is the byte after them (8 * next = pos + avail). A refill loads the
    // eight bytes at `next` under them and leaves 56 to 63 bits. Four codes of at most
    // kTableBits follow one refill; a longer code refills before its walk and after it. A group
    // of four thus refills at most nine times, moving `next` on at most 63 bytes, and the last
    // load ends within the 72 bytes the loop leaves before the end.
    const uint8_t* next = input + (pos >> 3);
    uint64_t bits = 0;
    uint32_t avail = 0;
    auto refill = [&] {
        bits |= detail::LoadBigEndian64(next) >> avail;
        next += (63 - avail) >> 3;
        avail |= 56;
    };
    if (count - (pos >> 3) >= 72) {
        refill();
        bits <<= pos & 7;
        avail -= pos & 7;
        while (input + count - next >= 72 && len - i >= 4) {
            refill();
            for (uint32_t k = 0; k < 4; ++k) {
                const uint32_t entry = table[bits >> (64 - kTableBits)];
                const uint32_t length = EntryLength(entry);
                if (length == 0) [[unlikely]] {
                    refill();
                    const Decoded d = DecodeOne(tree, table, bits);
                    if (d.length == 0) return std::nullopt;
                    output[i + k] = static_cast<uint8_t>(d.value);
                    bits <<= d.length;
                    avail -= d.length;
                    refill();
                    continue;
                }
                TALLOX_DCHECK(length <= avail);
                output[i + k] = static_cast<uint8_t>(entry >> 8);
                bits <<= entry & 63;  // the length
                avail -= length;
            }
            i += 4;
        }
        pos = 8 * static_cast<uint64_t>(next - input) - avail;
    }
    // Near the end, bits past the stream read as 0; a code must end inside the stream.
    for (; i < len; ++i) {
        const Decoded d = DecodeOne(tree, table, stream.Peek(pos));
        pos += d.length;
        if (d.length == 0 || pos > stream.Bits()) return std::nullopt;
        output[i] = static_cast<uint8_t>(d.value);
    }
    // The last code ends in the last byte.
    if ((pos + 7) / 8 != count) return std::nullopt;
    return len;
}

}  // namespace tallox

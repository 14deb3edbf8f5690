#include "support/huffman_decoder.h"

#include "support/bit_reader.h"

namespace tallox::test {

namespace {

struct Node {
    int left = -1;
    int right = -1;
    int symbol = -1;  // leaves only
};

// Pre-order: 1 and eight symbol bits for a leaf; 0, then 1 and the left subtree, then either
// 1 and the right subtree or a lone 0 for an empty right part.
int ReadTree(BitReader& reader, std::vector<Node>& nodes, uint32_t depth, HuffmanDecoded& out,
             bool& ok) {
    if (!ok || depth > 300 || reader.overrun) {
        ok = false;
        return -1;
    }
    const int index = static_cast<int>(nodes.size());
    nodes.emplace_back();
    if (reader.Bit() == 1) {
        const uint32_t symbol = reader.Bits(8);
        if (out.codeLength[symbol] != 0) ok = false;  // each value has one leaf at most
        nodes[index].symbol = static_cast<int>(symbol);
        out.codeLength[symbol] = depth;
        if (depth > out.maxDepth) out.maxDepth = depth;
        return index;
    }
    if (reader.Bit() != 1) {
        ok = false;
        return -1;
    }
    const int left = ReadTree(reader, nodes, depth + 1, out, ok);
    nodes[index].left = left;
    if (reader.Bit() == 1) {
        const int right = ReadTree(reader, nodes, depth + 1, out, ok);
        nodes[index].right = right;
    }
    return index;
}

}  // namespace

std::optional<HuffmanDecoded> DecodeHuffman(const uint8_t* data, size_t count, uint32_t len) {
    HuffmanDecoded out;
    BitReader reader{data, count};
    std::vector<Node> nodes;
    bool ok = true;
    ReadTree(reader, nodes, 0, out, ok);
    // A lone leaf at the root cannot occur: even one value gets a one-bit code.
    if (!ok || reader.overrun || nodes[0].symbol >= 0) return std::nullopt;
    out.treeBits = reader.pos;
    out.bytes.reserve(len);
    for (uint32_t i = 0; i < len; ++i) {
        int node = 0;
        while (nodes[node].symbol < 0) {
            const int next = reader.Bit() ? nodes[node].right : nodes[node].left;
            if (reader.overrun || next < 0) return std::nullopt;
            node = next;
        }
        out.bytes.push_back(static_cast<uint8_t>(nodes[node].symbol));
    }
    out.totalBits = reader.pos;
    return out;
}

}  // namespace tallox::test

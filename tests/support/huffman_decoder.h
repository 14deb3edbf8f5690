// Test-only decoder of the Huffman stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tallox::test {

struct HuffmanDecoded {
    std::vector<uint8_t> bytes;
    uint64_t treeBits = 0;          // bits of the code tree
    uint64_t totalBits = 0;         // tree and data
    uint32_t maxDepth = 0;          // longest code in the tree
    uint32_t codeLength[256] = {};  // 0: the value has no leaf
};

// Reads the code tree, then `len` codes, from count bytes; nullopt when the tree is malformed
// or the stream ends early.
std::optional<HuffmanDecoded> DecodeHuffman(const uint8_t* data, size_t count, uint32_t len);

}  // namespace tallox::test

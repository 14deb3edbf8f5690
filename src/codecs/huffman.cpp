#include "codecs/huffman.h"

#include "codecs/detail/byte_histogram.h"
#include "codecs/detail/huffman_tree.h"

namespace tallox {

namespace {

inline void PutBit(HuffmanBitWriter& writer, uint32_t bit) {
    const uint8_t mask = static_cast<uint8_t>(0x80u >> writer.bitIndex);
    if (bit) {
        *writer.bytePtr |= mask;
    } else {
        *writer.bytePtr &= static_cast<uint8_t>(~mask);
    }
    if (++writer.bitIndex == 8) {
        writer.bitIndex = 0;
        ++writer.bytePtr;
    }
}

inline void PutBits(HuffmanBitWriter& writer, uint32_t n, uint32_t value) {
    for (uint32_t i = n; i > 0; --i) PutBit(writer, (value >> (i - 1)) & 1u);
}

inline void SwapRecords(SymbolCode& a, SymbolCode& b) {
    const SymbolCode t = a;
    a = b;
    b = t;
}

// Exchange sort of neighbours; the passes end with the first one that exchanges nothing.
template <typename OutOfOrder>
void ExchangeSort(SymbolCode table[256], OutOfOrder outOfOrder) {
    bool exchanged = true;
    while (exchanged) {
        exchanged = false;
        for (uint32_t p = 1; p < 256; ++p) {
            if (outOfOrder(table[p - 1], table[p])) {
                SwapRecords(table[p - 1], table[p]);
                exchanged = true;
            }
        }
    }
}

}  // namespace

namespace detail {

uint32_t CodedRangeEnd(const SymbolCode table[256]) {
    uint32_t last = 255;
    while (last > 0 && table[last].count == 0) --last;
    return last == 0 ? 1 : last;
}

bool CodesFitIn32Bits(const SymbolCode table[256]) {
    for (uint32_t v = 0; v < 256; ++v) {
        if (table[v].length > 32) return false;
    }
    return true;
}

}  // namespace detail

void WriteBits(HuffmanBitWriter& writer, uint32_t n, uint32_t value) { PutBits(writer, n, value); }

void BuildFrequencyTable(const uint8_t* input, uint32_t len, SymbolCode table[256]) {
    uint32_t counts[256];
    detail::CountByteValues(input, len, counts);
    for (uint32_t v = 0; v < 256; ++v) table[v] = SymbolCode{v, counts[v], 0, 0};
    ExchangeSort(table, [](const SymbolCode& a, const SymbolCode& b) { return a.count < b.count; });
}

void AssignFanoCodes(SymbolCode table[256], HuffmanBitWriter& writer, uint32_t code,
                     uint32_t length, uint32_t first, uint32_t last) {
    // The left part recurses; the right part continues in this loop.
    for (;;) {
        if (first == last) {
            PutBit(writer, 1);
            PutBits(writer, 8, table[first].symbol);
            table[first].code = code;
            table[first].length = length;
            return;
        }
        PutBit(writer, 0);
        uint32_t total = 0;
        for (uint32_t p = first; p <= last; ++p) total += table[p].count;
        const uint32_t half = (total + 1) >> 1;
        uint32_t i = first;
        uint32_t acc = 0;
        while (i < last) {
            acc += table[i].count;
            ++i;
            if (acc >= half) break;
        }
        PutBit(writer, 1);
        AssignFanoCodes(table, writer, code * 2, length + 1, first, i - 1);
        if (total - acc == 0) {
            PutBit(writer, 0);
            return;
        }
        PutBit(writer, 1);
        code = code * 2 + 1;
        length = length + 1;
        first = i;
    }
}

uint32_t EncodeHuffman(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    HuffmanBitWriter writer{output, 0};
    SymbolCode table[256];
    BuildFrequencyTable(input, len, table);
    AssignFanoCodes(table, writer, 0, 0, 0, detail::CodedRangeEnd(table));
    if (!detail::CodesFitIn32Bits(table)) return 0;
    ExchangeSort(table,
                 [](const SymbolCode& a, const SymbolCode& b) { return a.symbol > b.symbol; });
    for (uint32_t i = 0; i < len; ++i) {
        const SymbolCode& record = table[input[i]];
        PutBits(writer, record.length, record.code);
    }
    const auto full = static_cast<uint32_t>(writer.bytePtr - output);
    return writer.bitIndex != 0 ? full + 1 : full;
}

}  // namespace tallox

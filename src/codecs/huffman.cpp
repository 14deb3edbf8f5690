#include "codecs/huffman.h"

#include <algorithm>
#include <cstddef>

#include "codecs/detail/big_endian.h"
#include "codecs/detail/byte_histogram.h"
#include "codecs/detail/check.h"
#include "codecs/detail/huffman_tree.h"

namespace tallox {

using detail::HuffmanBitWriter;
using detail::SymbolCode;

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

// Each byte value's code, left-aligned in 64 bits, and its length.
struct DataCodes {
    uint64_t leftAligned[256];
    uint8_t length[256];
};

// The data section from the writer's position on, totalBits being where the stream ends
// (counted from output byte 0). Codes go into a 64-bit accumulator whose top `pending` bits
// are the stream's next bits; a flush stores all eight bytes and advances by the whole bytes.
// That stores ahead of the stream, so it is used only while all eight bytes lie before the
// last partly written byte: they are rewritten by later flushes and end up fully written.
// The rest goes out byte by byte, and the last partial byte merges with what the area held.
template <int kCodesPerFlush>
uint8_t* WriteData(const uint8_t* input, uint32_t len, const DataCodes& codes, uint8_t* output,
                   HuffmanBitWriter writer, uint64_t totalBits) {
    uint8_t* ptr = writer.bytePtr;
    uint32_t pending = writer.bitIndex;
    // The bits of the tree already in the byte being filled lead the accumulator.
    uint64_t acc = pending ? static_cast<uint64_t>(*ptr >> (8 - pending)) << (64 - pending) : 0;
    uint8_t* const lastPartial = output + (totalBits >> 3);
    size_t i = 0;
    // Invariant: pending <= 7 at the top; kCodesPerFlush codes add at most 56 bits.
    while (len - i >= static_cast<size_t>(kCodesPerFlush) && lastPartial - ptr >= 8) {
        TALLOX_DCHECK(pending <= 7);
        for (int c = 0; c < kCodesPerFlush; ++c) {
            const uint8_t b = input[i + c];
            acc |= codes.leftAligned[b] >> pending;
            pending += codes.length[b];
        }
        i += kCodesPerFlush;
        detail::StoreBigEndian64(ptr, acc);
        ptr += pending >> 3;
        acc <<= pending & ~7u;
        pending &= 7;
    }
    for (; i < len; ++i) {
        const uint8_t b = input[i];
        acc |= codes.leftAligned[b] >> pending;
        pending += codes.length[b];
        while (pending >= 8) {
            *ptr++ = static_cast<uint8_t>(acc >> 56);
            acc <<= 8;
            pending -= 8;
        }
    }
    if (pending != 0) {
        const auto mask = static_cast<uint8_t>(0xFF00u >> pending);
        *ptr = static_cast<uint8_t>((*ptr & ~mask) | (static_cast<uint8_t>(acc >> 56) & mask));
        ++ptr;
    }
    TALLOX_DCHECK(static_cast<uint64_t>(ptr - output) == (totalBits + 7) / 8);
    return ptr;
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

void WriteBits(HuffmanBitWriter& writer, uint32_t n, uint32_t value) { PutBits(writer, n, value); }

void BuildFrequencyTable(const uint8_t* input, uint32_t len, SymbolCode table[256]) {
    uint32_t counts[256];
    CountByteValues(input, len, counts);
    for (uint32_t v = 0; v < 256; ++v) table[v] = SymbolCode{v, counts[v], 0, 0};
    // Stable: among equal counts the smaller value comes first.
    std::stable_sort(table, table + 256,
                     [](const SymbolCode& a, const SymbolCode& b) { return a.count > b.count; });
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

}  // namespace detail

uint32_t EncodeHuffman(const uint8_t* input, uint8_t* output, uint32_t len) {
    if (len == 0) return 0;
    HuffmanBitWriter writer{output, 0};
    SymbolCode table[256];
    detail::BuildFrequencyTable(input, len, table);
    detail::AssignFanoCodes(table, writer, 0, 0, 0, detail::CodedRangeEnd(table));
    if (!detail::CodesFitIn32Bits(table)) return 0;

    // Scattered into byte-value order for the data section.
    DataCodes codes;
    uint64_t dataBits = 0;
    uint32_t longest = 0;
    for (uint32_t p = 0; p < 256; ++p) {
        const SymbolCode& r = table[p];
        codes.length[r.symbol] = static_cast<uint8_t>(r.length);
        codes.leftAligned[r.symbol] =
            r.length == 0 ? 0 : static_cast<uint64_t>(r.code) << (64 - r.length);
        dataBits += static_cast<uint64_t>(r.count) * r.length;
        if (r.count != 0 && r.length > longest) longest = r.length;
    }

    const uint64_t totalBits =
        8 * static_cast<uint64_t>(writer.bytePtr - output) + writer.bitIndex + dataBits;
    // As many codes per flush as keep the accumulator within 63 bits: 7 + k * longest <= 63.
    uint8_t* end;
    switch (longest <= 8 ? 7 : 56 / longest) {
        case 7:
            end = WriteData<7>(input, len, codes, output, writer, totalBits);
            break;
        case 6:
            end = WriteData<6>(input, len, codes, output, writer, totalBits);
            break;
        case 5:
            end = WriteData<5>(input, len, codes, output, writer, totalBits);
            break;
        case 4:
            end = WriteData<4>(input, len, codes, output, writer, totalBits);
            break;
        case 3:
            end = WriteData<3>(input, len, codes, output, writer, totalBits);
            break;
        case 2:
            end = WriteData<2>(input, len, codes, output, writer, totalBits);
            break;
        default:
            end = WriteData<1>(input, len, codes, output, writer, totalBits);
            break;
    }
    return static_cast<uint32_t>(end - output);
}

}  // namespace tallox

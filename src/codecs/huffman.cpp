#include "codecs/huffman.h"

#include <cstddef>
#include <cstring>

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

// Exchange sort of neighbours over packed records whose sort field is key >> shift; a pass
// compares positions p - 1 and p for p = 1 to 255 and exchanges them when `Before` says the
// record at p belongs first; the passes end with the first that exchanges nothing. The record
// moving up a pass is carried in a register, and the exchanges are selects, not branches.
template <unsigned shift, typename Before>
void ExchangeSort(uint64_t keys[256], Before before) {
    bool exchanged = true;
    while (exchanged) {
        uint64_t carried = keys[0];
        uint64_t any = 0;
        for (uint32_t p = 1; p < 256; ++p) {
            const uint64_t next = keys[p];
            const uint64_t swap = before(next >> shift, carried >> shift) ? 1 : 0;
            keys[p - 1] = swap ? next : carried;
            carried = swap ? carried : next;
            any |= swap;
        }
        keys[255] = carried;
        exchanged = any != 0;
    }
}

// Sort by count, descending: key = count << 32 | symbol.
void SortByCount(uint64_t keys[256]) {
    ExchangeSort<32>(keys, [](uint64_t next, uint64_t prev) { return prev < next; });
}

// Sort by symbol, ascending: key = symbol << 40 | length << 32 | code.
void SortBySymbol(uint64_t keys[256]) {
    ExchangeSort<40>(keys, [](uint64_t next, uint64_t prev) { return prev > next; });
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
        for (int c = 0; c < kCodesPerFlush; ++c) {
            const uint8_t b = input[i + c];
            acc |= codes.leftAligned[b] >> pending;
            pending += codes.length[b];
        }
        i += kCodesPerFlush;
        const uint64_t bigEndian = __builtin_bswap64(acc);
        std::memcpy(ptr, &bigEndian, 8);
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

}  // namespace detail

void WriteBits(HuffmanBitWriter& writer, uint32_t n, uint32_t value) { PutBits(writer, n, value); }

void BuildFrequencyTable(const uint8_t* input, uint32_t len, SymbolCode table[256]) {
    uint32_t counts[256];
    detail::CountByteValues(input, len, counts);
    uint64_t keys[256];
    for (uint32_t v = 0; v < 256; ++v) keys[v] = static_cast<uint64_t>(counts[v]) << 32 | v;
    SortByCount(keys);
    for (uint32_t p = 0; p < 256; ++p) {
        table[p] = SymbolCode{static_cast<uint32_t>(keys[p] & 0xFF),
                              static_cast<uint32_t>(keys[p] >> 32), 0, 0};
    }
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

    uint64_t keys[256];
    uint64_t dataBits = 0;
    uint32_t longest = 0;
    for (uint32_t p = 0; p < 256; ++p) {
        const SymbolCode& r = table[p];
        keys[p] =
            static_cast<uint64_t>(r.symbol) << 40 | static_cast<uint64_t>(r.length) << 32 | r.code;
        dataBits += static_cast<uint64_t>(r.count) * r.length;
        if (r.count != 0 && r.length > longest) longest = r.length;
    }
    SortBySymbol(keys);
    DataCodes codes;
    for (uint32_t v = 0; v < 256; ++v) {
        const auto length = static_cast<uint32_t>(keys[v] >> 32) & 0xFF;
        codes.length[v] = static_cast<uint8_t>(length);
        codes.leftAligned[v] = length == 0 ? 0 : (keys[v] & 0xFFFFFFFFu) << (64 - length);
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

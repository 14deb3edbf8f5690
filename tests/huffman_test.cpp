#include "codecs/huffman.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "codecs/detail/huffman_tree.h"
#include "support/guarded_area.h"
#include "support/stream_end.h"
#include "support/test_data.h"

namespace tallox {
namespace {

constexpr size_t kSlack = 64;

struct Encoded {
    uint32_t count;
    std::vector<uint8_t> area;  // the whole output area, count bytes and the slack after them
};

// Room for the tree and the longest data section that inputs of these tests produce.
Encoded EncodeInto(const std::vector<uint8_t>& input, uint8_t fill, size_t dataBytesPerByte = 4) {
    Encoded e;
    e.area.assign(384 + input.size() * dataBytesPerByte + kSlack, fill);
    e.count = EncodeHuffman(input.data(), e.area.data(), static_cast<uint32_t>(input.size()));
    return e;
}

std::optional<std::vector<uint8_t>> Decode(const uint8_t* stream, uint32_t count, size_t len) {
    std::vector<uint8_t> out(len);
    if (!DecodeHuffman(stream, count, out.data(), static_cast<uint32_t>(len))) return std::nullopt;
    return out;
}

// The stream, which must decode to the input.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& input) {
    Encoded e = EncodeInto(input, 0x00);
    e.area.resize(e.count);
    EXPECT_EQ(Decode(e.area.data(), e.count, input.size()), input);
    return e.area;
}

// Decodes to the input, and leaves the bits after the stream and the bytes after the count as
// the area held them.
void ExpectRoundTrip(const std::vector<uint8_t>& input, const std::string& what) {
    const Encoded e = EncodeInto(input, test::kAreaFill);
    EXPECT_EQ(Decode(e.area.data(), e.count, input.size()), input) << what;
    EXPECT_TRUE(test::UntouchedFrom(e.area, e.count)) << what;
    const auto len = static_cast<uint32_t>(input.size());
    EXPECT_EQ(
        test::CheckStreamEnd([&](uint8_t* area) { return EncodeHuffman(input.data(), area, len); },
                             e.area.size(),
                             [&](const uint8_t* stream, uint32_t count) {
                                 return Decode(stream, count, len) == input;
                             }),
        "")
        << what;
}

TEST(EncodeHuffman, WorkedExamples) {
    using test::FromHex;
    const std::vector<uint8_t> abracadabra = {'a', 'b', 'r', 'a', 'c', 'a',
                                              'd', 'a', 'b', 'r', 'a'};
    EXPECT_EQ(Encode(abracadabra), FromHex("5B 0E C5 6E 56 C7 B2 0C 63 8C 00"));
    EXPECT_EQ(Encode(FromHex("61 61 61 62 62 62 63 63")), FromHex("5B 0E C5 B1 80 AE"));
    EXPECT_EQ(Encode(FromHex("61 62")), FromHex("6C 3B 12"));
    EXPECT_EQ(Encode(FromHex("62 61")), FromHex("6C 3B 14"));
    EXPECT_EQ(Encode(FromHex("41")), FromHex("68 20"));
    EXPECT_EQ(Encode(std::vector<uint8_t>(16, 0x7A)), FromHex("6F 40 00 00"));

    // 256 leaves and 255 inner nodes, 3069 bits, then a code of 8 bits for each value.
    ExpectRoundTrip(test::AllValues(), "all values");
    EXPECT_EQ(Encode(test::AllValues()).size(), 640u);
}

TEST(EncodeHuffman, OneValueTakesOneBitPerByte) {
    for (uint32_t n = 1; n <= 40; ++n) {
        const std::vector<uint8_t> input(n, 0xC3);
        const std::vector<uint8_t> out = Encode(input);
        ASSERT_EQ(out.size(), (12 + n + 7) / 8) << n;
        // Tree 0 1 1 11000011 0, then n zero bits.
        EXPECT_EQ(out[0], 0x78) << n;
        EXPECT_EQ(out[1] & 0xF0, 0x60) << n;
        for (size_t i = 2; i < out.size(); ++i) EXPECT_EQ(out[i], 0x00) << n;
        ExpectRoundTrip(input, "one value " + std::to_string(n));
    }
}

TEST(EncodeHuffman, UnwrittenBitsOfTheLastByteKeepTheirValue) {
    // 41: 13 bits, so the low three bits of byte 1 are the area's.
    Encoded e = EncodeInto(test::FromHex("41"), 0xFF);
    EXPECT_EQ(e.count, 2u);
    EXPECT_EQ(e.area[0], 0x68);
    EXPECT_EQ(e.area[1], 0x27);
    EXPECT_EQ(e.area[2], 0xFF);
}

TEST(EncodeHuffman, EmptyInputWritesNothing) {
    uint8_t area[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    const uint8_t dummy = 0;
    EXPECT_EQ(EncodeHuffman(&dummy, area, 0), 0u);
    for (uint8_t b : area) EXPECT_EQ(b, 0xA5);
}

TEST(BuildFrequencyTable, DescendingCountsStableForTies) {
    detail::SymbolCode table[256];
    const std::vector<uint8_t> input = test::FromHex("09 05 05 07 07 02 09 09 01");
    detail::BuildFrequencyTable(input.data(), static_cast<uint32_t>(input.size()), table);
    const uint32_t expectedSymbols[] = {9, 5, 7, 1, 2, 0, 3, 4, 6, 8, 10};
    const uint32_t expectedCounts[] = {3, 2, 2, 1, 1, 0, 0, 0, 0, 0, 0};
    for (uint32_t p = 0; p < 11; ++p) {
        EXPECT_EQ(table[p].symbol, expectedSymbols[p]) << p;
        EXPECT_EQ(table[p].count, expectedCounts[p]) << p;
        EXPECT_EQ(table[p].code, 0u);
        EXPECT_EQ(table[p].length, 0u);
    }
    EXPECT_EQ(table[255].symbol, 255u);
    EXPECT_EQ(detail::CodedRangeEnd(table), 4u);
}

TEST(CodedRangeEnd, OneValueIncludesOneEmptyRecord) {
    detail::SymbolCode table[256];
    const std::vector<uint8_t> one(5, 0x33);
    detail::BuildFrequencyTable(one.data(), 5, table);
    EXPECT_EQ(detail::CodedRangeEnd(table), 1u);
    const std::vector<uint8_t> all = test::AllValues();
    detail::BuildFrequencyTable(all.data(), 256, table);
    EXPECT_EQ(detail::CodedRangeEnd(table), 255u);
}

TEST(AssignFanoCodes, CutAtFirstPrefixReachingHalf) {
    // Counts 3, 3, 2: the prefix 3 falls short of 4, so the cut is {3, 3} | {2}.
    detail::SymbolCode table[256];
    const std::vector<uint8_t> input = test::FromHex("10 10 10 20 20 20 30 30");
    detail::BuildFrequencyTable(input.data(), 8, table);
    uint8_t area[16] = {};
    detail::HuffmanBitWriter writer{area, 0};
    detail::AssignFanoCodes(table, writer, 0, 0, 0, 2);
    EXPECT_EQ(table[0].code, 0b00u);
    EXPECT_EQ(table[0].length, 2u);
    EXPECT_EQ(table[1].code, 0b01u);
    EXPECT_EQ(table[1].length, 2u);
    EXPECT_EQ(table[2].code, 0b1u);
    EXPECT_EQ(table[2].length, 1u);
    EXPECT_EQ(writer.bytePtr - area, 4);  // 33 tree bits
    EXPECT_EQ(writer.bitIndex, 1u);
}

TEST(WriteBits, SetsAndClearsSingleBits) {
    uint8_t area[6] = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x5A};
    detail::HuffmanBitWriter writer{area, 3};
    detail::WriteBits(writer, 0, 0xFFFFFFFF);
    EXPECT_EQ(writer.bitIndex, 3u);
    detail::WriteBits(writer, 5, 0b01010);  // fills byte 0 exactly
    EXPECT_EQ(area[0], 0xEA);
    EXPECT_EQ(writer.bytePtr, area + 1);
    EXPECT_EQ(writer.bitIndex, 0u);
    detail::WriteBits(writer, 32, 0x0F00FF0F);
    EXPECT_EQ(area[1], 0x0F);
    EXPECT_EQ(area[2], 0x00);
    EXPECT_EQ(area[3], 0xFF);
    EXPECT_EQ(area[4], 0x0F);
    detail::WriteBits(writer, 3, 0b111);
    EXPECT_EQ(area[5], 0xFA);  // high three set, the rest as it was
    EXPECT_EQ(writer.bitIndex, 3u);
}

// A code of 32 bits is accepted; 33 makes the encoder give up.
TEST(CodesFitIn32Bits, LengthGuard) {
    detail::SymbolCode table[256];
    for (uint32_t v = 0; v < 256; ++v) table[v] = detail::SymbolCode{v, 1, 0, 8};
    EXPECT_TRUE(detail::CodesFitIn32Bits(table));
    table[200].length = 32;
    EXPECT_TRUE(detail::CodesFitIn32Bits(table));
    table[255].length = 33;
    EXPECT_FALSE(detail::CodesFitIn32Bits(table));
}

// A table no input of 32-bit length can produce: counts so large that the cut always leaves a
// single record on the left, so the tree deepens by one per record.
TEST(CodesFitIn32Bits, HandMadeTableYieldsTooLongCodes) {
    for (uint32_t records : {33u, 34u, 40u}) {
        detail::SymbolCode table[256];
        for (uint32_t v = 0; v < 256; ++v)
            table[v] = detail::SymbolCode{v, v < records ? 0xFFFFFFFFu : 0, 0, 0};
        uint8_t area[256] = {};
        detail::HuffmanBitWriter writer{area, 0};
        detail::AssignFanoCodes(table, writer, 0, 0, 0, records - 1);
        EXPECT_EQ(table[records - 1].length, records - 1);
        EXPECT_EQ(detail::CodesFitIn32Bits(table), records - 1 <= 32) << records;
        // The tree is written in full either way: 12k - 3 bits.
        EXPECT_EQ(8 * (writer.bytePtr - area) + writer.bitIndex, 12 * records - 3);
    }
}

TEST(EncodeHuffman, DeepCodeDecodes) {
    // Counts 2^20, 2^19, ..., 2, 1, 1 give the two rarest values codes of 21 bits.
    constexpr uint32_t kDepth = 21;
    std::vector<uint8_t> input;
    input.reserve(size_t{1} << kDepth);
    for (uint32_t s = 0; s < kDepth; ++s)
        input.insert(input.end(), size_t{1} << (kDepth - 1 - s), static_cast<uint8_t>(s));
    input.push_back(kDepth);
    for (size_t i = 0; i < input.size(); ++i)
        std::swap(input[i], input[(i * 2654435761u) % input.size()]);
    ExpectRoundTrip(input, "deep");
    // 22 leaves; value s has a code of s + 1 bits, the last two of 21.
    uint64_t bits = 12 * 22 - 3;
    for (uint32_t s = 0; s < kDepth; ++s) bits += (uint64_t{1} << (kDepth - 1 - s)) * (s + 1);
    EXPECT_EQ(Encode(input).size(), (bits + kDepth + 7) / 8);
}

TEST(DecodeHuffman, MalformedStreams) {
    // "41": tree 0 1 1 01000001 0 (a leaf on the left, nothing on the right), then code 0.
    struct Case {
        const char* stream;
        std::optional<std::vector<uint8_t>> decoded;
    };
    const Case cases[] = {
        {"68 20", test::FromHex("41")}, {"68 28", std::nullopt},  // code 1 leads nowhere
        {"68", std::nullopt},                                     // the tree cut off
        {"68 20 00", std::nullopt},                               // a byte after the last code
        {"A0 80", std::nullopt},                                  // a leaf at the root
        {"00 00", std::nullopt},  // an inner node without its left part
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> stream = test::FromHex(c.stream);
        EXPECT_EQ(Decode(stream.data(), static_cast<uint32_t>(stream.size()), 1), c.decoded)
            << c.stream;
    }
    // Codes that run past the stream.
    const std::vector<uint8_t> random = test::RandomBytes(500, 7);
    const std::vector<uint8_t> stream = Encode(random);
    EXPECT_EQ(Decode(stream.data(), static_cast<uint32_t>(stream.size()) - 1, 500), std::nullopt);
}

TEST(EncodeHuffman, RoundTrips) {
    for (uint32_t size = 1; size <= 100; ++size) {
        ExpectRoundTrip(test::RandomBytes(size, size), "random " + std::to_string(size));
        ExpectRoundTrip(test::RandomFromAlphabet(size, size, 2), "two values");
        ExpectRoundTrip(test::RandomFromAlphabet(size, size, 5, 0xFB), "five top values");
    }
    for (uint32_t seed = 0; seed < 4; ++seed) {
        ExpectRoundTrip(test::RandomBytes(100000 + seed, seed), "random");
        ExpectRoundTrip(test::RandomRuns(100000, seed, 300), "runs");
        ExpectRoundTrip(test::RandomFromAlphabet(50000, seed, 2, 0xFE), "two values");
        ExpectRoundTrip(test::RandomFromAlphabet(50000, seed, 1 + seed * 60), "alphabet");
    }
    // A skewed distribution: value v about twice as frequent as value v + 1.
    std::vector<uint8_t> skewed;
    for (uint32_t v = 0; v < 17; ++v) {
        skewed.insert(skewed.end(), 1u << (17 - v), static_cast<uint8_t>(v));
    }
    for (size_t i = 0; i < skewed.size(); ++i)
        std::swap(skewed[i], skewed[(i * 40503u) % skewed.size()]);
    ExpectRoundTrip(skewed, "skewed");
}

}  // namespace
}  // namespace tallox

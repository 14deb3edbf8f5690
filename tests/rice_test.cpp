#include "codecs/rice.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "codecs/detail/rice_code.h"
#include "support/guarded_area.h"
#include "support/stream_end.h"
#include "support/test_data.h"

namespace tallox {
namespace {

constexpr uint8_t kFill = test::kAreaFill;
constexpr size_t kSlack = 32;

struct Encoded {
    uint32_t count;
    std::vector<uint8_t> area;  // len + 1 bytes the encoder may touch, then kSlack more
};

Encoded EncodeInto(const std::vector<uint8_t>& input, uint32_t type, uint8_t fill = kFill) {
    Encoded e;
    e.area.assign(input.size() + 1 + kSlack, fill);
    e.count = EncodeRice(input.data(), e.area.data(), static_cast<uint32_t>(input.size()), type);
    for (size_t i = input.size() + 1; i < e.area.size(); ++i) {
        if (e.area[i] != fill) {
            ADD_FAILURE() << "byte " << i << " past len + 1 was written";
            break;
        }
    }
    return e;
}

uint32_t Width(uint32_t type) { return type <= 2 ? 1 : type <= 4 ? 2 : 4; }

// The first len / width * width bytes the stream decodes to; nullopt when it does not.
std::optional<std::vector<uint8_t>> Decode(const uint8_t* stream, uint32_t count, uint32_t len,
                                           uint32_t type) {
    std::vector<uint8_t> out(len / Width(type) * Width(type));
    const auto size = DecodeRice(stream, count, out.data(), len, type);
    if (!size) return std::nullopt;
    EXPECT_EQ(*size, out.size());
    return out;
}

std::vector<uint8_t> WholeSamples(const std::vector<uint8_t>& input, uint32_t type) {
    return std::vector<uint8_t>(input.begin(),
                                input.begin() + input.size() / Width(type) * Width(type));
}

// The count bytes, with the unwritten bits of a partly written last byte as the area held
// them; the stream must decode to the input.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& input, uint32_t type) {
    Encoded e = EncodeInto(input, type, 0x00);
    e.area.resize(e.count);
    const auto len = static_cast<uint32_t>(input.size());
    EXPECT_EQ(Decode(e.area.data(), e.count, len, type), WholeSamples(input, type));
    return e.area;
}

std::vector<uint8_t> Samples(uint32_t type, const std::vector<int64_t>& values) {
    return test::LittleEndian(values, Width(type));
}

// Decodes the stream and checks the count, the form chosen and the bits after the stream.
Encoded ExpectRoundTrip(const std::vector<uint8_t>& input, uint32_t type, const std::string& what) {
    const Encoded e = EncodeInto(input, type);
    const auto len = static_cast<uint32_t>(input.size());
    const uint64_t n = len / Width(type);
    if (n == 0) {
        EXPECT_EQ(e.count, 0u) << what;
        return e;
    }
    EXPECT_LE(e.count, len + 1) << what;
    const std::vector<uint8_t> samples = WholeSamples(input, type);
    EXPECT_EQ(Decode(e.area.data(), e.count, len, type), samples) << what;
    if (e.area[0] == 0) {
        EXPECT_EQ(e.count, 1 + n * Width(type)) << what;
    } else {
        EXPECT_TRUE(test::UntouchedFrom(e.area, e.count, size_t{len} + 1)) << what;
    }
    EXPECT_EQ(test::CheckStreamEnd(
                  [&](uint8_t* area) { return EncodeRice(input.data(), area, len, type); }, len + 1,
                  [&](const uint8_t* stream, uint32_t count) {
                      return Decode(stream, count, len, type) == samples;
                  }),
              "")
        << what;
    return e;
}

TEST(EncodeRice, WorkedExamples) {
    using test::FromHex;
    EXPECT_EQ(Encode(FromHex("03 00 00 00 FE FF FF FF 07 00 00 00 00 00 00 00 28 00 00 00"), 7),
              FromHex("03 63 B0 7F E0"));

    std::vector<uint8_t> second(20, 0x03);
    std::fill(second.begin() + 16, second.end(), 0x30);
    EXPECT_EQ(Encode(second, 2), FromHex("02 6D B6 DB 6D B6 DB FF E0 FF E0 FC 3F 00"));

    EXPECT_EQ(Encode(std::vector<uint8_t>(80, 0), 7), FromHex("01 00 00 00 00 00"));

    const std::vector<uint8_t> fourth =
        Samples(7, {1 << 30, -(1 << 30) - 1, 1 << 30, -(1 << 30) - 1, 1, 2});
    EXPECT_EQ(Encode(fourth, 7), FromHex("00 80 00 00 00 80 00 00 01 80 00 00 00 80 00 00 01 "
                                         "00 00 00 02 00 00 00 04"));
}

TEST(EncodeRice, PrefilledAreaKeepsUnwrittenBits) {
    const Encoded e = EncodeInto(std::vector<uint8_t>(80, 0), 7, 0xA5);
    ASSERT_EQ(e.count, 6u);
    EXPECT_EQ(std::vector<uint8_t>(e.area.begin(), e.area.begin() + 6),
              test::FromHex("01 00 00 00 00 05"));
    for (size_t i = 6; i < e.area.size(); ++i) EXPECT_EQ(e.area[i], 0xA5) << i;
}

TEST(EncodeRice, RawFormLeavesCodedBytesPastIt) {
    // Example 4 with two bytes more: len = 26, so the raw form takes 25 bytes, len - 1, and
    // bytes 25 and 26 keep what the coding pass wrote there (the zeros of sample 4's code).
    std::vector<uint8_t> input =
        Samples(7, {1 << 30, -(1 << 30) - 1, 1 << 30, -(1 << 30) - 1, 1, 2});
    input.push_back(0x77);
    input.push_back(0x88);
    const Encoded e = EncodeInto(input, 7);
    EXPECT_EQ(e.count, 25u);
    EXPECT_EQ(e.area[0], 0x00);
    EXPECT_EQ(e.area[24], 0x04);
    EXPECT_EQ(e.area[25], 0x00);
    EXPECT_EQ(e.area[26], 0x00);
    EXPECT_EQ(e.area[27], kFill);
}

TEST(EncodeRice, NothingWrittenForShortInputsOrUnsupportedTypes) {
    const std::vector<uint8_t> three = test::FromHex("01 02 03");
    EXPECT_EQ(EncodeInto(three, 7).count, 0u);
    EXPECT_EQ(EncodeInto(test::FromHex("01"), 3).count, 0u);
    for (uint32_t type : {1u, 2u, 3u, 4u, 7u, 8u}) EXPECT_EQ(EncodeInto({}, type).count, 0u);
    const std::vector<uint8_t> some = test::RandomBytes(40, 1);
    for (uint32_t type : {0u, 5u, 6u, 9u, 10u, 0xFFFFFFFFu}) {
        const Encoded e = EncodeInto(some, type);
        EXPECT_EQ(e.count, 0u) << type;
        for (uint8_t b : e.area) ASSERT_EQ(b, kFill) << type;
    }
}

TEST(EncodeRice, EdgeCasesAtTheByteLimit) {
    using test::FromHex;
    // One sample, the fifth byte ignored: k0 = 4, code 0 1010.
    const Encoded five = EncodeInto(FromHex("05 00 00 00 09"), 7);
    EXPECT_EQ(five.count, 2u);
    EXPECT_EQ(five.area[0], 0x04);
    EXPECT_EQ(five.area[1] & 0xF8, 0x50);
    EXPECT_EQ(five.area[1] & 0x07, kFill & 0x07);
    // 17 bits in a limit of 16: the last bit is dropped and the raw form follows.
    EXPECT_EQ(Encode(FromHex("FF"), 2), FromHex("00 FF"));
    // Exactly 16 bits: the writer is full after the last sample, so raw again.
    EXPECT_EQ(Encode(FromHex("7F"), 2), FromHex("00 7F"));
    // k0 = 32: 41 bits in a limit of 40.
    EXPECT_EQ(Encode(FromHex("FF FF FF FF"), 8), FromHex("00 FF FF FF FF"));
    // A value with fewer bits fits: 3F, k0 = 6, 0 111111 is 15 bits.
    EXPECT_EQ(Encode(FromHex("3F"), 2), FromHex("06 7E"));
}

TEST(EncodeRice, RingTakesOverAtSampleSixteen) {
    // Zeros: k0 is raised to 1, so the first 16 samples take two bits; from sample 16 on the
    // ring's mean, 0, gives one bit each.
    EXPECT_EQ(Encode(std::vector<uint8_t>(16, 0), 2), test::FromHex("01 00 00 00 00"));
    EXPECT_EQ(Encode(std::vector<uint8_t>(17, 0), 2), test::FromHex("01 00 00 00 00 00"));
    EXPECT_EQ(Encode(std::vector<uint8_t>(24, 0), 2).size(), 6u);
    EXPECT_EQ(Encode(std::vector<uint8_t>(25, 0), 2).size(), 7u);
    // The raw form mirrors signed samples through zig-zag, 16-bit values high byte first.
    EXPECT_EQ(Encode(Samples(3, {-32768}), 3), test::FromHex("00 FF FF"));
    EXPECT_EQ(Encode(Samples(1, {-128}), 1), test::FromHex("00 FF"));
}

TEST(FetchMapped, ZigZagAndWidths) {
    const std::vector<uint8_t> input = test::FromHex("FF 7F 00 80 FF FF FF 7F 00 00 00 80");
    EXPECT_EQ(detail::FetchMapped<Signed8>(input.data(), 0), 1u);    // -1
    EXPECT_EQ(detail::FetchMapped<Signed8>(input.data(), 1), 254u);  // 127
    EXPECT_EQ(detail::FetchMapped<Signed8>(input.data(), 3), 255u);  // -128
    EXPECT_EQ(detail::FetchMapped<Unsigned8>(input.data(), 3), 0x80u);
    EXPECT_EQ(detail::FetchMapped<Unsigned16>(input.data(), 0), 0x7FFFu);
    EXPECT_EQ(detail::FetchMapped<Signed16>(input.data(), 0), 0xFFFEu);      // 32767
    EXPECT_EQ(detail::FetchMapped<Signed16>(input.data(), 1), 0xFFFFu);      // -32768
    EXPECT_EQ(detail::FetchMapped<Signed32>(input.data(), 1), 0xFFFFFFFEu);  // 2^31 - 1
    EXPECT_EQ(detail::FetchMapped<Signed32>(input.data(), 2), 0xFFFFFFFFu);  // -2^31
    EXPECT_EQ(detail::FetchMapped<Unsigned32>(input.data(), 2), 0x80000000u);
    EXPECT_EQ(detail::FetchMapped<Unsigned32>(input.data() + 1, 0), 0xFF80007Fu);  // unaligned
}

TEST(BitLength, Range) {
    EXPECT_EQ(detail::BitLength(0), 0u);
    EXPECT_EQ(detail::BitLength(1), 1u);
    EXPECT_EQ(detail::BitLength(255), 8u);
    EXPECT_EQ(detail::BitLength(256), 9u);
    EXPECT_EQ(detail::BitLength(0xFFFFFFFFu), 32u);
}

TEST(WriteRiceCode, PrefixesAndRemainders) {
    struct Case {
        uint32_t v;
        uint32_t k;
        const char* bits;
    };
    const Case cases[] = {
        {0, 0, "0"},
        {1, 0, "10"},
        {2, 0, "110"},
        {8, 0, "111111110"},
        {9, 0, "1111111110"},
        {10, 0,
         "11111111110"
         "0"},
        {11, 0,
         "11111111110"
         "1"},
        {12, 0,
         "111111111110"
         "00"},
        {15, 0,
         "111111111110"
         "11"},
        {16, 0,
         "1111111111110"
         "000"},
        {0xFFFFFFFFu, 0,
         "1111111111111111111111111111111111111111"
         "0"
         "1111111111111111111111111110111"},
        {0xFFFFFFFFu, 32,
         "0"
         "11111111111111111111111111111111"},
        {5, 32,
         "0"
         "00000000000000000000000000000101"},
        {37, 2,
         "1111111110"
         "01"},  // q = 9
        {6, 3,
         "0"
         "110"},
    };
    for (const Case& c : cases) {
        uint8_t area[16] = {};
        detail::RiceBitWriter writer{area, 0, 16};
        detail::WriteRiceCode(writer, c.v, c.k);
        std::string written;
        for (uint64_t i = 0; i < writer.bitPos; ++i) {
            written += ((area[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
        }
        EXPECT_EQ(written, c.bits) << c.v << " k " << c.k;
    }
    // The longest code is 72 bits.
    uint8_t area[16] = {};
    detail::RiceBitWriter writer{area, 0, 16};
    detail::WriteRiceCode(writer, 0xFFFFFFFFu, 0);
    EXPECT_EQ(writer.bitPos, 72u);
}

TEST(WriteBit, DropsBitsAtTheLimit) {
    uint8_t area[3] = {0xF0, 0xF0, 0x5A};
    detail::RiceBitWriter writer{area, 4, 2};
    for (int i = 0; i < 4; ++i) detail::WriteBit(writer, 1);
    EXPECT_EQ(area[0], 0xFF);
    for (int i = 0; i < 8; ++i) detail::WriteBit(writer, 0);
    EXPECT_EQ(area[1], 0x00);
    EXPECT_EQ(writer.bitPos, 16u);
    detail::WriteBit(writer, 1);
    EXPECT_EQ(writer.bitPos, 16u);
    EXPECT_EQ(area[2], 0x5A);
    EXPECT_EQ((writer.bitPos + 7) / 8, 2u);
}

TEST(EncodeRice, RoundTripsEveryType) {
    for (uint32_t type : {1u, 2u, 3u, 4u, 7u, 8u}) {
        const std::string name = "type " + std::to_string(type);
        for (uint32_t size = 0; size <= 70; ++size) {
            ExpectRoundTrip(test::RandomBytes(size, size), type, name + " random");
            ExpectRoundTrip(test::RandomFromAlphabet(size, size, 4), type, name + " small");
            ExpectRoundTrip(std::vector<uint8_t>(size, 0), type, name + " zeros");
        }
        for (uint32_t seed = 0; seed < 3; ++seed) {
            // Odd lengths: the trailing bytes that form no sample are ignored.
            ExpectRoundTrip(test::RandomBytes(20001 + seed, seed), type, name + " random");
            ExpectRoundTrip(test::RandomFromAlphabet(20003, seed, 3), type, name + " small");
            ExpectRoundTrip(test::RandomRuns(20002, seed, 200), type, name + " runs");
        }
    }
}

TEST(EncodeRice, RoundTripsWithEscapesAndParameterSwings) {
    // Quiet stretches broken by spikes, so quotients from 9 up to the 72-bit code occur and k
    // falls to 0 and climbs back.
    for (uint32_t type : {7u, 8u, 4u, 1u}) {
        std::vector<int64_t> values;
        for (uint32_t i = 0; i < 3000; ++i) {
            int64_t v = (i % 5 == 0) ? 1 : 0;
            if (i % 97 == 40) v = 4000;
            if (i % 211 == 100) v = type == 8 ? 0xFFFFFFFFLL : -1;
            if (i % 331 == 7) v = type >= 7 ? 0x7FFFFFFF : 0x7F;
            values.push_back(v);
        }
        const Encoded e =
            ExpectRoundTrip(Samples(type, values), type, "spikes " + std::to_string(type));
        EXPECT_NE(e.area[0], 0) << type;  // coded, not raw
    }
    std::vector<int64_t> values(16, 0);
    values.push_back(0xFFFFFFFFLL);  // coded with k = 0: the 72-bit code
    values.push_back(0);
    const Encoded e = ExpectRoundTrip(Samples(8, values), 8, "72-bit code");
    EXPECT_EQ(e.count, (8u + 16 * 2 + 72 + 3 + 7) / 8);  // the ring then gives k = 2
}

TEST(DecodeRice, MalformedStreams) {
    struct Case {
        const char* stream;
        uint32_t len;
        uint32_t type;
        std::optional<std::vector<uint8_t>> decoded;
    };
    using test::FromHex;
    const Case cases[] = {
        {"01 40", 1, Unsigned8, FromHex("01")},                 // k0 1: 0, then remainder 1
        {"00 FF", 1, Signed8, FromHex("80")},                   // raw, zig-zag
        {"00 12 34", 1, Unsigned8, std::nullopt},               // raw of the wrong size
        {"21 00", 1, Unsigned8, std::nullopt},                  // k0 above 32
        {"08 80 00", 1, Unsigned8, std::nullopt},               // 256: beyond the type
        {"08 80", 1, Unsigned8, std::nullopt},                  // the code cut off
        {"01 40 00", 1, Unsigned8, std::nullopt},               // a byte after the last code
        {"01 FF FF FF FF FF FF", 4, Unsigned32, std::nullopt},  // a prefix of no code
        {"01 40", 1, 5, std::nullopt},                          // no such type
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> stream = FromHex(c.stream);
        EXPECT_EQ(Decode(stream.data(), static_cast<uint32_t>(stream.size()), c.len, c.type),
                  c.decoded)
            << c.stream;
    }
}

// Every compiled target writes the same area, byte for byte, as the plainest one.
TEST(EncodeRice, EveryTargetMatchesThePlainest) {
    const std::vector<std::vector<uint8_t>> inputs = {
        test::RandomBytes(30001, 1),      test::RandomFromAlphabet(30002, 2, 5),
        test::RandomRuns(30003, 3, 300),  std::vector<uint8_t>(4099, 0),
        std::vector<uint8_t>(4099, 0xFF),
    };
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (const auto& input : inputs) {
        const auto len = static_cast<uint32_t>(input.size());
        for (uint32_t type : {1u, 2u, 3u, 4u, 7u, 8u}) {
            std::vector<uint8_t> expected(len + 1, kFill);
            hwy::SetSupportedTargetsForTest(targets.back());
            const uint32_t count = EncodeRice(input.data(), expected.data(), len, type);
            for (int64_t target : targets) {
                hwy::SetSupportedTargetsForTest(target);
                std::vector<uint8_t> area(len + 1, kFill);
                EXPECT_EQ(EncodeRice(input.data(), area.data(), len, type), count);
                ASSERT_EQ(area, expected)
                    << hwy::TargetName(target) << " type " << type << " size " << len;
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
    EXPECT_GE(targets.size(), 2u) << "only one target compiled";
}

}  // namespace
}  // namespace tallox

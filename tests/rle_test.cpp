#include "codecs/rle.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <optional>
#include <string>
#include <vector>

#include "codecs/detail/rle_token.h"
#include "codecs/escape_byte.h"
#include "support/guarded_area.h"
#include "support/rle_stream_size.h"
#include "support/test_data.h"

namespace tallox {
namespace {

constexpr uint8_t kFill = test::kAreaFill;
constexpr size_t kSlack = 64;

uint64_t Bound(size_t len) { return 1 + len + len / 256; }

// The stream's bytes decoded into exactly the input's length; nullopt when they do not fit or
// the stream is malformed.
std::optional<std::vector<uint8_t>> Decode(const std::vector<uint8_t>& stream, size_t capacity) {
    std::vector<uint8_t> out(capacity);
    const auto size = DecodeRle(stream.data(), static_cast<uint32_t>(stream.size()), out.data(),
                                static_cast<uint32_t>(capacity));
    if (!size) return std::nullopt;
    out.resize(*size);
    return out;
}

// Encodes into an area prefilled with kFill, checks that nothing past the count was touched
// and that the stream decodes to the input.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> area(Bound(input.size()) + kSlack, kFill);
    const uint32_t count =
        EncodeRle(input.data(), area.data(), static_cast<uint32_t>(input.size()));
    EXPECT_LE(count, Bound(input.size()));
    EXPECT_TRUE(test::UntouchedFrom(area, count));
    area.resize(count);
    EXPECT_EQ(Decode(area, input.size()), input);
    return area;
}

std::vector<uint8_t> Repeat(uint8_t b, size_t n) { return std::vector<uint8_t>(n, b); }

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Decodes to the input, in the one stream the encoder must write.
void ExpectRoundTrip(const std::vector<uint8_t>& input, const std::string& what) {
    const std::vector<uint8_t> encoded = Encode(input);
    if (input.empty()) return;
    const uint8_t escape = SelectEscapeByte(input.data(), static_cast<uint32_t>(input.size()));
    EXPECT_EQ(encoded[0], escape) << what;
    EXPECT_EQ(encoded.size(), test::RleStreamSize(input.data(), input.size(), escape)) << what;
}

TEST(EncodeRle, WorkedExamples) {
    using test::FromHex;
    EXPECT_EQ(Encode(FromHex("41 41 41 41 41 42 43 43 44 44 44 44")),
              FromHex("00 00 04 41 42 43 43 00 03 44"));
    EXPECT_EQ(Encode(FromHex("61 61")), FromHex("00 61 61"));
    EXPECT_EQ(Encode(FromHex("61 61 61")), FromHex("00 61 61 61"));
    EXPECT_EQ(Encode(Repeat(0x61, 4)), FromHex("00 00 03 61"));
    EXPECT_EQ(Encode(Repeat(0x61, 128)), FromHex("00 00 7F 61"));
    EXPECT_EQ(Encode(Repeat(0x61, 129)), FromHex("00 00 80 80 61"));
    EXPECT_EQ(Encode(Repeat(0x78, 200)), FromHex("00 00 80 C7 78"));
    EXPECT_EQ(Encode(Repeat(0x78, 32768)), FromHex("00 00 FF FF 78"));
    EXPECT_EQ(Encode(Repeat(0x78, 32769)), FromHex("00 00 FF FF 78 78"));
    EXPECT_EQ(Encode(FromHex("00")), FromHex("01 00"));
    EXPECT_EQ(Encode(FromHex("41")), FromHex("00 41"));
}

TEST(EncodeRle, EveryValueOnceTwiceAndFourTimes) {
    // Each value once: E = 0x00 occurs, and is written 00 00.
    std::vector<uint8_t> once = test::AllValues(1);
    std::vector<uint8_t> expected = {0x00, 0x00, 0x00};
    for (uint32_t v = 1; v < 256; ++v) expected.push_back(static_cast<uint8_t>(v));
    EXPECT_EQ(Encode(once), expected);

    // Each value twice: the escape run of two is E, 01; the others are copied.
    expected = {0x00, 0x00, 0x01};
    for (uint32_t v = 1; v < 256; ++v) expected.insert(expected.end(), 2, static_cast<uint8_t>(v));
    EXPECT_EQ(Encode(test::AllValues(2)), expected);
    EXPECT_EQ(expected.size(), 513u);

    // Each value four times: all long tokens, the escape value's too.
    expected = {0x00};
    for (uint32_t v = 0; v < 256; ++v) {
        expected.insert(expected.end(), {0x00, 0x03, static_cast<uint8_t>(v)});
    }
    EXPECT_EQ(Encode(test::AllValues(4)), expected);
    EXPECT_EQ(expected.size(), 769u);
}

TEST(EncodeRle, EscapeValueRuns) {
    // 0x10 is the rarest value (9 against 10 or 11 of every other), in runs of 4, 3 and 1
    // that stand between runs of other values.
    std::vector<uint8_t> input;
    std::vector<uint8_t> expected = {0x10};
    for (uint32_t v = 0; v < 256; ++v) {
        if (v == 0x10) continue;
        input.insert(input.end(), 10, static_cast<uint8_t>(v));
        expected.insert(expected.end(), {0x10, 0x09, static_cast<uint8_t>(v)});
        const uint32_t escapeRun = v == 0x20 ? 4 : v == 0x30 ? 3 : 0;
        if (v == 0x50) {
            input.insert(input.end(), {0x10, 0x55, 0x10});  // single escape bytes each side
            expected.insert(expected.end(), {0x10, 0x00, 0x55, 0x10, 0x00});
        }
        input.insert(input.end(), escapeRun, 0x10);
        if (escapeRun == 4) expected.insert(expected.end(), {0x10, 0x03, 0x10});
        if (escapeRun == 3) expected.insert(expected.end(), {0x10, 0x02});
    }
    ASSERT_EQ(SelectEscapeByte(input.data(), static_cast<uint32_t>(input.size())), 0x10);
    EXPECT_EQ(Encode(input), expected);

    // Runs of two: E, 01.
    std::vector<uint8_t> pair = test::AllValues(3);
    pair.erase(pair.begin());  // value 0 now occurs twice
    const std::vector<uint8_t> pairEncoded = Encode(pair);
    EXPECT_EQ(std::vector<uint8_t>(pairEncoded.begin(), pairEncoded.begin() + 3),
              test::FromHex("00 00 01"));
}

TEST(EncodeRle, RunCutsAtLongLengths) {
    using test::FromHex;
    // Exactly two full runs, then a remainder of 3 copied, of 4 as a token, of 129 two-byte.
    EXPECT_EQ(Encode(Repeat(0x7E, 65536)), FromHex("00 00 FF FF 7E 00 FF FF 7E"));
    EXPECT_EQ(Encode(Repeat(0x7E, 65539)), FromHex("00 00 FF FF 7E 00 FF FF 7E 7E 7E 7E"));
    EXPECT_EQ(Encode(Repeat(0x7E, 32772)), FromHex("00 00 FF FF 7E 00 03 7E"));
    EXPECT_EQ(Encode(Repeat(0x7E, 32768 + 129)), FromHex("00 00 FF FF 7E 00 80 80 7E"));
    // A run of 127 and 255 around the one-/two-byte boundary, and 256 (n = 0xFF).
    EXPECT_EQ(Encode(Repeat(0x7E, 127)), FromHex("00 00 7E 7E"));
    EXPECT_EQ(Encode(Repeat(0x7E, 256)), FromHex("00 00 80 FF 7E"));
    EXPECT_EQ(Encode(Repeat(0x7E, 257)), FromHex("00 00 81 00 7E"));
    // Runs around literals: 3 then 4 of neighbouring values.
    EXPECT_EQ(Encode(FromHex("01 02 02 02 03 03 03 03 04")), FromHex("00 01 02 02 02 00 03 03 04"));
}

TEST(EncodeRle, EmptyInputWritesNothing) {
    uint8_t area[4] = {kFill, kFill, kFill, kFill};
    const uint8_t dummy = 0;
    EXPECT_EQ(EncodeRle(&dummy, area, 0), 0u);
    for (uint8_t b : area) EXPECT_EQ(b, kFill);
}

TEST(PutRleRun, TokensAndPosition) {
    uint8_t out[8] = {};
    size_t pos = 3;
    detail::PutRleRun(out, pos, 0x61, 2, 0x00);
    EXPECT_EQ(pos, 5u);
    EXPECT_EQ(out[3], 0x61);
    EXPECT_EQ(out[4], 0x61);

    pos = 0;
    detail::PutRleRun(out, pos, 0x07, 3, 0x07);
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(out[0], 0x07);
    EXPECT_EQ(out[1], 0x02);

    pos = 0;
    detail::PutRleRun(out, pos, 0x07, 4, 0x07);
    EXPECT_EQ(std::vector<uint8_t>(out, out + pos), test::FromHex("07 03 07"));

    pos = 1;
    detail::PutRleRun(out, pos, 0x42, 32768, 0x09);
    EXPECT_EQ(std::vector<uint8_t>(out + 1, out + pos), test::FromHex("09 FF FF 42"));
}

TEST(EncodeRle, WorstCaseMeetsTheBound) {
    // E occurs len / 256 times, always alone: every occurrence grows by one byte.
    std::vector<uint8_t> input;
    for (int i = 0; i < 40; ++i) {
        const std::vector<uint8_t> all = test::AllValues();
        input.insert(input.end(), all.begin(), all.end());
    }
    EXPECT_EQ(Encode(input).size(), Bound(input.size()));
}

TEST(EncodeRle, RoundTrips) {
    for (uint32_t size = 1; size <= 80; ++size) {
        ExpectRoundTrip(test::RandomBytes(size, size), "random " + std::to_string(size));
        ExpectRoundTrip(test::RandomFromAlphabet(size, size, 2), "two values");
        ExpectRoundTrip(test::RandomRuns(size, size, 6), "short runs");
        ExpectRoundTrip(Repeat(static_cast<uint8_t>(size), size), "one value");
    }
    for (uint32_t seed = 0; seed < 6; ++seed) {
        ExpectRoundTrip(test::RandomBytes(70000 + seed * 333, seed), "random");
        ExpectRoundTrip(test::RandomRuns(300000, seed, 40000), "long runs");
        ExpectRoundTrip(test::RandomRuns(20000, seed, 5), "short runs");
        ExpectRoundTrip(test::RandomFromAlphabet(20000, seed, 2, 0x7F), "two values");
    }
    // Every value present, so the escape value has runs of every length too.
    std::vector<uint8_t> mixed = test::AllValues(7);
    const std::vector<uint8_t> runs = test::RandomRuns(50000, 9, 300);
    mixed.insert(mixed.end(), runs.begin(), runs.end());
    ExpectRoundTrip(mixed, "all values and runs");
    ExpectRoundTrip(Concat({Repeat(1, 5), Repeat(2, 32768 * 3 + 1), Repeat(1, 32767)}), "cuts");
}

// A byte that needs a token (the escape value, or the start of four equal bytes) at every
// offset of a literal stretch, so that every lane of a vector block and the tail after the
// last whole block each find it.
TEST(EncodeRle, TokenAtEveryOffset) {
    // Values 1 to 255 in turn, then a single 0 at the offset: every value occurs, 0 the least,
    // so 0 is E and is escaped where it stands.
    for (size_t size : {size_t{520}, size_t{577}}) {
        for (size_t at = 0; at < size; ++at) {
            std::vector<uint8_t> input(size);
            for (size_t i = 0; i < size; ++i) input[i] = static_cast<uint8_t>(1 + i % 255);
            input[at] = 0x00;
            ASSERT_EQ(Encode(input).size(), size + 2) << at;
            ExpectRoundTrip(input, "escape at " + std::to_string(at));
        }
    }
    std::vector<uint8_t> literals;
    for (uint32_t i = 0; i < 200; ++i) {
        literals.push_back(static_cast<uint8_t>(1 + i % 7 + (i / 7) % 3 * 8));
    }
    for (size_t size : {size_t{70}, size_t{131}, size_t{200}}) {
        for (size_t at = 0; at < size; ++at) {
            std::vector<uint8_t> withRun(literals.begin(), literals.begin() + size);
            for (size_t r = at; r < at + 4 && r < size; ++r) withRun[r] = 0xEE;
            ExpectRoundTrip(withRun, "run at " + std::to_string(at));
            // Four bytes become three; a shorter run cut by the end is copied.
            ASSERT_EQ(Encode(withRun).size(), at + 4 <= size ? size : size + 1) << at;
        }
    }
}

TEST(DecodeRle, MalformedOrOverlongStreams) {
    struct Case {
        const char* stream;
        size_t capacity;
        std::optional<std::vector<uint8_t>> decoded;
    };
    using test::FromHex;
    const Case cases[] = {
        {"07 41 07 09 42", 11, FromHex("41 42 42 42 42 42 42 42 42 42 42")},
        {"07 07 00 07 02", 4, FromHex("07 07 07 07")},
        {"07 41 07", 8, std::nullopt},         // cut after E
        {"07 07 09", 16, std::nullopt},        // no value
        {"07 07 80", 16, std::nullopt},        // half a two-byte count
        {"07 07 80 81", 200, std::nullopt},    // no value after it
        {"07 41 07 09 42", 10, std::nullopt},  // a run past the capacity
        {"07 41 42", 1, std::nullopt},         // literals past it
        {"07 07 01", 1, std::nullopt},         // escape bytes past it
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(FromHex(c.stream), c.capacity), c.decoded) << c.stream;
    EXPECT_EQ(Decode({}, 0), std::vector<uint8_t>{});
}

// Every SIMD target compiled into the encoder writes the same bytes as the portable one.
TEST(EncodeRle, EveryTargetWritesTheSameBytes) {
    std::vector<std::vector<uint8_t>> inputs = {
        test::RandomBytes(5000, 1),
        test::RandomRuns(200000, 2, 40000),
        test::RandomRuns(20000, 3, 5),
        test::RandomFromAlphabet(20000, 4, 2),
        test::AllValues(3),
    };
    std::vector<uint8_t> mixed = test::AllValues(1);
    const std::vector<uint8_t> runs = test::RandomRuns(30000, 5, 70);
    mixed.insert(mixed.end(), runs.begin(), runs.end());
    inputs.push_back(mixed);
    for (uint32_t size = 1; size < 140; ++size) inputs.push_back(test::RandomRuns(size, size, 6));

    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    const int64_t portable = targets.back();  // the lowest target: no SIMD instructions
    for (const auto& input : inputs) {
        hwy::SetSupportedTargetsForTest(portable);
        const std::vector<uint8_t> expected = Encode(input);
        for (int64_t target : targets) {
            hwy::SetSupportedTargetsForTest(target);
            ASSERT_EQ(Encode(input), expected)
                << hwy::TargetName(target) << " size " << input.size();
        }
    }
    hwy::SetSupportedTargetsForTest(0);
    EXPECT_GE(targets.size(), 2u) << "only one target compiled";
}

}  // namespace
}  // namespace tallox

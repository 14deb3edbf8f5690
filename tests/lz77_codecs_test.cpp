#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/detail/lz77_reference.h"
#include "codecs/escape_byte.h"
#include "codecs/lz77.h"
#include "codecs/lz77_fast.h"
#include "codecs/lz77_format.h"
#include "codecs/working_block.h"
#include "support/guarded_area.h"
#include "support/lz77_decoder.h"
#include "support/test_data.h"

namespace tallox {
namespace {

using test::FromHex;

constexpr uint8_t kFill = test::kAreaFill;
constexpr int32_t kTableFill = 0x5A5A5A5A;
constexpr size_t kSlack = 64;
constexpr uint32_t kPairKeys = 65536;

uint64_t Bound(size_t len) { return 1 + len + len / 256; }

std::vector<uint8_t> Bytes(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Cuts the output area to the returned count after checking the count against the bound and
// that nothing past it was written.
std::vector<uint8_t> Finish(std::vector<uint8_t> area, uint32_t count, size_t len) {
    EXPECT_LE(count, Bound(len));
    EXPECT_TRUE(test::UntouchedFrom(area, count));
    area.resize(count);
    return area;
}

std::vector<uint8_t> RunLz77(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> area(Bound(input.size()) + kSlack, kFill);
    const auto len = static_cast<uint32_t>(input.size());
    return Finish(std::move(area), EncodeLz77(input.data(), area.data(), len), input.size());
}

std::vector<uint8_t> RunLz77Scalar(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> area(Bound(input.size()) + kSlack, kFill);
    const auto len = static_cast<uint32_t>(input.size());
    return Finish(std::move(area), detail::EncodeLz77Scalar(input.data(), area.data(), len),
                  input.size());
}

using FastEncoder = uint32_t (*)(const uint8_t*, uint8_t*, uint32_t, int32_t*);

// The work table gets kSlack entries more than it needs, all of which must stay untouched.
// EncodeLz77Fast walks its bucket layout on every input a test can afford; the link-by-link
// walk it keeps for longer inputs is run through EncodeLz77FastChained.
std::vector<uint8_t> RunLz77Fast(const std::vector<uint8_t>& input,
                                 std::vector<int32_t>* tableOut = nullptr,
                                 FastEncoder encode = EncodeLz77Fast) {
    std::vector<uint8_t> area(Bound(input.size()) + kSlack, kFill);
    std::vector<int32_t> table(kPairKeys + input.size() + kSlack, kTableFill);
    const auto len = static_cast<uint32_t>(input.size());
    const uint32_t count = encode(input.data(), area.data(), len, table.data());
    EXPECT_TRUE(std::all_of(table.end() - kSlack, table.end(), [](int32_t e) {
        return e == kTableFill;
    })) << "work table written past its end";
    if (tableOut != nullptr) *tableOut = std::move(table);
    return Finish(std::move(area), count, input.size());
}

// Decodes the stream and checks every token against the format's invariants.
void ExpectValidStream(const std::vector<uint8_t>& input, const std::vector<uint8_t>& encoded,
                       uint32_t maxDistance, const std::string& what) {
    if (input.empty()) {
        EXPECT_TRUE(encoded.empty()) << what;
        return;
    }
    ASSERT_FALSE(encoded.empty()) << what;
    EXPECT_EQ(encoded[0], SelectEscapeByte(input.data(), static_cast<uint32_t>(input.size())))
        << what;
    const auto decoded = test::DecodeLz77(encoded.data(), encoded.size());
    ASSERT_TRUE(decoded.has_value()) << what << ": malformed stream";
    EXPECT_TRUE(decoded->shortestGroups) << what;
    ASSERT_EQ(decoded->bytes.size(), input.size()) << what;
    EXPECT_TRUE(decoded->bytes == input) << what << ": round trip differs";
    for (const auto& token : decoded->tokens) {
        EXPECT_GE(token.length, 4u) << what << " at " << token.position;
        EXPECT_LE(token.length, token.distance) << what << " at " << token.position;
        EXPECT_LE(token.distance, maxDistance) << what << " at " << token.position;
        EXPECT_TRUE(AcceptLz77Match(token.length, token.distance))
            << what << " at " << token.position;
    }
}

// Bytes from 0x10 to 0xFF other than A to H (the planted patterns' letters) in which no three
// consecutive bytes occur twice: the only repeats of an input built from pieces of it and
// patterns of A to H are the planted ones. Pieces taken at different offsets never share a
// three-byte string either. Built once, long enough for the longest input.
const std::vector<uint8_t>& Filler() {
    static const std::vector<uint8_t> filler = [] {
        constexpr size_t kSize = 2097152 + 64;
        std::vector<uint8_t> allowed;
        for (uint32_t v = 0x10; v <= 0xFF; ++v) {
            if (v < 'A' || v > 'H') allowed.push_back(static_cast<uint8_t>(v));
        }
        std::vector<bool> seen(1u << 24);
        std::mt19937 rng(77);
        std::vector<uint8_t> bytes = {allowed[0], allowed[1]};
        bytes.reserve(kSize);
        while (bytes.size() < kSize) {
            const uint32_t pair = bytes[bytes.size() - 2] << 16 | bytes.back() << 8;
            const size_t start = rng() % allowed.size();
            size_t i = 0;
            while (i < allowed.size() && seen[pair | allowed[(start + i) % allowed.size()]]) ++i;
            if (i == allowed.size()) throw std::runtime_error("filler ran out of strings");
            const uint8_t b = allowed[(start + i) % allowed.size()];
            seen[pair | b] = true;
            bytes.push_back(b);
        }
        return bytes;
    }();
    return filler;
}

std::vector<uint8_t> Piece(size_t from, size_t count) {
    return std::vector<uint8_t>(Filler().begin() + from, Filler().begin() + from + count);
}

bool EndsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& tail) {
    return bytes.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(), bytes.end() - tail.size());
}

size_t TokenCount(const std::vector<uint8_t>& encoded) {
    const auto decoded = test::DecodeLz77(encoded.data(), encoded.size());
    return decoded ? decoded->tokens.size() : SIZE_MAX;
}

TEST(Lz77Format, GroupNumbersOfTheListedValues) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "00"},
        {4, "04"},
        {127, "7F"},
        {128, "81 00"},
        {200, "81 48"},
        {300, "82 2C"},
        {16383, "FF 7F"},
        {16384, "81 80 00"},
        {100000, "86 8D 20"},
        {100008, "86 8D 28"},
        {2097151, "FF FF 7F"},
        {2097152, "81 80 80 00"},
        {268435455, "FF FF FF 7F"},
        {268435456, "81 80 80 80 00"},
        {4294967295u, "8F FF FF FF 7F"},
    };
    for (const auto& [value, hex] : cases) {
        std::vector<uint8_t> area(8, kFill);
        const uint32_t count = WriteLz77GroupNumber(area.data(), value);
        area.resize(count);
        EXPECT_EQ(area, FromHex(hex)) << value;
    }
}

TEST(Lz77Format, AcceptanceRuleIsTheShorterToken) {
    EXPECT_FALSE(AcceptLz77Match(3, 3));
    EXPECT_TRUE(AcceptLz77Match(4, 127));
    EXPECT_FALSE(AcceptLz77Match(4, 128));
    EXPECT_TRUE(AcceptLz77Match(5, 16383));
    EXPECT_FALSE(AcceptLz77Match(5, 16384));
    EXPECT_TRUE(AcceptLz77Match(6, 2097151));
    EXPECT_FALSE(AcceptLz77Match(6, 2097152));
    EXPECT_TRUE(AcceptLz77Match(7, 268435455));
    EXPECT_FALSE(AcceptLz77Match(7, 268435456));
    EXPECT_TRUE(AcceptLz77Match(8, 4294967295u));
    // Accepted exactly when E, L and the groups of D come out shorter than L.
    uint8_t scratch[8];
    for (uint32_t length = 4; length <= 12; ++length) {
        for (uint32_t shift = 6; shift <= 31; ++shift) {
            for (uint32_t distance : {(1u << shift) - 1, 1u << shift, (1u << shift) + 1}) {
                const uint32_t token = 1 + WriteLz77GroupNumber(scratch, length) +
                                       WriteLz77GroupNumber(scratch, distance);
                EXPECT_EQ(AcceptLz77Match(length, distance), token < length)
                    << length << " at " << distance;
            }
        }
    }
}

TEST(Lz77Codecs, EmptyInputWritesNothing) {
    const uint8_t input = 0x41;
    std::vector<uint8_t> area(16, kFill);
    std::vector<int32_t> table(kPairKeys + 16, kTableFill);
    EXPECT_EQ(EncodeLz77(&input, area.data(), 0), 0u);
    EXPECT_EQ(EncodeLz77Fast(&input, area.data(), 0, table.data()), 0u);
    EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](uint8_t b) { return b == kFill; }));
    EXPECT_TRUE(std::all_of(table.begin(), table.end(), [](int32_t e) { return e == kTableFill; }));
}

// Both encoders give these bytes; every case is shorter than the window.
TEST(Lz77Codecs, WorkedExamples) {
    std::vector<uint8_t> ascending = test::AllValues();
    ascending.insert(ascending.end(), {0, 1, 2, 3, 4});
    // E = 05: 00 to 04 as literals, 05 escaped, 06 to FF, then the 5 bytes 256 back.
    std::string ascendingOut = "05 00 01 02 03 04 05 00";
    const char* digits = "0123456789ABCDEF";
    for (uint32_t v = 6; v <= 0xFF; ++v) {
        ascendingOut += ' ';
        ascendingOut += digits[v / 16];
        ascendingOut += digits[v % 16];
    }
    ascendingOut += " 05 05 82 00";

    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {Bytes("ABC"), "00 41 42 43"},
        {Bytes("AAAA"), "00 41 41 41 41"},
        {Bytes("ABCDABCDABCDABCD"), "00 41 42 43 44 00 04 04 00 08 08"},
        {std::vector<uint8_t>(64, 0), "01 00 00 00 00 01 04 04 01 08 08 01 10 10 01 20 20"},
        {std::vector<uint8_t>(300, 0),
         "01 00 00 00 00 01 04 04 01 08 08 01 10 10 01 20 20 01 40 40 01 81 00 81 00 01 2C 2C"},
        {Bytes("abcdefgh-abcdefgh-abcdefgh!"),
         "00 61 62 63 64 65 66 67 68 2D 00 09 09 00 08 09 21"},
        {ascending, ascendingOut},
        {{0x41}, "00 41"},
        {{0x00}, "01 00"},
        // A match running to the very end of the input.
        {Bytes("ABCDEFGHABCDEFGH"), "00 41 42 43 44 45 46 47 48 00 08 08"},
    };
    for (const auto& [input, hex] : cases) {
        const std::string what = std::to_string(input.size()) + " bytes " + hex.substr(0, 20);
        EXPECT_EQ(RunLz77(input), FromHex(hex)) << what;
        EXPECT_EQ(RunLz77Fast(input), FromHex(hex)) << what;
        EXPECT_EQ(RunLz77Fast(input, nullptr, EncodeLz77FastChained), FromHex(hex)) << what;
    }
    EXPECT_EQ(RunLz77(ascending).size(), 262u);
}

// 4 bytes need a distance of at most 127, 5 bytes at most 16,383; farther copies stay literals.
TEST(Lz77Codecs, DistanceLimitsOfShortMatches) {
    const auto four = Bytes("ABCD");
    const auto five = Bytes("ABCDE");
    const struct {
        std::vector<uint8_t> input;
        std::vector<uint8_t> tail;
        size_t tokens;
    } cases[] = {
        {Concat({four, Piece(0, 123), four}), FromHex("00 04 7F"), 1},
        {Concat({four, Piece(0, 124), four}), four, 0},
        {Concat({five, Piece(0, 16378), five}), FromHex("00 05 FF 7F"), 1},
        {Concat({five, Piece(0, 16379), five}), five, 0},
    };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.input.size()) + " bytes";
        for (const auto& encoded : {RunLz77(c.input), RunLz77Fast(c.input)}) {
            EXPECT_TRUE(EndsWith(encoded, c.tail)) << what;
            EXPECT_EQ(TokenCount(encoded), c.tokens) << what;
            ExpectValidStream(c.input, encoded, kLz77Window, what);
        }
    }
}

// The longest candidate (5 bytes, 20,050 back) is refused; the 4-byte one 50 back that was
// found first is not used instead.
TEST(Lz77Codecs, NoFallbackToAShorterCandidate) {
    const auto input = Concat({Piece(0, 10), Bytes("ABCDE"), Piece(100, 19995), Bytes("ABCDF"),
                               Piece(30000, 45), Bytes("ABCDE")});
    ASSERT_EQ(input.size() - 5 - 10, 20050u);
    for (const auto& encoded : {RunLz77(input), RunLz77Fast(input)}) {
        EXPECT_TRUE(EndsWith(encoded, Bytes("ABCDE")));
        EXPECT_EQ(TokenCount(encoded), 0u);
        EXPECT_EQ(encoded.size(), 1 + input.size());
    }
}

// The window includes 100,000 and stops there; the chains have no limit.
TEST(Lz77Codecs, WindowEdge) {
    const auto eight = Bytes("ABCDEFGH");
    const auto at100000 = Concat({eight, Piece(0, 99992), eight});
    const auto at100001 = Concat({eight, Piece(0, 99993), eight});
    const auto at100008 = Concat({eight, Piece(0, 100000), eight});

    const auto lz77At100000 = RunLz77(at100000);
    EXPECT_TRUE(EndsWith(lz77At100000, FromHex("00 08 86 8D 20")));
    EXPECT_EQ(RunLz77Fast(at100000), lz77At100000);

    const auto lz77At100001 = RunLz77(at100001);
    EXPECT_TRUE(EndsWith(lz77At100001, eight));
    EXPECT_EQ(TokenCount(lz77At100001), 0u);
    EXPECT_TRUE(EndsWith(RunLz77Fast(at100001), FromHex("00 08 86 8D 21")));

    const auto lz77At100008 = RunLz77(at100008);
    EXPECT_TRUE(EndsWith(lz77At100008, eight));
    EXPECT_EQ(TokenCount(lz77At100008), 0u);
    const auto fastAt100008 = RunLz77Fast(at100008);
    EXPECT_TRUE(EndsWith(fastAt100008, FromHex("00 08 86 8D 28")));
    ExpectValidStream(at100008, fastAt100008, UINT32_MAX, "100,008 back");
}

// 100,006 bytes: LZ77 cannot reach the first 5 bytes and takes the 4 bytes 50 back; LZ77 Fast
// finds the 5 bytes 100,001 back, refuses them and writes literals only.
TEST(Lz77Codecs, InputOf100006Bytes) {
    const auto input = Concat(
        {Bytes("ABCDE"), Piece(0, 99946), Bytes("ABCDF"), Piece(200000, 45), Bytes("ABCDE")});
    ASSERT_EQ(input.size(), 100006u);
    const auto lz77 = RunLz77(input);
    EXPECT_TRUE(EndsWith(lz77, FromHex("00 04 32 45")));
    ExpectValidStream(input, lz77, kLz77Window, "LZ77");
    const auto fast = RunLz77Fast(input);
    EXPECT_TRUE(EndsWith(fast, Bytes("ABCDE")));
    EXPECT_EQ(TokenCount(fast), 0u);
}

// 6 bytes may lie at most 2,097,151 back, where the distance takes three groups.
TEST(Lz77Fast, SixByteMatchFarBack) {
    const auto six = Bytes("ABCDEF");
    const auto near = Concat({six, Piece(0, 2097145), six});
    const auto far = Concat({six, Piece(0, 2097146), six});
    const auto nearOut = RunLz77Fast(near);
    EXPECT_TRUE(EndsWith(nearOut, FromHex("00 06 FF FF 7F")));
    EXPECT_EQ(TokenCount(nearOut), 1u);
    const auto farOut = RunLz77Fast(far);
    EXPECT_TRUE(EndsWith(farOut, six));
    EXPECT_EQ(TokenCount(farOut), 0u);
    EXPECT_EQ(farOut.size(), 1 + far.size());
}

int32_t Key(char a, char b) { return static_cast<uint8_t>(a) * 256 + static_cast<uint8_t>(b); }

class Lz77FastWalks : public testing::TestWithParam<FastEncoder> {};
INSTANTIATE_TEST_SUITE_P(Walk, Lz77FastWalks,
                         testing::Values(EncodeLz77Fast, EncodeLz77FastChained),
                         [](const testing::TestParamInfo<Lz77FastWalks::ParamType>& walk) {
                             return walk.param == EncodeLz77Fast ? "Buckets" : "Links";
                         });

TEST_P(Lz77FastWalks, WorkTableIsLeftAsBuilt) {
    const auto input = Bytes("abcdefgh-abcdefgh-abcdefgh!");
    std::vector<int32_t> table;
    RunLz77Fast(input, &table, GetParam());
    const int32_t* head = table.data();
    const int32_t* link = table.data() + kPairKeys;

    // Head: the last position of each of the ten pairs, -1 for every other key.
    const std::pair<int32_t, int32_t> heads[] = {
        {Key('a', 'b'), 18}, {Key('b', 'c'), 19}, {Key('c', 'd'), 20}, {Key('d', 'e'), 21},
        {Key('e', 'f'), 22}, {Key('f', 'g'), 23}, {Key('g', 'h'), 24}, {Key('h', '-'), 16},
        {Key('-', 'a'), 17}, {Key('h', '!'), 25},
    };
    std::vector<int32_t> expectedHead(kPairKeys, -1);
    for (const auto& [key, position] : heads) expectedHead[key] = position;
    EXPECT_TRUE(std::equal(head, head + kPairKeys, expectedHead.begin()));
    EXPECT_EQ(head[Key('b', 'a')], -1);  // the first byte is the high one

    // Links: the chain of ab is 18, 9, 0; the last byte starts no pair.
    const std::vector<int32_t> expectedLink = {-1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0-8
                                               0,  1,  2,  3,  4,  5,  6,  7,  8,   // 9-17
                                               9,  10, 11, 12, 13, 14, 15,          // 18-24
                                               -1, -1};                             // 25-26
    EXPECT_EQ(std::vector<int32_t>(link, link + input.size()), expectedLink);
}

TEST_P(Lz77FastWalks, SingleByteBuildsOnlyTheHeadAndOneLink) {
    std::vector<int32_t> table;
    EXPECT_EQ(RunLz77Fast({0x41}, &table, GetParam()), FromHex("00 41"));
    EXPECT_TRUE(std::all_of(table.begin(), table.begin() + kPairKeys + 1,
                            [](int32_t e) { return e == -1; }));
}

// Each value once per stretch, the stretches in different random orders, so that no 4 bytes
// repeat: every value is the escape byte's count, E = 00 is written escaped every time and the
// output reaches the bound exactly.
TEST(Lz77Codecs, OutputReachesTheBound) {
    std::vector<uint8_t> input;
    std::mt19937 rng(5);
    for (int stretch = 0; stretch < 8; ++stretch) {
        auto values = test::AllValues();
        std::shuffle(values.begin(), values.end(), rng);
        input.insert(input.end(), values.begin(), values.end());
    }
    const auto lz77 = RunLz77(input);
    EXPECT_EQ(lz77.size(), Bound(input.size()));
    EXPECT_EQ(RunLz77Fast(input), lz77);
    ExpectValidStream(input, lz77, kLz77Window, "all values");
}

// Stretches of period 1 to 4 (runs, flat 16-, 24- and 32-bit colours) of random lengths over
// few values, and copies of earlier pieces with one run lengthened or shortened: candidates in
// pos's own stretch, in an earlier one and in a larger repeat agree with pos up to, short of
// and past their limits. Every other input ends inside a stretch.
std::vector<uint8_t> Periodic(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes;
    while (bytes.size() < size) {
        if (bytes.size() > 64 && rng() % 3 == 0) {
            const size_t from = rng() % (bytes.size() - 32);
            const size_t count = std::min<size_t>(bytes.size() - from, 32 + rng() % 400);
            bytes.insert(bytes.end(), bytes.begin() + from, bytes.begin() + from + count);
            const size_t at = bytes.size() - rng() % count;
            bytes.insert(bytes.begin() + at, rng() % 6, bytes[at - 1]);
        } else {
            uint8_t pattern[4];
            for (uint8_t& b : pattern) b = static_cast<uint8_t>(rng() % 3);
            const uint32_t period = 1 + rng() % 4;
            const size_t count = rng() % 300;
            for (size_t i = 0; i < count; ++i) bytes.push_back(pattern[i % period]);
        }
    }
    bytes.resize(size);
    if (seed % 2 == 0) std::fill(bytes.end() - std::min<size_t>(size, rng() % 100), bytes.end(), 7);
    return bytes;
}

// Inputs where matches are frequent: small alphabets, runs, repeated phrases with edits,
// stretches of a short period.
std::vector<uint8_t> Structured(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    switch (seed % 6) {
        case 0:
            return test::RandomFromAlphabet(size, seed, 1 + seed % 4, static_cast<uint8_t>(rng()));
        case 1:
            return test::RandomRuns(size, seed, 1 + seed % 300);
        case 2: {
            // A phrase repeated with random edits, so matches of every length end early.
            const auto phrase = test::RandomFromAlphabet(1 + rng() % 64, seed, 8);
            std::vector<uint8_t> bytes;
            while (bytes.size() < size) {
                bytes.insert(bytes.end(), phrase.begin(), phrase.end());
                bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
            }
            bytes.resize(size);
            return bytes;
        }
        case 3:
            return test::RandomBytes(size, seed);
        case 5:
            return Periodic(size, seed);
        default: {
            // Every value present, some rare, so the escape byte occurs in the input.
            auto bytes = test::RandomFromAlphabet(size, seed, 3, 0x40);
            for (size_t i = 0; i < size; i += 1 + rng() % 8) bytes[i] = static_cast<uint8_t>(rng());
            return bytes;
        }
    }
}

TEST(Lz77Codecs, EncodersAgreeOnRandomAndStructuredInputs) {
    std::mt19937 sizes(11);
    for (uint32_t seed = 0; seed < 406; ++seed) {
        // A few long inputs, up to the longest on which the outputs must agree, of the kinds
        // that keep the window walk affordable (runs, edited phrases, random bytes, periods).
        constexpr uint32_t kLongKinds[] = {1, 2, 3, 5, 5, 1};
        const bool longInput = seed >= 400;
        const size_t size = longInput ? 100005 - sizes() % 2000 : sizes() % 2000;
        const auto input = Structured(size, longInput ? 6 * seed + kLongKinds[seed - 400] : seed);
        const std::string what = "seed " + std::to_string(seed) + " size " + std::to_string(size);
        const auto lz77 = RunLz77(input);
        EXPECT_EQ(RunLz77Fast(input), lz77) << what;
        if (size < 4000) {
            EXPECT_EQ(RunLz77Scalar(input), lz77) << what;
        }
        ExpectValidStream(input, lz77, kLz77Window, what);
    }
}

// One run past the window: every token is the nearest of the longest candidates, as long as
// the reach back (the window for LZ77, the whole input for LZ77 Fast) or the rest of the input.
TEST(Lz77Codecs, LongRunsGiveTokensAsLongAsTheirReach) {
    for (const size_t size : {100004u, 300000u}) {
        const std::vector<uint8_t> input(size, 0);
        for (const bool window : {true, false}) {
            const std::string what = std::to_string(size) + (window ? " LZ77" : " LZ77 Fast");
            const auto encoded = window ? RunLz77(input) : RunLz77Fast(input);
            ExpectValidStream(input, encoded, window ? kLz77Window : UINT32_MAX, what);
            const auto decoded = test::DecodeLz77(encoded.data(), encoded.size());
            ASSERT_TRUE(decoded.has_value()) << what;
            std::vector<std::pair<size_t, uint32_t>> expected;
            for (size_t pos = 4; size - pos > 3;) {
                const size_t reach = window ? std::min<size_t>(pos, kLz77Window) : pos;
                const auto length = static_cast<uint32_t>(std::min(size - pos, reach));
                expected.emplace_back(pos, length);
                pos += length;
            }
            std::vector<std::pair<size_t, uint32_t>> tokens;
            for (const auto& token : decoded->tokens) {
                EXPECT_EQ(token.distance, token.length) << what << " at " << token.position;
                tokens.emplace_back(token.position, token.length);
            }
            EXPECT_EQ(tokens, expected) << what;
        }
    }
}

TEST(Lz77Codecs, EncodersAgreeOnTheSampleImage) {
    auto sample = test::ReadFileBytes(test::SampleImagePath());
    ASSERT_GE(sample.size(), 100005u);
    sample.resize(100005);
    const auto lz77 = RunLz77(sample);
    EXPECT_EQ(RunLz77Fast(sample), lz77);
    ExpectValidStream(sample, lz77, kLz77Window, "sample");
}

// The chain search one position at a time, written as plainly as possible: the reference for
// LZ77 Fast on inputs longer than the window, where its output may differ from LZ77's. Puts the
// head and link tables as built in *table when given.
std::vector<uint8_t> PlainLz77Fast(const std::vector<uint8_t>& input,
                                   std::vector<int32_t>* table = nullptr) {
    const auto len = static_cast<uint32_t>(input.size());
    if (len == 0) return {};
    std::vector<int32_t> head(kPairKeys, -1);
    std::vector<int32_t> link(len, -1);
    for (uint32_t i = 0; i + 1 < len; ++i) {
        const uint32_t key = input[i] * 256u + input[i + 1];
        link[i] = head[key];
        head[key] = static_cast<int32_t>(i);
    }
    if (table != nullptr) {
        *table = head;
        table->insert(table->end(), link.begin(), link.end());
    }
    const uint8_t escape = SelectEscapeByte(input.data(), len);
    std::vector<uint8_t> out = {escape};
    const auto literal = [&](uint8_t b) {
        out.push_back(b);
        if (b == escape) out.push_back(0x00);
    };
    uint32_t pos = 0;
    while (len - pos > 3) {
        const uint32_t remaining = len - pos;
        uint32_t best = 3;
        uint32_t bestDistance = 0;
        for (int32_t c = link[pos]; c != -1; c = link[c]) {
            const uint32_t d = pos - static_cast<uint32_t>(c);
            if (best < remaining && input[c + best] != input[pos + best]) continue;
            const uint32_t limit = std::min(remaining, d);
            uint32_t k = 2;
            while (k < limit && input[pos + k] == input[c + k]) ++k;
            if (k > best) {
                best = k;
                bestDistance = d;
            }
        }
        if (AcceptLz77Match(best, bestDistance)) {
            uint8_t groups[10];
            uint32_t n = WriteLz77GroupNumber(groups, best);
            n += WriteLz77GroupNumber(groups + n, bestDistance);
            out.push_back(escape);
            out.insert(out.end(), groups, groups + n);
            pos += best;
        } else {
            literal(input[pos++]);
        }
    }
    while (pos < len) literal(input[pos++]);
    return out;
}

// Random bytes with copies of earlier stretches planted at every kind of distance, some edited,
// so tokens and literal stretches alternate and far matches are taken or refused.
std::vector<uint8_t> PlantedCopies(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    auto bytes = test::RandomBytes(size, seed);
    for (int i = 0; i < 400; ++i) {
        const size_t length = 4 + rng() % (i % 4 == 0 ? 200 : 6);
        const size_t to = length + rng() % (size - 2 * length);
        const uint32_t reach[] = {127, 16383, 100000, 2097151};
        const size_t maxBack = std::max(length, std::min<size_t>(to, reach[rng() % 4] + rng() % 3));
        const size_t from = to - (length + rng() % (maxBack - length + 1));
        std::copy_n(bytes.begin() + from, length, bytes.begin() + to);
        if (rng() % 3 == 0) bytes[to + rng() % length] ^= 0x5A;
    }
    return bytes;
}

TEST(Lz77Fast, MatchesThePlainChainWalkBeyondTheWindow) {
    size_t farTokens = 0;
    for (uint32_t seed = 0; seed < 6; ++seed) {
        const auto input = PlantedCopies(150000 + seed * 40000, seed);
        const auto fast = RunLz77Fast(input);
        EXPECT_EQ(fast, PlainLz77Fast(input)) << "seed " << seed;
        EXPECT_EQ(RunLz77Fast(input, nullptr, EncodeLz77FastChained), fast) << "seed " << seed;
        const auto decoded = test::DecodeLz77(fast.data(), fast.size());
        ASSERT_TRUE(decoded.has_value());
        for (const auto& token : decoded->tokens) farTokens += token.distance > kLz77Window;
    }
    EXPECT_GT(farTokens, 0u) << "no token beyond the window was exercised";
    // Small alphabets and runs: long chains, queues that fill, matches up to the end; the work
    // table as the plain build leaves it.
    for (uint32_t seed = 0; seed < 200; ++seed) {
        const auto input = Structured(seed * 37 % 3000, seed);
        std::vector<int32_t> table;
        std::vector<int32_t> plainTable;
        const auto fast = RunLz77Fast(input, &table);
        EXPECT_EQ(fast, PlainLz77Fast(input, &plainTable)) << "seed " << seed;
        table.resize(plainTable.size());
        EXPECT_EQ(table, plainTable) << "seed " << seed;
        EXPECT_EQ(RunLz77Fast(input, nullptr, EncodeLz77FastChained), fast) << "seed " << seed;
        ExpectValidStream(input, fast, UINT32_MAX, "seed " + std::to_string(seed));
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// Past 8 MiB a bucket entry keeps only 7 bits of the byte at offset 3 beside its position, so
// candidates that differ in its lowest bit pass the first test and must be told apart by the
// input itself.
TEST(Lz77Fast, BucketsOfInputsPastEightMebibytes) {
    if (kSanitized) GTEST_SKIP() << "seconds in optimized builds, minutes under the sanitizers";
    // A block repeated up to 8 MiB, which tokens cover in a few searches, then random bytes,
    // whose searches walk chains through the whole input.
    constexpr size_t kRepeated = size_t{1} << 23;
    auto input = test::RandomBytes(kRepeated + 65536, 3);
    for (size_t i = 100000; i < kRepeated; ++i) input[i] = input[i - 100000];
    // Strings whose first 3 bytes recur at every distance, the fourth one bit apart.
    for (size_t i = 0; i < 128; ++i) {
        const uint8_t planted[] = {0xC3, 0x3C, 0x99, static_cast<uint8_t>(0x40 | (i & 1)), 0x5A};
        const size_t at = i % 2 == 0 ? i * 65000 : kRepeated + i * 500;
        std::copy_n(planted, 5, input.begin() + static_cast<ptrdiff_t>(at));
    }
    const auto fast = RunLz77Fast(input);
    EXPECT_EQ(fast, RunLz77Fast(input, nullptr, EncodeLz77FastChained));
    ExpectValidStream(input, fast, UINT32_MAX, "8 MiB");
}

// The outputs on the sample image, in an area as large as the run's working buffer gives them,
// prefilled, and the work table as left, pinned by their sums as the one-by-one versions wrote
// them.
TEST(Lz77Codecs, SampleImageOutputsAreUnchanged) {
    const auto sample = test::ReadFileBytes(test::SampleImagePath());
    ASSERT_EQ(sample.size(), 786486u);
    const auto len = static_cast<uint32_t>(sample.size());
    const size_t areaSize = OutputAreaSize(len);

    std::vector<uint8_t> area(areaSize, kFill);
    std::vector<int32_t> table(kPairKeys + len);
    EXPECT_EQ(EncodeLz77Fast(sample.data(), area.data(), len, table.data()), 777084u);
    EXPECT_EQ(test::Sha256(area.data(), area.size()),
              "5ccf1177bc658b87588d3664c3c2627103c9706c330db29866a71ba94f54c922");
    EXPECT_EQ(test::Sha256(table.data(), table.size() * sizeof(int32_t)),
              "477c76a935ac8699b682e6c292b5941bd6619581fad285a2c16d7f79c3bd0bfe");

    // The window walk takes seconds here, and minutes under the sanitizers.
    if (kSanitized) GTEST_SKIP() << "LZ77 on the whole sample runs in optimized builds only";
    std::fill(area.begin(), area.end(), kFill);
    EXPECT_EQ(EncodeLz77(sample.data(), area.data(), len), 778110u);
    EXPECT_EQ(test::Sha256(area.data(), area.size()),
              "0d124478b0a51bb5d933a990b01b43681a19eeec46ea58f5dc1f522386c12735");
}

// Candidates of growing length inside one block of distances, each passing the second reject
// only with the length found before it, then a decoy that passes with the shorter length only.
std::vector<uint8_t> GrowingCandidates() {
    std::vector<uint8_t> input = Piece(5000, 400);
    const auto plant = [&](size_t distance, std::string_view bytes) {
        std::copy(bytes.begin(), bytes.end(), input.end() - 8 - distance);
    };
    plant(130, "ABCDEFGz");
    plant(100, "ABCDEFz");
    plant(70, "ABCDEz");
    plant(50, "ABCDz");
    plant(40, "ABCDz");
    plant(20, "ABCz");
    std::copy_n("ABCDEFGH", 8, input.end() - 8);
    return input;
}

std::vector<test::Lz77Token> TokensAt(const std::vector<uint8_t>& encoded, uint32_t position) {
    const auto decoded = test::DecodeLz77(encoded.data(), encoded.size());
    std::vector<test::Lz77Token> found;
    if (decoded) {
        for (const auto& token : decoded->tokens) {
            if (token.position == position) found.push_back(token);
        }
    }
    return found;
}

// Copies 100,000 and 100,001 back and a tie at 99,990 and 100,000, far enough from the start
// that every position searched together with them reaches the whole window.
TEST(Lz77, WindowEdgeAwayFromTheStart) {
    const auto eight = Bytes("ABCDEFGH");
    const auto edge = Concat({Piece(0, 200), eight, Piece(1000, 99992), eight, Piece(200000, 90)});
    const auto edgeOut = RunLz77(edge);
    ExpectValidStream(edge, edgeOut, kLz77Window, "100,000 back");
    const auto edgeTokens = TokensAt(edgeOut, 100200);
    ASSERT_EQ(edgeTokens.size(), 1u);
    EXPECT_EQ(edgeTokens[0].distance, 100000u);
    EXPECT_EQ(edgeTokens[0].length, 8u);

    const auto beyond =
        Concat({Piece(0, 199), eight, Piece(1000, 99993), eight, Piece(200000, 90)});
    EXPECT_EQ(TokenCount(RunLz77(beyond)), 0u);

    const auto tie = Concat({Piece(0, 200), eight, Piece(1000, 2), eight, Piece(2000, 99982), eight,
                             Piece(200000, 90)});
    const auto tieOut = RunLz77(tie);
    ExpectValidStream(tie, tieOut, kLz77Window, "tie");
    const auto tieTokens = TokensAt(tieOut, 100200);
    ASSERT_EQ(tieTokens.size(), 1u);
    EXPECT_EQ(tieTokens[0].distance, 99990u);
}

// Every SIMD target compiled gives the bytes of the one-by-one walk.
TEST(Lz77, EveryTargetMatchesTheScalarWalk) {
    std::vector<std::vector<uint8_t>> inputs;
    inputs.push_back(GrowingCandidates());
    for (uint32_t seed = 0; seed < 60; ++seed) inputs.push_back(Structured(seed * 47 % 3000, seed));
    // Sizes around the vector block boundaries of every target.
    for (size_t size : {3, 4, 5, 19, 20, 35, 36, 67, 68, 131, 132, 259, 260, 261, 515, 516}) {
        inputs.push_back(test::RandomFromAlphabet(size, static_cast<uint32_t>(size), 2));
    }
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (const auto& input : inputs) {
        const auto expected = RunLz77Scalar(input);
        for (int64_t target : targets) {
            hwy::SetSupportedTargetsForTest(target);
            ASSERT_EQ(RunLz77(input), expected)
                << hwy::TargetName(target) << " size " << input.size();
        }
        hwy::SetSupportedTargetsForTest(0);
    }
    EXPECT_TRUE(EndsWith(RunLz77Scalar(GrowingCandidates()), FromHex("00 07 81 02 48")));
    EXPECT_GE(targets.size(), 2u) << "only one target compiled";
}

}  // namespace
}  // namespace tallox

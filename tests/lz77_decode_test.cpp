#include "codecs/lz77_decode.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "codecs/lz77_fast.h"
#include "support/test_data.h"

namespace tallox {
namespace {

std::optional<std::vector<uint8_t>> Decode(const std::vector<uint8_t>& stream, size_t capacity) {
    std::vector<uint8_t> out(capacity);
    const auto size = DecodeLz77(stream.data(), static_cast<uint32_t>(stream.size()), out.data(),
                                 static_cast<uint32_t>(capacity));
    if (!size) return std::nullopt;
    out.resize(*size);
    return out;
}

TEST(DecodeLz77, TokensAndMalformedStreams) {
    struct Case {
        const char* stream;
        size_t capacity;
        std::optional<std::vector<uint8_t>> decoded;
    };
    using test::FromHex;
    const std::vector<uint8_t> abcd = FromHex("41 42 43 44 41 42 43 44");
    const Case cases[] = {
        {"09 41 42 43 44 09 04 04", 8, abcd},
        {"09 41 42 43 44 09 80 04 04", 8, abcd},     // a leading zero group
        {"09 41 09 00 42", 3, FromHex("41 09 42")},  // the escape value as a literal
        {"09 41 42 09 06 02", 8, FromHex("41 42 41 42 41 42 41 42")},  // overlapping copy
        {"09 41 42 43 09 81 00 03", 130, std::nullopt},                // past the capacity
        {"09 41 42 43 44 09 04 04", 7, std::nullopt},                  // past it by one
        {"09 41 42 43 44 09 04 05", 16, std::nullopt},                 // before the first byte
        {"09 41 42 43 44 09 04 00", 16, std::nullopt},                 // distance 0
        {"09 41 42 43 44 09 80 00 01", 16, std::nullopt},              // length 0
        {"09 41 42 43 44 09 04", 16, std::nullopt},                    // no distance
        {"09 41 09", 16, std::nullopt},                                // cut after E
        {"09 41 09 84 84", 16, std::nullopt},                          // a group number cut off
        {"09 41 09 90 80 80 80 00 01", 16, std::nullopt},              // above 32 bits
        {"09 41 09 81 81 81 81 81 01 01", 16, std::nullopt},           // six groups
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(FromHex(c.stream), c.capacity), c.decoded) << c.stream;
    EXPECT_EQ(Decode({}, 0), std::vector<uint8_t>{});
}

// The product decoder inverts the encoders' stream, here LZ77 Fast's, which has LZ77's format.
TEST(DecodeLz77, InvertsTheEncoder) {
    const std::vector<std::vector<uint8_t>> inputs = {
        test::RandomRuns(50000, 1, 300),
        test::RandomFromAlphabet(40000, 2, 3),
        test::RandomBytes(3000, 3),
        test::AllValues(5),
        test::FromHex("09"),
    };
    for (const auto& input : inputs) {
        const auto len = static_cast<uint32_t>(input.size());
        std::vector<uint8_t> stream(1 + len + len / 256);
        std::vector<int32_t> work(65536 + size_t{len});
        stream.resize(EncodeLz77Fast(input.data(), stream.data(), len, work.data()));
        EXPECT_EQ(Decode(stream, len), input) << len;
    }
}

}  // namespace
}  // namespace tallox

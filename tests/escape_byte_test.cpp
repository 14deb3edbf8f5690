#include "codecs/escape_byte.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/test_data.h"

namespace tallox {
namespace {

uint8_t Select(const std::vector<uint8_t>& input) {
    return SelectEscapeByte(input.data(), static_cast<uint32_t>(input.size()));
}

TEST(SelectEscapeByte, SmallestAbsentValueWins) {
    EXPECT_EQ(Select(test::FromHex("41 41 41 41 41 42 43 43 44 44 44 44")), 0x00);
    EXPECT_EQ(Select({0x00}), 0x01);
    EXPECT_EQ(Select({0x41}), 0x00);
    EXPECT_EQ(Select({0x00, 0x01, 0x02, 0x04}), 0x03);
}

TEST(SelectEscapeByte, AllValuesPresent) {
    std::vector<uint8_t> shuffled = test::AllValues();
    for (size_t i = 0; i < shuffled.size(); ++i) std::swap(shuffled[i], shuffled[(i * 97) % 256]);
    EXPECT_EQ(Select(shuffled), 0x00);

    std::vector<uint8_t> twoMoreZeros = test::AllValues();
    twoMoreZeros.push_back(0x00);
    twoMoreZeros.push_back(0x00);
    EXPECT_EQ(Select(twoMoreZeros), 0x01);

    // Two values share the lowest count: the smaller one is chosen, wherever it lies.
    std::vector<uint8_t> tie = test::AllValues(2);
    tie.erase(tie.begin() + 2 * 0xC8);
    tie.erase(tie.begin() + 2 * 0x37);
    EXPECT_EQ(Select(tie), 0x37);
}

// Every value in turn is made the rarest, at every position of an input whose length varies,
// so that no byte near either end of the input goes uncounted.
TEST(SelectEscapeByte, EveryByteCounts) {
    for (uint32_t repeat : {3u, 5u}) {
        for (uint32_t v = 0; v < 256; ++v) {
            std::vector<uint8_t> input = test::AllValues(repeat);
            input.erase(input.begin() + v * repeat + (v % repeat));
            std::rotate(input.begin(), input.begin() + (v * 7) % input.size(), input.end());
            ASSERT_EQ(Select(input), v) << "repeat " << repeat;
        }
    }
}

TEST(SelectEscapeByte, CountsBeyondSixteenBits) {
    // 66,000 of each value but 0x80, which has one fewer: the counts pass 65,535.
    std::vector<uint8_t> input;
    for (uint32_t i = 0; i < 66000; ++i) {
        for (uint32_t v = 0; v < 256; ++v) {
            if (!(v == 0x80 && i == 0)) input.push_back(static_cast<uint8_t>(v));
        }
    }
    EXPECT_EQ(Select(input), 0x80);
}

}  // namespace
}  // namespace tallox

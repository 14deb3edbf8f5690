// The encoders' outputs on the bundled sample image, pinned by their SHA-256 sums so that no
// rewrite for speed changes a single byte, written or left alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "codecs/huffman.h"
#include "codecs/rice.h"
#include "codecs/rle.h"
#include "codecs/working_block.h"
#include "support/test_data.h"

namespace tallox {
namespace {

constexpr uint8_t kFill = 0xA5;

class SampleOutputs : public ::testing::Test {
protected:
    void SetUp() override {
        m_input = test::ReadFileBytes(test::SampleImagePath());
        ASSERT_EQ(m_input.size(), 786486u);
        m_len = static_cast<uint32_t>(m_input.size());
        // As large as the run's working buffer gives each encoder, prefilled, so that the
        // bytes and bits an encoder leaves alone show in the sums too.
        m_area.assign(OutputAreaSize(m_len), kFill);
    }

    // The decoder gives back the input's first `size` bytes from the `count` bytes written.
    template <typename Decode>
    void ExpectDecodes(const std::vector<uint8_t>& input, uint32_t count, uint32_t size,
                       Decode decode) {
        std::vector<uint8_t> decoded(size);
        EXPECT_EQ(decode(m_area.data(), count, decoded.data()), std::optional<uint32_t>(size));
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), input.begin()));
    }

    std::vector<uint8_t> m_input;
    uint32_t m_len = 0;
    std::vector<uint8_t> m_area;
};

TEST_F(SampleOutputs, Rle) {
    const uint32_t count = EncodeRle(m_input.data(), m_area.data(), m_len);
    EXPECT_EQ(count, 786984u);
    EXPECT_EQ(test::Sha256(m_area.data(), m_area.size()),
              "6f85dd98a3dbd2c6a91275352dcc59309aadacea824eff8555c74b7dd36bf0ad");
    ExpectDecodes(m_input, count, m_len, [&](const uint8_t* in, uint32_t n, uint8_t* out) {
        return DecodeRle(in, n, out, m_len);
    });
}

TEST_F(SampleOutputs, Huffman) {
    const uint32_t count = EncodeHuffman(m_input.data(), m_area.data(), m_len);
    EXPECT_EQ(count, 770196u);
    EXPECT_EQ(test::Sha256(m_area.data(), m_area.size()),
              "5eebfa336984f4ba92bf4f79137771c3026b6858cc2f87e2947d967097090408");
    ExpectDecodes(m_input, count, m_len, [&](const uint8_t* in, uint32_t n, uint8_t* out) {
        return DecodeHuffman(in, n, out, m_len);
    });
}

// The photograph takes the raw form for every type; smooth samples built from it keep the
// coded form, with its escapes and parameter changes.
std::vector<uint8_t> SmoothSamples(const std::vector<uint8_t>& image, uint32_t width) {
    std::vector<uint8_t> smooth(image.size());
    uint32_t state = 12345;
    for (size_t i = 0; i + width <= image.size(); i += width) {
        state = state * 1103515245u + 12345u;
        const uint32_t noise = (state >> 16) & 0xFF;
        const int32_t sample = static_cast<int32_t>(image[i]) - 128 +
                               static_cast<int32_t>(noise < 250 ? noise % 7 : noise * 40);
        for (uint32_t b = 0; b < width; ++b)
            smooth[i + b] = static_cast<uint8_t>(sample >> (8 * b));
    }
    return smooth;
}

TEST_F(SampleOutputs, RiceCodedForm) {
    struct Expected {
        uint32_t type;
        uint32_t count;
        const char* sha256;
    };
    const Expected expected[] = {
        {Signed16, 431350, "92efb9a77db03561e777bc5ab633eada3be5df5ebd0dd6e516a9333c2c6e2e38"},
        {Signed32, 215809, "46c0492cf108d558a84944a8ae9b207619724a7db239af7bd08dd9f5690355fd"},
    };
    for (const Expected& e : expected) {
        const std::vector<uint8_t> smooth = SmoothSamples(m_input, e.type == Signed16 ? 2 : 4);
        std::fill(m_area.begin(), m_area.end(), kFill);
        const uint32_t count = EncodeRice(smooth.data(), m_area.data(), m_len, e.type);
        EXPECT_EQ(count, e.count) << "type " << e.type;
        EXPECT_EQ(test::Sha256(m_area.data(), m_area.size()), e.sha256) << "type " << e.type;
        const uint32_t width = e.type == Signed16 ? 2 : 4;
        ExpectDecodes(smooth, count, m_len / width * width,
                      [&](const uint8_t* in, uint32_t n, uint8_t* out) {
                          return DecodeRice(in, n, out, m_len, e.type);
                      });
    }
}

TEST_F(SampleOutputs, RiceEveryType) {
    struct Expected {
        uint32_t type;
        uint32_t count;
        const char* sha256;
    };
    const Expected expected[] = {
        {Signed8, 786487, "9eef9acab80d5a9d599c4de953f2627e1c7b8f3bf122dcce7a226a953e11bf90"},
        {Unsigned8, 786487, "c08d1b710055ce0ff22bf92f51ea953b117bb0030e4c2d28606489c0263610b6"},
        {Signed16, 786487, "940915236403f5f08912ead0882a6163f17db25fc044c945c7547586a4b1aa82"},
        {Unsigned16, 786487, "ccb42e4f767a6eaca58aca8c12185d433204bc6ea3d4602d059ae0ae5dec5eac"},
        {Signed32, 786485, "394eaf31c0f1bc8a8c73b9d687cb081f32aed65a1852ca6a5f8173ee5fa826e0"},
        {Unsigned32, 786485, "b5630db1d3af32c9e12033d9506d12b2b1d1aeab485014c82d43b50f6c72c012"},
    };
    for (const Expected& e : expected) {
        std::fill(m_area.begin(), m_area.end(), kFill);
        const uint32_t count = EncodeRice(m_input.data(), m_area.data(), m_len, e.type);
        EXPECT_EQ(count, e.count) << "type " << e.type;
        EXPECT_EQ(test::Sha256(m_area.data(), m_area.size()), e.sha256) << "type " << e.type;
        const uint32_t width = e.type <= Unsigned8 ? 1 : e.type <= Unsigned16 ? 2 : 4;
        ExpectDecodes(m_input, count, m_len / width * width,
                      [&](const uint8_t* in, uint32_t n, uint8_t* out) {
                          return DecodeRice(in, n, out, m_len, e.type);
                      });
    }
}

}  // namespace
}  // namespace tallox

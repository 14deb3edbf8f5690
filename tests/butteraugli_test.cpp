// Butteraugli through libjxl: nothing between identical images, distances that grow as JPEG
// quality falls, and the inputs it refuses.
#include "engine/butteraugli.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/metric_images.h"

namespace tallox {
namespace {

using test::LoadMetricImage;
using test::Rgb;

TEST(Butteraugli, IdenticalImagesAreZeroApart) {
    const Rgb image = LoadMetricImage("ladybird-512x512.png");
    ASSERT_FALSE(image.bytes.empty());
    const auto result = Butteraugli(image.bytes, image.bytes, image.width, image.height);
    ASSERT_TRUE(result.value) << result.reason;
    EXPECT_EQ(result.value->max, 0.0);
    EXPECT_EQ(result.value->pnorm3, 0.0);
}

TEST(Butteraugli, DistancesGrowAsJpegQualityFalls) {
    const Rgb reference = LoadMetricImage("ladybird-512x512.png");
    ButteraugliDistances previous;
    for (const char* name : {"ladybird-512x512-jpeg-q90.png", "ladybird-512x512-jpeg-q50.png",
                             "ladybird-512x512-jpeg-q20.png"}) {
        const Rgb distorted = LoadMetricImage(name);
        ASSERT_EQ(distorted.bytes.size(), reference.bytes.size()) << name;
        const auto result =
            Butteraugli(reference.bytes, distorted.bytes, reference.width, reference.height);
        ASSERT_TRUE(result.value) << result.reason;
        // The 3-norm averages the map, so it stays below the map's largest value.
        EXPECT_LT(result.value->pnorm3, result.value->max) << name;
        EXPECT_GT(result.value->max, previous.max) << name;
        EXPECT_GT(result.value->pnorm3, previous.pnorm3) << name;
        previous = *result.value;
    }
    // Quality 20 is plainly visible: well past the threshold of 1.
    EXPECT_GT(previous.pnorm3, 1.0);
}

TEST(Butteraugli, RefusesImagesOfTheWrongSize) {
    struct Case {
        uint32_t width, height;
        size_t referenceBytes, distortedBytes;
        const char* reason;
    };
    const Case cases[] = {
        {8, 8, 8 * 8 * 3, 8 * 9 * 3, "images of different sizes for Butteraugli"},
        {8, 8, 8 * 8 * 3 - 1, 8 * 8 * 3 - 1, "images of different sizes for Butteraugli"},
        {0, 5, 0, 0, "too small for Butteraugli"},
        {7, 7, 7 * 7 * 3, 7 * 7 * 3, "too small for Butteraugli"},
        {7, 100, 7 * 100 * 3, 7 * 100 * 3, "too small for Butteraugli"},
        {100, 7, 100 * 7 * 3, 100 * 7 * 3, "too small for Butteraugli"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> reference(c.referenceBytes, 90);
        const std::vector<uint8_t> distorted(c.distortedBytes, 91);
        const auto result = Butteraugli(reference, distorted, c.width, c.height);
        EXPECT_FALSE(result.value) << c.width << " x " << c.height;
        EXPECT_EQ(result.reason, c.reason);
    }
}

// From 8 pixels on a side a single changed pixel shows.
TEST(Butteraugli, SeesOnePixelInTheSmallestImages) {
    for (const auto& [width, height] : {std::pair{8u, 8u}, {9u, 8u}, {8u, 33u}}) {
        const std::vector<uint8_t> reference(size_t{width} * height * 3, 100);
        std::vector<uint8_t> distorted = reference;
        distorted[3 * (width + 1)] = 200;
        const auto result = Butteraugli(reference, distorted, width, height);
        ASSERT_TRUE(result.value) << width << " x " << height << ": " << result.reason;
        EXPECT_GT(result.value->max, 1.0) << width << " x " << height;
    }
}

}  // namespace
}  // namespace tallox

// SSIMULACRA2 against the scores of its authors' implementation, the SIMD path against the
// scalar twin on sizes that end mid-vector and mid-pyramid, and the images it refuses.
#include "engine/ssimulacra2.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

#include "support/metric_images.h"

namespace tallox {
namespace {

using test::LoadMetricImage;
using test::Rgb;

Rgb Crop(const Rgb& image, uint32_t left, uint32_t top, uint32_t width, uint32_t height) {
    Rgb out{width, height, {}};
    for (uint32_t y = top; y < top + height; ++y) {
        const auto row = image.bytes.begin() + (size_t{y} * image.width + left) * 3;
        out.bytes.insert(out.bytes.end(), row, row + size_t{width} * 3);
    }
    return out;
}

using Metric = MetricResult<double> (*)(std::span<const uint8_t>, std::span<const uint8_t>,
                                        uint32_t, uint32_t);

constexpr Metric kPaths[] = {Ssimulacra2, Ssimulacra2Scalar};

TEST(Ssimulacra2, ReproducesTheReferenceScores) {
    struct Case {
        const char* reference;
        const char* distorted;
        double score;
    };
    // From the metric's reference implementation (version 2.1).
    const Case cases[] = {
        {"ladybird-512x512.png", "ladybird-512x512-jpeg-q20.png", 37.98346289},
        {"ladybird-512x512.png", "ladybird-512x512-jpeg-q50.png", 70.38199202},
        {"ladybird-512x512.png", "ladybird-512x512-jpeg-q90.png", 87.94172755},
        {"ladybird-512x512.png", "ladybird-512x512-blur.png", 68.37663146},
        {"storm-640x480.png", "storm-640x480-jpeg-q20.png", 28.87807112},
        {"storm-640x480.png", "storm-640x480-blur.png", 74.49461289},
    };
    for (const Case& c : cases) {
        const Rgb reference = LoadMetricImage(c.reference);
        const Rgb distorted = LoadMetricImage(c.distorted);
        ASSERT_FALSE(reference.bytes.empty()) << c.reference;
        for (Metric metric : kPaths) {
            const auto result =
                metric(reference.bytes, distorted.bytes, reference.width, reference.height);
            ASSERT_TRUE(result.value) << result.reason;
            EXPECT_NEAR(*result.value, c.score, 0.5) << c.distorted;
        }
    }
}

TEST(Ssimulacra2, IdenticalImagesScoreExactly100) {
    const Rgb photo = LoadMetricImage("storm-640x480.png");
    for (const Rgb& image : {photo, Crop(photo, 3, 5, 8, 8), Crop(photo, 100, 7, 37, 201)}) {
        for (Metric metric : kPaths) {
            const auto result = metric(image.bytes, image.bytes, image.width, image.height);
            ASSERT_TRUE(result.value) << result.reason;
            EXPECT_EQ(*result.value, 100.0) << image.width << " x " << image.height;
        }
    }
}

// Widths that leave a partial vector or block at the row's end and sizes whose pyramid stops
// early or rounds odd sides up: the SIMD path's strips, blocks, padding and masks against the
// plain twin. The two round the colour transform differently, and the blur's float noise turns
// a last-bit difference in its input into a few hundredths of a point.
TEST(Ssimulacra2, SimdPathAgreesWithTheScalarTwin) {
    const Rgb reference = LoadMetricImage("ladybird-512x512.png");
    const Rgb distorted = LoadMetricImage("ladybird-512x512-jpeg-q20.png");
    struct Box {
        uint32_t left, top, width, height;
    };
    for (const Box& box : {Box{0, 0, 8, 8}, Box{5, 9, 9, 8}, Box{200, 100, 17, 33},
                           Box{31, 300, 61, 45}, Box{0, 0, 129, 250}, Box{1, 1, 511, 511}}) {
        const Rgb a = Crop(reference, box.left, box.top, box.width, box.height);
        const Rgb b = Crop(distorted, box.left, box.top, box.width, box.height);
        const auto simd = Ssimulacra2(a.bytes, b.bytes, box.width, box.height);
        const auto scalar = Ssimulacra2Scalar(a.bytes, b.bytes, box.width, box.height);
        ASSERT_TRUE(simd.value && scalar.value) << simd.reason << scalar.reason;
        EXPECT_LT(*simd.value, 100.0);
        EXPECT_NEAR(*simd.value, *scalar.value, 0.05) << box.width << " x " << box.height;
    }
}

// Every SIMD target this processor runs, those without fused multiply-adds included (they fall
// back to the scalar twin, since unfused steps move the blur's noise and the scores by points).
// On a whole high-quality photograph the two paths' noise differs by up to a tenth of a point.
TEST(Ssimulacra2, EveryTargetReproducesTheReference) {
    const Rgb reference = LoadMetricImage("ladybird-512x512.png");
    const Rgb distorted = LoadMetricImage("ladybird-512x512-jpeg-q90.png");
    const auto scalar =
        Ssimulacra2Scalar(reference.bytes, distorted.bytes, reference.width, reference.height);
    ASSERT_TRUE(scalar.value) << scalar.reason;
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        const auto simd =
            Ssimulacra2(reference.bytes, distorted.bytes, reference.width, reference.height);
        ASSERT_TRUE(simd.value) << hwy::TargetName(target) << ": " << simd.reason;
        EXPECT_NEAR(*simd.value, 87.94172755, 0.5) << hwy::TargetName(target);
        EXPECT_NEAR(*simd.value, *scalar.value, 0.15) << hwy::TargetName(target);
    }
    hwy::SetSupportedTargetsForTest(0);
}

TEST(Ssimulacra2, RefusesImagesItCannotScore) {
    struct Case {
        uint32_t width, height;
        size_t referenceBytes, distortedBytes;
        const char* reason;
    };
    const Case cases[] = {
        {7, 8, 7 * 8 * 3, 7 * 8 * 3, "too small for SSIMULACRA2"},
        {300, 7, 300 * 7 * 3, 300 * 7 * 3, "too small for SSIMULACRA2"},
        {0, 0, 0, 0, "too small for SSIMULACRA2"},
        {8, 8, 8 * 8 * 3, 8 * 9 * 3, "images of different sizes for SSIMULACRA2"},
        {8, 8, 8 * 8 * 3 - 1, 8 * 8 * 3, "images of different sizes for SSIMULACRA2"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> reference(c.referenceBytes, 90);
        const std::vector<uint8_t> distorted(c.distortedBytes, 91);
        for (Metric metric : kPaths) {
            const auto result = metric(reference, distorted, c.width, c.height);
            EXPECT_FALSE(result.value) << c.width << " x " << c.height;
            EXPECT_EQ(result.reason, c.reason);
        }
    }
}

}  // namespace
}  // namespace tallox

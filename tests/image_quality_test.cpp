// PSNR and SSIM against values worked out by hand, and against the textbook formulas evaluated
// window by window in double on odd sizes and on a real photograph.
#include "engine/image_quality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace tallox {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kC1 = 6.5025;   // (0.01 x 255)^2
constexpr double kC2 = 58.5225;  // (0.03 x 255)^2

Image Filled(uint32_t width, uint32_t height, uint8_t r, uint8_t g, uint8_t b) {
    Image image{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    for (size_t i = 0; i < image.rgb.size(); i += 3) {
        image.rgb[i] = r;
        image.rgb[i + 1] = g;
        image.rgb[i + 2] = b;
    }
    return image;
}

Image Noise(uint32_t width, uint32_t height, uint32_t seed) {
    Image image{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    for (uint8_t& byte : image.rgb) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return image;
}

// `image` with every sample moved by up to +-`amount`, clamped.
Image Disturbed(const Image& image, int amount, uint32_t seed) {
    Image out = image;
    for (uint8_t& byte : out.rgb) {
        seed = seed * 1664525u + 1013904223u;
        const int delta = static_cast<int>(seed >> 16) % (2 * amount + 1) - amount;
        byte = static_cast<uint8_t>(std::clamp(int{byte} + delta, 0, 255));
    }
    return out;
}

double Luma(const Image& image, size_t x, size_t y) {
    const uint8_t* p = &image.rgb[(y * image.width + x) * 3];
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
}

double PsnrOf(double mse) { return 10 * std::log10(255.0 * 255.0 / mse); }

// PSNR of luma and SSIM straight from their definitions: a 2-D Gaussian window over every
// position, in double.
double ReferencePsnrY(const Image& a, const Image& b) {
    double sum = 0;
    for (size_t y = 0; y < a.height; ++y) {
        for (size_t x = 0; x < a.width; ++x) {
            const double d = Luma(a, x, y) - Luma(b, x, y);
            sum += d * d;
        }
    }
    return PsnrOf(sum / (static_cast<double>(a.width) * a.height));
}

double ReferenceSsim(const Image& a, const Image& b) {
    double window[11][11];
    double total = 0;
    for (int i = 0; i < 11; ++i) {
        for (int j = 0; j < 11; ++j) {
            window[i][j] = std::exp(-((i - 5) * (i - 5) + (j - 5) * (j - 5)) / (2 * 1.5 * 1.5));
            total += window[i][j];
        }
    }
    double sum = 0;
    for (size_t y = 0; y + 11 <= a.height; ++y) {
        for (size_t x = 0; x + 11 <= a.width; ++x) {
            double mx = 0, my = 0, xx = 0, yy = 0, xy = 0;
            for (size_t i = 0; i < 11; ++i) {
                for (size_t j = 0; j < 11; ++j) {
                    const double w = window[i][j] / total;
                    const double p = Luma(a, x + j, y + i);
                    const double q = Luma(b, x + j, y + i);
                    mx += w * p;
                    my += w * q;
                    xx += w * p * p;
                    yy += w * q * q;
                    xy += w * p * q;
                }
            }
            sum += (2 * mx * my + kC1) * (2 * (xy - mx * my) + kC2) /
                   ((mx * mx + my * my + kC1) * (xx - mx * mx + yy - my * my + kC2));
        }
    }
    return sum / (static_cast<double>(a.width - 10) * (a.height - 10));
}

TEST(ImageQualityTest, HandComputedCases) {
    struct Case {
        const char* what;
        Image a;
        Image b;
        double psnrRgb;
        double psnrY;
        std::optional<double> ssim;
    };
    const Image noise = Noise(20, 16, 7);
    Image onePixel = Filled(32, 32, 100, 100, 100);
    onePixel.rgb[(5 * 32 + 9) * 3] = 150;  // red only: Y moves by 0.299 x 50 = 14.95
    const Case cases[] = {
        {"identical", noise, noise, kInf, kInf, 1.0},
        // Every window flat: only the means differ, and the structure term is C2 / C2.
        {"offset", Filled(16, 16, 100, 100, 100), Filled(16, 16, 110, 110, 110), PsnrOf(100),
         PsnrOf(100), (2 * 100 * 110 + kC1) / (100 * 100 + 110 * 110 + kC1)},
        // Red and blue apart: dY = 0.299 x 10 + 0.114 x 30 = 6.41; their weights swapped give
        // 10.11.
        {"red and blue", Filled(12, 12, 100, 100, 100), Filled(12, 12, 110, 100, 130),
         PsnrOf((100 + 900) / 3.0), PsnrOf(6.41 * 6.41), std::nullopt},
        {"one pixel", Filled(32, 32, 100, 100, 100), onePixel, PsnrOf(2500 / (3 * 1024.0)),
         PsnrOf(14.95 * 14.95 / 1024), std::nullopt},
        {"under one window", Filled(10, 40, 0, 0, 0), Filled(10, 40, 0, 0, 1), PsnrOf(1 / 3.0),
         PsnrOf(0.114 * 0.114), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [actual, expected] :
             {std::pair{PsnrRgb(c.a, c.b), c.psnrRgb}, std::pair{PsnrY(c.a, c.b), c.psnrY}}) {
            EXPECT_TRUE(actual == expected || std::abs(actual - expected) < 1e-9)
                << actual << " against " << expected;
        }
        const std::optional<double> ssim = SsimY(c.a, c.b);
        if (c.ssim) {
            ASSERT_TRUE(ssim.has_value());
            EXPECT_NEAR(*ssim, *c.ssim, 1e-6);
        } else if (c.a.width < 11) {
            EXPECT_FALSE(ssim.has_value());
        }
    }
    EXPECT_EQ(SsimY(noise, noise), 1.0);  // exactly
}

TEST(ImageQualityTest, SsimMatchesTheDefinitionOnEverySize) {
    // One window; tails of every vector width across; more rows than windows down.
    Image onePixel = Filled(32, 32, 100, 100, 100);
    onePixel.rgb[(5 * 32 + 9) * 3] = 150;
    struct Case {
        Image a;
        Image b;
    };
    const Case cases[] = {
        {Noise(11, 11, 1), Disturbed(Noise(11, 11, 1), 40, 2)},
        {Noise(13, 29, 3), Disturbed(Noise(13, 29, 3), 5, 4)},
        {Noise(47, 12, 5), Noise(47, 12, 6)},
        {Filled(32, 32, 100, 100, 100), onePixel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a.width << " x " << c.a.height);
        const std::optional<double> ssim = SsimY(c.a, c.b);
        ASSERT_TRUE(ssim.has_value());
        EXPECT_NEAR(*ssim, ReferenceSsim(c.a, c.b), 2e-6);
        EXPECT_NEAR(PsnrY(c.a, c.b), ReferencePsnrY(c.a, c.b), 1e-9);
    }
}

TEST(ImageQualityTest, APhotographAndItsJpegAgreeWithTheDefinition) {
    ImagingSession session;
    const std::optional<Image> photo = PlatformImaging().Load(TALLOX_SOURCE_DIR "/data/sample.bmp");
    ASSERT_TRUE(photo.has_value());
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(PlatformImaging().SaveJpeg(*photo, JpegOptions{30}, jpeg));
    const std::optional<Image> decoded = PlatformImaging().DecodeJpeg(jpeg);
    ASSERT_TRUE(decoded.has_value());
    const double ssim = *SsimY(*photo, *decoded);
    EXPECT_NEAR(ssim, ReferenceSsim(*photo, *decoded), 1e-5);
    EXPECT_GT(ssim, 0.5);
    EXPECT_LT(ssim, 0.99);
    EXPECT_NEAR(PsnrY(*photo, *decoded), ReferencePsnrY(*photo, *decoded), 1e-9);
}

}  // namespace
}  // namespace tallox

// BD-rate and the bpp at a quality against answers worked out by hand: curves a fixed factor
// apart, straight lines in ln bpp whose integrals are plain, and a three-point PCHIP evaluated
// and integrated on paper; then the curves it refuses, with the reasons it gives.
#include "engine/bd_rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tallox {
namespace {

// Points of a curve with ln(bpp) = f(quality), at the given qualities.
template <typename F>
std::vector<RdPoint> Curve(std::initializer_list<double> qualities, F lnBpp) {
    std::vector<RdPoint> points;
    for (double q : qualities) points.push_back({std::exp(lnBpp(q)), q});
    return points;
}

std::vector<RdPoint> Scaled(std::vector<RdPoint> points, double factor) {
    for (RdPoint& p : points) p.bpp *= factor;
    return points;
}

// A typical curve: bits rise ever faster as quality nears its top.
const std::vector<RdPoint> kCurved = {{0.1, 30}, {0.25, 36}, {0.5, 40}, {1.0, 43}, {2.0, 45}};

// ln bpp = 0, 1, 3 at qualities 0, 1, 2. PCHIP's slopes: 0.5 at the start (the end formula,
// (3 x 1 - 1 x 2) / 2), 4/3 inside (6 / (3/1 + 3/2)), 2.5 at the end ((3 x 2 - 1) / 2). A
// Hermite segment's integral is h ((y0 + y1) / 2 + h (d0 - d1) / 12): 0.430556 + 1.902778 = 7/3.
const std::vector<RdPoint> kThreePoints = {{1.0, 0}, {std::exp(1.0), 1}, {std::exp(3.0), 2}};

TEST(BdRate, KnownAnswers) {
    struct Case {
        const char* name;
        std::vector<RdPoint> reference;
        std::vector<RdPoint> test;
        double percent;
    };
    const auto line = [](double q) { return q / 10 - 4; };
    std::vector<RdPoint> shuffled = Scaled(kCurved, 0.9);
    std::swap(shuffled[0], shuffled[3]);
    std::swap(shuffled[1], shuffled[4]);
    const Case cases[] = {
        {"10 % fewer bits at the same qualities", kCurved, Scaled(kCurved, 0.9), -10.0},
        {"the same, points in any order", kCurved, shuffled, -10.0},
        {"10 % more bits", kCurved, Scaled(kCurved, 1.1), 10.0},
        {"10 % fewer bits at other qualities", Curve({30, 35, 40, 45}, line),
         Scaled(Curve({32, 38, 44}, line), 0.9), -10.0},
        // Overlap 30..60; the difference 0.01 (q - 30) averages 0.15 there.
        {"only the shared range counts", Curve({20, 40, 60}, line),
         Curve({30, 55, 80}, [&](double q) { return line(q) + 0.01 * (q - 30); }),
         std::expm1(0.15) * 100},
        // The line from ln bpp 0 to 3 integrates to 3, the PCHIP to 7/3: mean difference -1/3.
        {"a cubic against a line", Curve({0, 2}, [](double q) { return 1.5 * q; }), kThreePoints,
         std::expm1(-1.0 / 3) * 100},
    };
    for (const Case& c : cases) {
        const auto result = BdRate(c.reference, c.test);
        ASSERT_TRUE(result.value) << c.name << ": " << result.reason;
        EXPECT_NEAR(*result.value, c.percent, 1e-9) << c.name;
    }
}

// ln bpp = 0, 0.1, 3 at qualities 0, 1, 2: the parabola through them falls at the start (slope
// (3 x 0.1 - 3) / 2 < 0), so the start's slope is held at 0 and the curve keeps rising; the
// inner slope is 6 / (3 / 0.1 + 3 / 2.9).
const std::vector<RdPoint> kSteepEnd = {{1.0, 0}, {std::exp(0.1), 1}, {std::exp(3.0), 2}};

TEST(BppAtQuality, FollowsTheSameInterpolation) {
    struct Case {
        const std::vector<RdPoint>* curve;
        double quality;
        double lnBpp;
    };
    // Inside the segments, from the slopes above: h00 y0 + h10 d0 + h01 y1 + h11 d1 at t = 1/2
    // with weights 1/2, 1/8, 1/2, -1/8.
    const double steepInner = 6 / (3 / 0.1 + 3 / 2.9);
    const Case cases[] = {
        {&kThreePoints, 0.0, 0.0},
        {&kThreePoints, 0.5, 0.125 * 0.5 + 0.5 * 1 - 0.125 * 4 / 3},
        {&kThreePoints, 1.0, 1.0},
        {&kThreePoints, 1.5, 0.5 * 1 + 0.125 * 4 / 3 + 0.5 * 3 - 0.125 * 2.5},
        {&kThreePoints, 2.0, 3.0},
        {&kSteepEnd, 0.5, 0.5 * 0.1 - 0.125 * steepInner},
    };
    for (const Case& c : cases) {
        const auto bpp = BppAtQuality(*c.curve, c.quality);
        ASSERT_TRUE(bpp.value) << c.quality << ": " << bpp.reason;
        EXPECT_NEAR(std::log(*bpp.value), c.lnBpp, 1e-12) << c.quality;
    }
}

TEST(BppAtQuality, DoesNotExtrapolate) {
    for (double quality : {-0.001, 2.001, std::numeric_limits<double>::quiet_NaN()}) {
        const auto bpp = BppAtQuality(kThreePoints, quality);
        EXPECT_FALSE(bpp.value) << quality;
        EXPECT_EQ(bpp.reason, "quality " +
                                  std::string(std::isnan(quality) ? "nan"
                                              : quality < 0       ? "-0.001"
                                                                  : "2.001") +
                                  " lies outside the curve's 0 to 2");
    }
}

TEST(BdRate, RefusesCurvesWithAReason) {
    struct Case {
        std::vector<RdPoint> reference;
        std::vector<RdPoint> test;
        const char* reason;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {{{0.1, 30}, {0.4, 40}},
         {{0.1, 41}, {0.4, 50}},
         "the curves share no quality range: the reference spans 30 to 40, the test 41 to 50"},
        {{{0.1, 30}, {0.4, 40}},
         {{0.1, 40}, {0.4, 50}},
         "the curves share no quality range: the reference spans 30 to 40, the test 40 to 50"},
        {{{0.1, 30}, {0.2, 35}, {0.3, 34}, {0.4, 40}},
         kCurved,
         "the reference curve does not rise in quality with bpp: 0.3 bpp at 34 after 0.2 bpp "
         "at 35"},
        {kCurved,
         {{0.4, 33}, {0.2, 35}, {0.1, 30}, {0.2, 36}},
         "the test curve does not rise in quality with bpp: 0.2 bpp at 36 after 0.2 bpp at 35, "
         "0.4 bpp at 33 after 0.2 bpp at 36"},
        {kCurved, {{0.5, 40}}, "the test curve has fewer than 2 points"},
        {{}, kCurved, "the reference curve has fewer than 2 points"},
        {{{0.0, 30}, {0.4, 40}},
         kCurved,
         "the reference curve has a point of 0 bpp and quality 30; bpp must be positive and both "
         "finite"},
        {kCurved,
         {{0.1, 30}, {0.4, nan}},
         "the test curve has a point of 0.4 bpp and quality nan; bpp must be positive and both "
         "finite"},
    };
    for (const Case& c : cases) {
        const auto result = BdRate(c.reference, c.test);
        EXPECT_FALSE(result.value) << c.reason;
        EXPECT_EQ(result.reason, c.reason);
    }
}

}  // namespace
}  // namespace tallox

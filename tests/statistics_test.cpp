#include "engine/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace tallox {
namespace {

using Values = std::vector<double>;

std::vector<double> Range(double first, double last) {
    Values values;
    for (double v = first; v <= last; ++v) {
        values.push_back(v);
    }
    return values;
}

TEST(MannWhitneyTest, HandComputedCases) {
    struct Case {
        Values a, b;
        double u, p;
        bool exact;
    };
    const Case cases[] = {
        // No overlap, 3 and 3: U = 0 is 1 of the C(6, 3) = 20 arrangements, on each side.
        {{1, 2, 3}, {4, 5, 6}, 0, 2.0 / 20, true},
        {{4, 5, 6}, {1, 2, 3}, 9, 2.0 / 20, true},
        // 4 and 4 with one pair out of order: U <= 1 in 2 of 70 arrangements.
        {{1, 2, 3, 5}, {4, 6, 7, 8}, 1, 4.0 / 70, true},
        // U at the middle of its range: both tails hold it, p is 1.
        {{1, 3, 5}, {2, 4}, 3, 1.0, true},
        // Ties: groups {2, 2, 2} and {3, 3} take 24 + 6 from the variance, 9/12 (7 - 30/30) =
        // 4.5; |1 - 4.5| - 0.5 = 3 = sqrt(2) sd.
        {{1, 2, 2}, {2, 3, 3}, 1, std::erfc(1.0), false},
        // 25 and 25 apart: variance 625 51 / 12, z = 312 / sqrt(2656.25).
        {Range(1, 25), Range(26, 50), 0, std::erfc(312 / std::sqrt(2656.25) / std::sqrt(2.0)),
         false},
        // Nothing to tell apart.
        {{7, 7, 7}, {7, 7}, 3, 1.0, false},
    };
    for (const Case& c : cases) {
        const MannWhitney result = MannWhitneyTest(c.a, c.b);
        const std::string what = testing::PrintToString(c.a) + " " + testing::PrintToString(c.b);
        EXPECT_EQ(result.u, c.u) << what;
        EXPECT_NEAR(result.pValue, c.p, 1e-12 * std::max(1.0, c.p)) << what;
        EXPECT_EQ(result.exact, c.exact) << what;
    }
    EXPECT_TRUE(std::isnan(MannWhitneyTest({}, Values{1.0}).pValue));
}

// The exact p-value is the share of the ways to split the pooled values into samples of the
// same sizes whose U is at least as far from the middle; counted here by going through them.
TEST(MannWhitneyTest, ExactPValueCountsEverySplit) {
    struct Case {
        Values a, b;
    };
    const Case cases[] = {
        {{3.5}, {1, 2, 4, 5, 6, 7, 8}},
        {{1, 9, 10, 12, 13}, {2, 3, 4, 5, 6, 7}},
        {{0.5, 4, 8, 11, 14, 20}, {1, 2, 3, 5, 6, 7, 9, 10, 12}},
        {{5, 6, 7, 8, 9}, {1, 2, 3, 4, 10, 11, 12, 13, 14, 15, 16}},
    };
    for (const Case& c : cases) {
        Values pooled = c.a;
        pooled.insert(pooled.end(), c.b.begin(), c.b.end());
        const size_t m = c.a.size();
        const size_t n = c.b.size();
        const auto uOf = [&](const std::vector<bool>& inA) {
            double u = 0;
            for (size_t i = 0; i < pooled.size(); ++i) {
                for (size_t j = 0; j < pooled.size(); ++j) {
                    u += inA[i] && !inA[j] && pooled[i] > pooled[j];
                }
            }
            return u;
        };
        std::vector<bool> inA(pooled.size(), false);
        std::fill(inA.begin(), inA.begin() + static_cast<std::ptrdiff_t>(m), true);
        const double middle = static_cast<double>(m * n) / 2;
        const double distance = std::abs(uOf(inA) - middle);
        double splits = 0;
        double asFar = 0;
        std::vector<bool> split(pooled.size(), false);
        std::fill(split.end() - static_cast<std::ptrdiff_t>(m), split.end(), true);
        do {
            ++splits;
            asFar += std::abs(uOf(split) - middle) >= distance;
        } while (std::next_permutation(split.begin(), split.end()));
        const MannWhitney result = MannWhitneyTest(c.a, c.b);
        EXPECT_TRUE(result.exact);
        EXPECT_EQ(result.u, uOf(inA));
        EXPECT_NEAR(result.pValue, asFar / splits, 1e-12) << testing::PrintToString(c.a);
    }
}

TEST(MedianRatioTest, HandComputedIntervals) {
    // 5 and 5: P(U <= 2) = 4/252 <= 0.025 < P(U <= 3) = 7/252, so the interval runs from the
    // 3rd least to the 3rd greatest of the 25 ratios 2 j / i, i, j in 1..5: 2/3 and 6.
    const RatioEstimate doubled = MedianRatio(Values{1, 2, 3, 4, 5}, Values{2, 4, 6, 8, 10});
    EXPECT_DOUBLE_EQ(doubled.ratio, 2.0);
    EXPECT_DOUBLE_EQ(doubled.low, 2.0 / 3);
    EXPECT_DOUBLE_EQ(doubled.high, 6.0);
    // The medians of an even count are the means of the middle two: 2.5 and 3.5.
    EXPECT_DOUBLE_EQ(MedianRatio(Values{4, 1, 3, 2}, Values{2, 6, 3, 4}).ratio, 3.5 / 2.5);
    // 3 and 3: P(U = 0) = 1/20 > 0.025, so no pair bounds a 95 % interval.
    const RatioEstimate small = MedianRatio(Values{1, 2, 4}, Values{2, 4, 8});
    EXPECT_EQ(small.low, 0.0);
    EXPECT_TRUE(std::isinf(small.high));
    // A zero time has no logarithm: the ratio alone.
    const RatioEstimate zero = MedianRatio(Values{0, 1, 1, 1, 1, 1}, Values{1, 1, 1, 1, 1, 1});
    EXPECT_EQ(zero.ratio, 1.0);
    EXPECT_TRUE(std::isnan(zero.low));
    EXPECT_TRUE(std::isnan(zero.high));
    EXPECT_TRUE(std::isnan(MedianRatio({}, Values{1}).ratio));
}

// Past 20 values a sample's bound is the normal one: for 30 and 30, floor(450 - 1.96 sqrt(900
// 61 / 12) + 0.5) = 317. The bounds are found without listing all pairs; here they are listed
// and sorted, over values spread out, tied heavily, and one sample much larger.
TEST(MedianRatioTest, BoundsAreTheRankedPairRatios) {
    struct Case {
        Values base, next;
        size_t k;  // the rank of the bounds from each end
    };
    Values spread;
    Values slower;
    for (int i = 0; i < 30; ++i) {
        spread.push_back(1.0 + std::fmod(i * 0.37, 1.0) + (i % 7) * 0.01);
        slower.push_back(1.3 * spread.back() + (i % 5) * 0.002);
    }
    const Values tied{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    const Values tiedNext{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2};
    Values large;
    for (int i = 0; i < 400; ++i) {
        large.push_back(2.0 + std::fmod(i * 0.618, 1.5));
    }
    const Case cases[] = {
        {spread, slower, 317},
        {tied, tiedNext, 184},  // 23 and 24: floor(276 - 1.96 sqrt(2208) + 0.5)
        {spread, large, 4713},  // 30 and 400: floor(6000 - 1.96 sqrt(431000) + 0.5)
    };
    for (const Case& c : cases) {
        Values ratios;
        for (const double b : c.base) {
            for (const double n : c.next) {
                ratios.push_back(std::exp(std::log(n) - std::log(b)));
            }
        }
        std::sort(ratios.begin(), ratios.end());
        const RatioEstimate estimate = MedianRatio(c.base, c.next);
        EXPECT_DOUBLE_EQ(estimate.low, ratios[c.k - 1]) << c.k;
        EXPECT_DOUBLE_EQ(estimate.high, ratios[ratios.size() - c.k]) << c.k;
    }
    const RatioEstimate slowdown = MedianRatio(spread, slower);
    EXPECT_LT(slowdown.low, 1.3);
    EXPECT_GT(slowdown.high, 1.3);
}

}  // namespace
}  // namespace tallox

// What two samples of call times say about each other: whether one tends to be slower
// (Mann-Whitney U) and by what factor (the ratio of the medians, with a confidence interval).
// Pure functions over the samples; the comparison of result files builds on them.
#pragma once
#include <span>

namespace tallox {

// The median: the mean of the middle two for an even count, as the call statistics take it;
// NaN for no values.
double Median(std::span<const double> values);

// The `fraction` quantile (0 to 1) by linear interpolation between the closest ranks: the
// values sorted, position fraction x (n - 1), as spreadsheets' PERCENTILE and NumPy's default
// take it. The 0.5 quantile is the median. NaN for no values.
double Percentile(std::span<const double> values, double fraction);

struct MannWhitney {
    // Of the first sample: the pairs (a, b) with a > b, a tie counting one half. The second
    // sample's U is the count of pairs less this.
    double u = 0.0;
    double pValue = 1.0;  // two-sided; NaN when a sample is empty
    bool exact = false;   // from the exact distribution of U rather than the normal one
};

// The Mann-Whitney U test of `a` against `b`. Both samples of at most kExactMaxSize values and
// no value shared between or within them: the exact p-value, the count of the arrangements of
// the ranks whose U lies as far from the middle as this one. Otherwise the normal approximation
// with the variance corrected for ties and a continuity correction of one half.
MannWhitney MannWhitneyTest(std::span<const double> a, std::span<const double> b);

inline constexpr int kExactMaxSize = 20;

// The median of `next` over the median of `base`, and the 95 % confidence interval of that
// factor. The interval is the distribution-free one of the shift between the samples' logarithms
// (Hodges-Lehmann / Moses): the differences log(n) - log(b) of all pairs, from the k-th least to
// the k-th greatest, k taken from the distribution of U (exact up to kExactMaxSize values per
// sample, else normal), turned back into factors. It needs no random numbers, so the same
// samples always give the same interval, and holds wherever the two samples differ by a factor
// in scale; that is how call times on one machine usually differ. Each value's logarithm is
// needed: a sample holding zero, a negative or a non-finite time has no interval (NaN bounds).
// Samples too small for any k (e.g. two values each) give the interval [0, inf].
struct RatioEstimate {
    double ratio = 0.0;  // NaN when a sample is empty
    double low = 0.0;
    double high = 0.0;
};
RatioEstimate MedianRatio(std::span<const double> base, std::span<const double> next);

}  // namespace tallox

#include "engine/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tallox {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The standard normal quantile of 0.975: a two-sided 95 % interval.
constexpr double kZ975 = 1.959963984540054;

std::vector<double> Sorted(std::span<const double> values) {
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

// How many of the arrangements of m values among n others give each U = 0 .. mn, with no ties:
// the coefficients of the Gaussian binomial [m + n choose m](q). It is built one value at a
// time, [n + i choose i] = [n + i - 1 choose i - 1] (1 - q^(n + i)) / (1 - q^i); every step's
// coefficients are whole and at most C(m + n, m), which fits in 64 bits for m, n <= 20.
std::vector<int64_t> UCounts(size_t m, size_t n) {
    std::vector<int64_t> c(m * n + m + 1, 0);
    c[0] = 1;
    for (size_t i = 1; i <= m; ++i) {
        const size_t degree = (i - 1) * n + n + i;  // after the multiplication
        for (size_t k = degree; k >= n + i; --k) {
            c[k] -= c[k - n - i];
        }
        for (size_t k = i; k <= degree; ++k) {
            c[k] += c[k - i];
        }
    }
    c.resize(m * n + 1);
    return c;
}

// The largest k with P(U <= k - 1) <= 0.025 for samples of m and n values: the rank from each
// end of the ordered pair differences that bounds a 95 % interval. 0 when there is none.
size_t IntervalRank(size_t m, size_t n) {
    if (m <= kExactMaxSize && n <= kExactMaxSize) {
        const std::vector<int64_t> counts = UCounts(m, n);
        double total = 0.0;
        for (const int64_t count : counts) {
            total += static_cast<double>(count);
        }
        size_t k = 0;
        double below = 0.0;  // arrangements with U <= k - 1
        while (k < counts.size() && (below + static_cast<double>(counts[k])) / total <= 0.025) {
            below += static_cast<double>(counts[k]);
            ++k;
        }
        return k;
    }
    const double mn = static_cast<double>(m) * static_cast<double>(n);
    const double sigma = std::sqrt(mn * static_cast<double>(m + n + 1) / 12.0);
    const double k = std::floor(mn / 2.0 - kZ975 * sigma + 0.5);
    return k < 1.0 ? 0 : static_cast<size_t>(k);
}

// The pairs with b[j] - a[i] <= t, both lists sorted. As a[i] grows, b[j] - a[i] shrinks, so the
// count of qualifying j never falls and one pass over each list finds them all.
size_t CountAtMost(const std::vector<double>& a, const std::vector<double>& b, double t) {
    size_t count = 0;
    size_t j = 0;
    for (const double x : a) {
        while (j < b.size() && b[j] - x <= t) {
            ++j;
        }
        count += j;
    }
    return count;
}

// The k-th least (from 1) of the differences b[j] - a[i] over all pairs, both lists sorted,
// without writing out all m n of them: the value range is halved while it holds more than m + n
// differences, keeping count(<= lo) < k <= count(<= hi); the few left are then selected among.
double KthDifference(const std::vector<double>& a, const std::vector<double>& b, size_t k) {
    double lo = std::nextafter(b.front() - a.back(), -std::numeric_limits<double>::infinity());
    double hi = b.back() - a.front();
    size_t atLo = 0;
    size_t atHi = a.size() * b.size();
    while (atHi - atLo > a.size() + b.size()) {
        const double mid = lo + (hi - lo) / 2;
        if (mid <= lo || mid >= hi) {
            return hi;  // no value lies between: every difference in (lo, hi] is hi
        }
        const size_t count = CountAtMost(a, b, mid);
        if (count >= k) {
            hi = mid;
            atHi = count;
        } else {
            lo = mid;
            atLo = count;
        }
    }
    std::vector<double> between;
    between.reserve(atHi - atLo);
    size_t low = 0;   // b[j] - x <= lo for j < low
    size_t high = 0;  // b[j] - x <= hi for j < high
    for (const double x : a) {
        while (low < b.size() && b[low] - x <= lo) {
            ++low;
        }
        while (high < b.size() && b[high] - x <= hi) {
            ++high;
        }
        for (size_t j = low; j < high; ++j) {
            between.push_back(b[j] - x);
        }
    }
    const auto nth = between.begin() + static_cast<std::ptrdiff_t>(k - atLo - 1);
    std::nth_element(between.begin(), nth, between.end());
    return *nth;
}

}  // namespace

double Median(std::span<const double> values) {
    if (values.empty()) {
        return kNaN;
    }
    std::vector<double> copy(values.begin(), values.end());
    const size_t half = copy.size() / 2;
    std::nth_element(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(half), copy.end());
    if (copy.size() % 2 != 0) {
        return copy[half];
    }
    const double upper = copy[half];
    return (*std::max_element(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(half)) +
            upper) /
           2;
}

double Percentile(std::span<const double> values, double fraction) {
    if (values.empty()) {
        return kNaN;
    }
    const std::vector<double> sorted = Sorted(values);
    const double position = fraction * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<size_t>(std::floor(position));
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] +
           (position - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}

MannWhitney MannWhitneyTest(std::span<const double> a, std::span<const double> b) {
    if (a.empty() || b.empty()) {
        return {0.0, kNaN, false};
    }
    const std::vector<double> x = Sorted(a);
    const std::vector<double> y = Sorted(b);
    // One walk over the distinct values in order: each of x's values at v beats the y values
    // below v and ties with those at v. Tie groups of t values take t^3 - t from the variance.
    double u = 0.0;
    double ties = 0.0;
    size_t i = 0;
    size_t j = 0;
    while (i < x.size() || j < y.size()) {
        const double v = j == y.size() || (i < x.size() && x[i] < y[j]) ? x[i] : y[j];
        const size_t yBelow = j;
        size_t inX = 0;
        size_t inY = 0;
        for (; i < x.size() && x[i] == v; ++i) {
            ++inX;
        }
        for (; j < y.size() && y[j] == v; ++j) {
            ++inY;
        }
        u += static_cast<double>(inX) *
             (static_cast<double>(yBelow) + 0.5 * static_cast<double>(inY));
        const double t = static_cast<double>(inX + inY);
        ties += t * t * t - t;
    }
    const size_t m = x.size();
    const size_t n = y.size();
    const double mn = static_cast<double>(m) * static_cast<double>(n);
    if (ties == 0.0 && m <= kExactMaxSize && n <= kExactMaxSize) {
        // U is whole here; the distribution is symmetric, so take the nearer tail twice.
        const std::vector<int64_t> counts = UCounts(m, n);
        const auto tail = static_cast<size_t>(std::min(u, mn - u));
        double inTail = 0.0;
        double total = 0.0;
        for (size_t k = 0; k < counts.size(); ++k) {
            total += static_cast<double>(counts[k]);
            inTail += k <= tail ? static_cast<double>(counts[k]) : 0.0;
        }
        return {u, std::min(1.0, 2.0 * inTail / total), true};
    }
    const double size = static_cast<double>(m + n);
    const double variance = mn / 12.0 * (size + 1.0 - ties / (size * (size - 1.0)));
    if (variance <= 0.0) {
        return {u, 1.0, false};  // every value the same: nothing tells the samples apart
    }
    const double z = std::max(0.0, std::abs(u - mn / 2.0) - 0.5) / std::sqrt(variance);
    return {u, std::erfc(z / std::sqrt(2.0)), false};
}

RatioEstimate MedianRatio(std::span<const double> base, std::span<const double> next) {
    if (base.empty() || next.empty()) {
        return {kNaN, kNaN, kNaN};
    }
    RatioEstimate estimate{Median(next) / Median(base), kNaN, kNaN};
    const auto positive = [](double v) { return v > 0.0 && std::isfinite(v); };
    if (!std::all_of(base.begin(), base.end(), positive) ||
        !std::all_of(next.begin(), next.end(), positive)) {
        return estimate;
    }
    const auto logs = [](std::span<const double> values) {
        std::vector<double> result(values.size());
        std::transform(values.begin(), values.end(), result.begin(),
                       [](double v) { return std::log(v); });
        std::sort(result.begin(), result.end());
        return result;
    };
    const std::vector<double> a = logs(base);
    const std::vector<double> b = logs(next);
    const size_t k = IntervalRank(a.size(), b.size());
    if (k == 0) {
        estimate.low = 0.0;
        estimate.high = std::numeric_limits<double>::infinity();
        return estimate;
    }
    estimate.low = std::exp(KthDifference(a, b, k));
    estimate.high = std::exp(KthDifference(a, b, a.size() * b.size() - k + 1));
    return estimate;
}

}  // namespace tallox

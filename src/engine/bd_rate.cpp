#include "engine/bd_rate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace tallox {
namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// ln(bpp) against quality, interpolated by PCHIP: knots x (quality, strictly rising), values y
// (ln bpp) and the slopes d at the knots.
class Pchip {
public:
    // The curve sorted by bpp, or the reason it cannot be interpolated.
    static MetricResult<Pchip> Of(std::span<const RdPoint> points, const char* name);

    double Lowest() const { return x_.front(); }
    double Highest() const { return x_.back(); }

    double At(double q) const {
        const size_t k = Segment(q);
        const double h = x_[k + 1] - x_[k];
        const double t = (q - x_[k]) / h;
        const double t2 = t * t, t3 = t2 * t;
        return (2 * t3 - 3 * t2 + 1) * y_[k] + (t3 - 2 * t2 + t) * h * d_[k] +
               (-2 * t3 + 3 * t2) * y_[k + 1] + (t3 - t2) * h * d_[k + 1];
    }

    // The exact integral over [lo, hi], within the knots: the Hermite basis integrated
    // piece by piece.
    double Integral(double lo, double hi) const {
        double sum = 0;
        for (size_t k = Segment(lo); k + 1 < x_.size() && x_[k] < hi; ++k) {
            const double h = x_[k + 1] - x_[k];
            const double a = (std::max(lo, x_[k]) - x_[k]) / h;
            const double b = (std::min(hi, x_[k + 1]) - x_[k]) / h;
            sum += h * (Antiderivative(k, b) - Antiderivative(k, a));
        }
        return sum;
    }

private:
    // The segment [x_k, x_k+1] holding q, the last one for q at the last knot.
    size_t Segment(double q) const {
        const auto above = std::upper_bound(x_.begin(), x_.end(), q);
        const auto k = static_cast<size_t>(above - x_.begin());
        return std::clamp<size_t>(k, 1, x_.size() - 1) - 1;
    }

    // The integral over t' from 0 to t of segment k's cubic, in units of its width.
    double Antiderivative(size_t k, double t) const {
        const double h = x_[k + 1] - x_[k];
        const double t2 = t * t, t3 = t2 * t, t4 = t3 * t;
        return (t4 / 2 - t3 + t) * y_[k] + (t4 / 4 - 2 * t3 / 3 + t2 / 2) * h * d_[k] +
               (-t4 / 2 + t3) * y_[k + 1] + (t4 / 4 - t3 / 3) * h * d_[k + 1];
    }

    void ComputeSlopes();

    std::vector<double> x_, y_, d_;
};

MetricResult<Pchip> Pchip::Of(std::span<const RdPoint> points, const char* name) {
    using Result = MetricResult<Pchip>;
    if (points.size() < 2) {
        return Result::Failed(std::string(name) + " curve has fewer than 2 points");
    }
    for (const RdPoint& p : points) {
        if (!(p.bpp > 0) || !std::isfinite(p.bpp) || !std::isfinite(p.quality)) {
            return Result::Failed(std::string(name) + " curve has a point of " + Number(p.bpp) +
                                  " bpp and quality " + Number(p.quality) +
                                  "; bpp must be positive and both finite");
        }
    }
    std::vector<RdPoint> sorted(points.begin(), points.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const RdPoint& a, const RdPoint& b) { return a.bpp < b.bpp; });
    std::string breaks;
    for (size_t k = 1; k < sorted.size(); ++k) {
        if (sorted[k].bpp > sorted[k - 1].bpp && sorted[k].quality > sorted[k - 1].quality) {
            continue;
        }
        breaks += breaks.empty() ? "" : ", ";
        breaks += Number(sorted[k].bpp) + " bpp at " + Number(sorted[k].quality) + " after " +
                  Number(sorted[k - 1].bpp) + " bpp at " + Number(sorted[k - 1].quality);
    }
    if (!breaks.empty()) {
        return Result::Failed(std::string(name) +
                              " curve does not rise in quality with bpp: " + breaks);
    }
    Pchip curve;
    for (const RdPoint& p : sorted) {
        curve.x_.push_back(p.quality);
        curve.y_.push_back(std::log(p.bpp));
    }
    curve.ComputeSlopes();
    return Result::Of(std::move(curve));
}

void Pchip::ComputeSlopes() {
    const size_t n = x_.size();
    std::vector<double> h(n - 1), delta(n - 1);
    for (size_t k = 0; k + 1 < n; ++k) {
        h[k] = x_[k + 1] - x_[k];
        delta[k] = (y_[k + 1] - y_[k]) / h[k];
    }
    d_.assign(n, 0.0);
    if (n == 2) {
        d_[0] = d_[1] = delta[0];
        return;
    }
    // Every secant is positive (both coordinates rise strictly), so none of PCHIP's cases for
    // turning or flat data arise. Inside: the secants' weighted harmonic mean, which keeps the
    // cubic within their bounds.
    for (size_t k = 1; k + 1 < n; ++k) {
        const double w1 = 2 * h[k] + h[k - 1], w2 = h[k] + 2 * h[k - 1];
        d_[k] = (w1 + w2) / (w1 / delta[k - 1] + w2 / delta[k]);
    }
    // The ends: the slope of the parabola through the first (last) three points, or 0 where
    // that slope would turn the curve down.
    const auto end = [](double h0, double h1, double s0, double s1) {
        const double d = ((2 * h0 + h1) * s0 - h0 * s1) / (h0 + h1);
        return d > 0 ? d : 0.0;
    };
    d_[0] = end(h[0], h[1], delta[0], delta[1]);
    d_[n - 1] = end(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
}

}  // namespace

MetricResult<double> BdRate(std::span<const RdPoint> reference, std::span<const RdPoint> test) {
    using Result = MetricResult<double>;
    auto ref = Pchip::Of(reference, "the reference");
    if (!ref.value) return Result::Failed(ref.reason);
    auto tst = Pchip::Of(test, "the test");
    if (!tst.value) return Result::Failed(tst.reason);
    const double lo = std::max(ref.value->Lowest(), tst.value->Lowest());
    const double hi = std::min(ref.value->Highest(), tst.value->Highest());
    if (!(lo < hi)) {
        return Result::Failed("the curves share no quality range: the reference spans " +
                              Number(ref.value->Lowest()) + " to " + Number(ref.value->Highest()) +
                              ", the test " + Number(tst.value->Lowest()) + " to " +
                              Number(tst.value->Highest()));
    }
    const double meanDifference =
        (tst.value->Integral(lo, hi) - ref.value->Integral(lo, hi)) / (hi - lo);
    return Result::Of(std::expm1(meanDifference) * 100.0);
}

MetricResult<double> BppAtQuality(std::span<const RdPoint> curve, double quality) {
    using Result = MetricResult<double>;
    auto pchip = Pchip::Of(curve, "the");
    if (!pchip.value) return Result::Failed(pchip.reason);
    if (!(quality >= pchip.value->Lowest() && quality <= pchip.value->Highest())) {
        return Result::Failed("quality " + Number(quality) + " lies outside the curve's " +
                              Number(pchip.value->Lowest()) + " to " +
                              Number(pchip.value->Highest()));
    }
    return Result::Of(std::exp(pchip.value->At(quality)));
}

}  // namespace tallox

// Bjøntegaard delta rate: how many more or fewer bits a test codec spends than a reference
// codec for the same quality, averaged over the qualities both reach.
//
// Each codec is a rate-distortion curve, points of bits per pixel and a quality figure where
// higher is better (PSNR, SSIMULACRA2, ...). On each curve ln(bpp) is interpolated against the
// quality by monotone piecewise cubic Hermite interpolation (PCHIP) and integrated exactly over
// the overlapping quality range; the figure is (exp(mean difference of ln bpp) - 1) x 100 %.
// Negative means the test codec needs fewer bits.
//
// The slopes satisfy Fritsch and Carlson's monotonicity conditions in the form MATLAB's and
// SciPy's pchip use (a weighted harmonic mean of the neighbouring secants inside, a one-sided
// three-point formula at the ends held at 0 or above, two points a straight line), so the
// figures agree with the usual BD-rate tools.
//
// A curve's points may come in any order. Sorted by bpp they must rise strictly in quality:
// more bits for no better quality is a measuring fault or a codec's setting that should be
// dropped, and there is no sound way to average across it. Such a curve gets no figure, and the
// reason names every point that breaks the order, so the caller can drop them and ask again.
#pragma once
#include <span>

#include "engine/metric_result.h"

namespace tallox {

struct RdPoint {
    double bpp = 0;      // bits per pixel, > 0
    double quality = 0;  // higher is better
};

// The test codec's bits relative to the reference's in percent; no figure when a curve has
// under two points, a bpp that is not positive and finite, a quality that is not finite, is not
// monotone, or when the two curves' quality ranges do not overlap.
MetricResult<double> BdRate(std::span<const RdPoint> reference, std::span<const RdPoint> test);

// The bpp the curve needs for `quality`, by the same interpolation; no figure outside the
// curve's quality range (no extrapolation) or for a curve BdRate refuses.
MetricResult<double> BppAtQuality(std::span<const RdPoint> curve, double quality);

}  // namespace tallox

#include "engine/image_quality.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// Once, before the per-target passes below that use it.
#ifndef TALLOX_ENGINE_IMAGE_QUALITY_LUMA
#define TALLOX_ENGINE_IMAGE_QUALITY_LUMA
namespace tallox {
namespace {
// Y x 1000 of the pixel at `p`: BT.601's weights in thousandths, exact in integers.
int32_t Luma1000(const uint8_t* p) { return 299 * p[0] + 587 * p[1] + 114 * p[2]; }
}  // namespace
}  // namespace tallox
#endif

// Compiled once per SIMD target; SSIM runs on the best one the processor has.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/image_quality.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

// SSIM's cost is its window sums: five Gaussian-weighted moments (E x, E y, E x^2, E y^2,
// E xy) at every window position. The 11 x 11 Gaussian is the outer product of two 11-tap
// ones, so each output row takes a vertical pass over 11 luma rows into five moment rows, then
// a horizontal pass over those: 2 x 11 multiply-adds per moment instead of 121, each pass a
// run of whole vectors along the row. The luma rows live in a ring of 11, so the working set
// stays in cache whatever the image's size.
//
// The luma rows hold Y - 128, so that x^2 stays small and E x^2 - (E x)^2 loses few bits in
// float; the variances do not move with the shift, and the means get the 128 back.
HWY_BEFORE_NAMESPACE();
namespace tallox {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using FloatTag = hn::ScalableTag<float>;

constexpr size_t kTaps = 11;
constexpr float kC1 = (0.01f * 255) * (0.01f * 255);
constexpr float kC2 = (0.03f * 255) * (0.03f * 255);
constexpr float kCentre = 128.0f;

struct Moments {
    float* x;
    float* y;
    float* xx;
    float* yy;
    float* xy;
};

// moments[c] for every c < columns (a multiple of the vector length): the weighted sums down
// the 11 rows of `x` and `y`.
void FilterColumns(const float* const* x, const float* const* y, size_t columns,
                   const float* weights, const Moments& out) {
    const FloatTag d;
    for (size_t c = 0; c < columns; c += hn::Lanes(d)) {
        auto mx = hn::Zero(d), my = hn::Zero(d), xx = hn::Zero(d), yy = hn::Zero(d),
             xy = hn::Zero(d);
        for (size_t k = 0; k < kTaps; ++k) {
            const auto w = hn::Set(d, weights[k]);
            const auto vx = hn::LoadU(d, x[k] + c);
            const auto vy = hn::LoadU(d, y[k] + c);
            const auto wx = hn::Mul(w, vx);
            const auto wy = hn::Mul(w, vy);
            mx = hn::Add(mx, wx);
            my = hn::Add(my, wy);
            xx = hn::MulAdd(wx, vx, xx);
            yy = hn::MulAdd(wy, vy, yy);
            xy = hn::MulAdd(wx, vy, xy);
        }
        hn::StoreU(mx, d, out.x + c);
        hn::StoreU(my, d, out.y + c);
        hn::StoreU(xx, d, out.xx + c);
        hn::StoreU(yy, d, out.yy + c);
        hn::StoreU(xy, d, out.xy + c);
    }
}

// The sum of the SSIM map over the `count` windows that start at columns 0..count-1 of one
// output row. Reads the moments up to column count + 10 rounded up to whole vectors.
double SumRow(const Moments& in, size_t count, const float* weights) {
    const FloatTag d;
    const size_t lanes = hn::Lanes(d);
    const auto c1 = hn::Set(d, kC1);
    const auto c2 = hn::Set(d, kC2);
    const auto centre = hn::Set(d, kCentre);
    const auto two = hn::Set(d, 2.0f);
    auto sum = hn::Zero(d);
    for (size_t c = 0; c < count; c += lanes) {
        auto mx = hn::Zero(d), my = hn::Zero(d), xx = hn::Zero(d), yy = hn::Zero(d),
             xy = hn::Zero(d);
        for (size_t k = 0; k < kTaps; ++k) {
            const auto w = hn::Set(d, weights[k]);
            mx = hn::MulAdd(w, hn::LoadU(d, in.x + c + k), mx);
            my = hn::MulAdd(w, hn::LoadU(d, in.y + c + k), my);
            xx = hn::MulAdd(w, hn::LoadU(d, in.xx + c + k), xx);
            yy = hn::MulAdd(w, hn::LoadU(d, in.yy + c + k), yy);
            xy = hn::MulAdd(w, hn::LoadU(d, in.xy + c + k), xy);
        }
        const auto varX = hn::NegMulAdd(mx, mx, xx);
        const auto varY = hn::NegMulAdd(my, my, yy);
        const auto covariance = hn::NegMulAdd(mx, my, xy);
        const auto meanX = hn::Add(mx, centre);
        const auto meanY = hn::Add(my, centre);
        // Rounded alike term by term, so that equal images give numerator == denominator and
        // an SSIM of exactly 1.
        const auto numerator =
            hn::Mul(hn::MulAdd(two, hn::Mul(meanX, meanY), c1), hn::MulAdd(two, covariance, c2));
        const auto denominator =
            hn::Mul(hn::Add(hn::Add(hn::Mul(meanX, meanX), hn::Mul(meanY, meanY)), c1),
                    hn::Add(hn::Add(varX, varY), c2));
        auto ssim = hn::Div(numerator, denominator);
        if (count - c < lanes) {
            ssim = hn::IfThenElseZero(hn::FirstN(d, count - c), ssim);  // past the last window
        }
        sum = hn::Add(sum, ssim);
    }
    return hn::GetLane(hn::SumOfLanes(d, sum));
}

// The sum of the SSIM map over every window of two `width` x `height` RGB images.
double SumSsimMap(const uint8_t* a, const uint8_t* b, size_t width, size_t height,
                  const float* weights) {
    // Whole vectors run past the last window's columns into zeros, never past the row.
    constexpr size_t kPad = hwy::kMaxVectorSize / sizeof(float);
    const size_t stride = (width + kPad - 1) / kPad * kPad + kPad;
    std::vector<float> scratch((2 * kTaps + 5) * stride);
    float* const ringX = scratch.data();
    float* const ringY = ringX + kTaps * stride;
    float* const moment = ringY + kTaps * stride;
    const Moments moments{moment, moment + stride, moment + 2 * stride, moment + 3 * stride,
                          moment + 4 * stride};
    const size_t rowBytes = width * 3;
    double sum = 0.0;
    for (size_t r = 0; r < height; ++r) {
        // Row r goes to slot r % 11, over the row 11 above it.
        float* x = ringX + r % kTaps * stride;
        float* y = ringY + r % kTaps * stride;
        const uint8_t* p = a + r * rowBytes;
        const uint8_t* q = b + r * rowBytes;
        for (size_t c = 0; c < width; ++c, p += 3, q += 3) {
            x[c] = static_cast<float>(Luma1000(p) - 128'000) * 0.001f;
            y[c] = static_cast<float>(Luma1000(q) - 128'000) * 0.001f;
        }
        if (r + 1 < kTaps) {
            continue;
        }
        const float* xRows[kTaps];
        const float* yRows[kTaps];
        for (size_t k = 0; k < kTaps; ++k) {
            const size_t slot = (r + 1 + k) % kTaps;  // the oldest row first
            xRows[k] = ringX + slot * stride;
            yRows[k] = ringY + slot * stride;
        }
        FilterColumns(xRows, yRows, stride, weights, moments);
        sum += SumRow(moments, width - kTaps + 1, weights);
    }
    return sum;
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace tallox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tallox {

HWY_EXPORT(SumSsimMap);

namespace {

constexpr uint32_t kWindow = 11;
constexpr double kSigma = 1.5;

double Psnr(double squaredErrorSum, double samples) {
    if (squaredErrorSum == 0.0) {
        return std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(255.0 * 255.0 * samples / squaredErrorSum);
}

// The sum over the rows of rowSum(row of a, row of b, bytes in a row).
template <typename RowSum>
double SumRows(const Image& a, const Image& b, RowSum rowSum) {
    const size_t rowBytes = size_t{a.width} * 3;
    double sum = 0.0;
    for (size_t r = 0; r < a.height; ++r) {
        sum += static_cast<double>(
            rowSum(a.rgb.data() + r * rowBytes, b.rgb.data() + r * rowBytes, rowBytes));
    }
    return sum;
}

}  // namespace

double PsnrRgb(const Image& a, const Image& b) {
    // Per row in 64 bits, exact: 65,535 x 3 samples of at most 255^2 each.
    const double sum = SumRows(a, b, [](const uint8_t* p, const uint8_t* q, size_t bytes) {
        uint64_t row = 0;
        for (size_t i = 0; i < bytes; ++i) {
            const int32_t diff = int32_t{p[i]} - int32_t{q[i]};
            row += static_cast<uint32_t>(diff * diff);
        }
        return row;
    });
    return Psnr(sum, static_cast<double>(a.rgb.size()));
}

double PsnrY(const Image& a, const Image& b) {
    // In thousandths of a level: (1000 dY)^2 is at most 255,000^2, and 65,535 of them fit 64
    // bits, exact.
    const double sum = SumRows(a, b, [](const uint8_t* p, const uint8_t* q, size_t bytes) {
        uint64_t row = 0;
        for (size_t i = 0; i < bytes; i += 3) {
            const int64_t diff = Luma1000(p + i) - Luma1000(q + i);
            row += static_cast<uint64_t>(diff * diff);
        }
        return row;
    });
    return Psnr(sum / 1e6, static_cast<double>(a.width) * a.height);
}

std::optional<double> SsimY(const Image& a, const Image& b) {
    if (a.width < kWindow || a.height < kWindow) {
        return std::nullopt;
    }
    float weights[kWindow];
    double total = 0.0;
    for (uint32_t k = 0; k < kWindow; ++k) {
        const double offset = static_cast<double>(k) - (kWindow - 1) / 2.0;
        weights[k] = static_cast<float>(std::exp(-offset * offset / (2 * kSigma * kSigma)));
        total += weights[k];
    }
    for (float& weight : weights) {
        weight = static_cast<float>(weight / total);
    }
    const double sum =
        HWY_DYNAMIC_DISPATCH(SumSsimMap)(a.rgb.data(), b.rgb.data(), a.width, a.height, weights);
    return sum / (static_cast<double>(a.width - kWindow + 1) * (a.height - kWindow + 1));
}

}  // namespace tallox
#endif  // HWY_ONCE

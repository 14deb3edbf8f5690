#include "engine/ssimulacra2.h"

#include <hwy/aligned_allocator.h>
#include <hwy/base.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

// Once, before the per-target passes below that use it.
#ifndef TALLOX_ENGINE_SSIMULACRA2_SHARED
#define TALLOX_ENGINE_SSIMULACRA2_SHARED
namespace tallox {
namespace {

constexpr size_t kScales = 6;
constexpr uint32_t kMinSide = 8;
// The columns blurred down together: independent recursions the processor overlaps, and whole
// cache lines of each row.
constexpr size_t kColumnVectors = 4;
// Vectors may run this far past a plane's last sample, into zeros.
constexpr size_t kPlanePad = kColumnVectors * hwy::kMaxVectorSize / sizeof(float);

// Linear RGB to the three cone responses, each row summing to 1, and the bias that keeps the
// cube root away from its infinite slope at 0.
constexpr float kMix[3][3] = {
    {0.30f, 0.622f, 0.078f},
    {0.23f, 0.692f, 0.078f},
    {0.24342268924547819f, 0.20476744424496821f,
     static_cast<float>(1.0 - 0.24342268924547819 - 0.20476744424496821)}};
constexpr float kBias = 0.0037930732552754493f;
constexpr float kC2 = 0.0009f;

// The weights of the 108 norms, in the order channel (X, Y, B), scale, norm (1, 4), map (SSIM
// error, ringing, blur): a line per channel, scale and norm.
// clang-format off
constexpr double kWeights[108] = {
    0.0, 0.0007376606707406586, 0.0,
    0.0, 0.0007793481682867309, 0.0,
    0.0, 0.0004371155730107379, 0.0,
    1.1041726426657346, 0.00066284834129271, 0.00015231632783718752,
    0.0, 0.0016406437456599754, 0.0,
    1.8422455520539298, 11.441172603757666, 0.0,
    0.0007989109436015163, 0.000176816438078653, 0.0,
    1.8787594979546387, 10.94906990605142, 0.0,
    0.0007289346991508072, 0.9677937080626833, 0.0,
    0.00014003424285435884, 0.9981766977854967, 0.00031949755934435053,
    0.0004550992113792063, 0.0, 0.0,
    0.0013648766163243398, 0.0, 0.0,
    0.0, 0.0, 0.0,
    7.466890328078848, 0.0, 17.445833984131262,
    0.0006235601634041466, 0.0, 0.0,
    6.683678146179332, 0.00037724407979611296, 1.027889937768264,
    225.20515300849274, 0.0, 0.0,
    19.213238186143016, 0.0011401524586618361, 0.001237755635509985,
    176.39317598450694, 0.0, 0.0,
    24.43300999870476, 0.28520802612117757, 0.0004485436923833408,
    0.0, 0.0, 0.0,
    34.77906344483772, 44.835625328877896, 0.0,
    0.0, 0.0, 0.0,
    0.0, 0.0, 0.0,
    0.0, 0.0008680556573291698, 0.0,
    0.0, 0.0, 0.0,
    0.0, 0.0005313191874358747, 0.0,
    0.00016533814161379112, 0.0, 0.0,
    0.0, 0.0, 0.0,
    0.0004179171803251336, 0.0017290828234722833, 0.0,
    0.0020827005846636437, 0.0, 0.0,
    8.826982764996862, 23.19243343998926, 0.0,
    95.1080498811086, 0.9863978034400682, 0.9834382792465353,
    0.0012286405048278493, 171.2667255897307, 0.9807858872435379,
    0.0, 0.0, 0.0,
    0.0005130064588990679, 0.0, 0.00010854057858411537,
};
// clang-format on

// The blur is the Gaussian of sigma 1.5 as the metric's authors run it: Charalampidis'
// recursive filter, three cosine terms over radius N = 5. Term k is a resonator
//   y[n] = g_k (x[n + N - 1] + x[n - N - 1]) + 2 cos(omega_k) y[n - 1] - y[n - 2],
// y[n] the output at sample n, x zero outside the line. With omega_k = k pi / 2N (k = 1, 3, 5)
// and g_k = -beta_k cos(omega_k (N + 1)) each input's response is beta_k cos(omega_k t) at
// distance |t| < N and cancels from N on, so the three add up to a symmetric 9-tap kernel.
//
// The recursion, not that kernel applied directly, is what the scores are made of: in float its
// rounding leaves noise in the blurred squares, and the SSIM map turns noise into error. On the
// reference pairs the direct kernel scores up to 0.9 points above the reference's scores, this
// recursion in fused multiply-adds within 0.1, and the same unfused up to 1.8 below.
//
// beta is the point nearest to the Gaussian's cosine-series coefficients
// rho_k = exp(-sigma^2 omega_k^2 / 2) / N under two constraints: the kernel sums to 1 and its
// variance is sigma^2.
struct Recursion {
    float gain[3];    // g_k
    float twoCos[3];  // 2 cos(omega_k)
};
constexpr int kRadius = 5;  // round(3.2795 sigma + 0.2546)

Recursion MakeRecursion() {
    constexpr double kSigma = 1.5;
    double omega[3], p[3], q[3], rho[3];
    for (int k = 0; k < 3; ++k) {
        omega[k] = (2 * k + 1) * std::numbers::pi / (2 * kRadius);
        p[k] = q[k] = 0;
        for (int t = 1 - kRadius; t < kRadius; ++t) {
            p[k] += std::cos(omega[k] * t);
            q[k] += t * t * std::cos(omega[k] * t);
        }
        rho[k] = std::exp(-0.5 * kSigma * kSigma * omega[k] * omega[k]) / kRadius;
    }
    const auto dot = [](const double* a, const double* b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    };
    // beta = rho + l1 p + l2 q, with p.beta = 1 and q.beta = sigma^2.
    const double pp = dot(p, p), pq = dot(p, q), qq = dot(q, q);
    const double e1 = 1 - dot(p, rho), e2 = kSigma * kSigma - dot(q, rho);
    const double det = pp * qq - pq * pq;
    const double l1 = (e1 * qq - pq * e2) / det, l2 = (pp * e2 - pq * e1) / det;
    Recursion recursion;
    for (int k = 0; k < 3; ++k) {
        const double beta = rho[k] + l1 * p[k] + l2 * q[k];
        recursion.gain[k] = static_cast<float>(-beta * std::cos(omega[k] * (kRadius + 1)));
        recursion.twoCos[k] = static_cast<float>(2 * std::cos(omega[k]));
    }
    return recursion;
}

const Recursion& BlurRecursion() {
    static const Recursion recursion = MakeRecursion();
    return recursion;
}

// One image at one scale, a plane per channel (linear R, G, B or shifted X, Y, B), each with
// kPlanePad zeros after it.
struct Planes {
    size_t width = 0;
    size_t height = 0;
    std::array<hwy::AlignedFreeUniquePtr<float[]>, 3> planes;

    // Every sample is the writer's to set; only the padding is zeroed here.
    Planes(size_t w, size_t h) : width(w), height(h) {
        for (auto& plane : planes) {
            plane = hwy::AllocateAligned<float>(w * h + kPlanePad);
            std::fill_n(plane.get() + w * h, kPlanePad, 0.0f);
        }
    }
};

// Memory the SIMD kernels reuse from scale to scale: taken at the first, largest scale.
class Scratch {
public:
    float* Floats(size_t count) {
        if (count > size_) {
            floats_ = hwy::AllocateAligned<float>(count);
            size_ = count;
        }
        return floats_.get();
    }

private:
    hwy::AlignedFreeUniquePtr<float[]> floats_;
    size_t size_ = 0;
};

// Per channel: the 1- and 4-norms of the SSIM error, ringing and blur maps, in the order the
// weights take them.
using ScaleNorms = std::array<std::array<double, 6>, 3>;

Planes ToLinear(const uint8_t* rgb, size_t width, size_t height) {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t;
        for (int i = 0; i < 256; ++i) {
            const double v = i / 255.0;
            t[i] =
                static_cast<float>(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
        return t;
    }();
    Planes image(width, height);
    for (size_t i = 0; i < width * height; ++i) {
        for (int c = 0; c < 3; ++c) image.planes[c][i] = table[rgb[3 * i + c]];
    }
    return image;
}

// 2 x 2 box averages, the size rounded up; past the right or bottom edge the last column or
// row stands in for the missing one.
Planes Downsample(const Planes& in) {
    Planes out((in.width + 1) / 2, (in.height + 1) / 2);
    for (int c = 0; c < 3; ++c) {
        const float* src = in.planes[c].get();
        float* dst = out.planes[c].get();
        // Whole pairs first, then an odd width's last column on its own.
        const size_t pairs = in.width / 2;
        for (size_t y = 0; y < out.height; ++y) {
            const float* row0 = src + 2 * y * in.width;
            const float* row1 = src + std::min(2 * y + 1, in.height - 1) * in.width;
            float* row = dst + y * out.width;
            for (size_t x = 0; x < pairs; ++x) {
                row[x] =
                    0.25f * ((row0[2 * x] + row0[2 * x + 1]) + (row1[2 * x] + row1[2 * x + 1]));
            }
            if (pairs < out.width) {
                const size_t last = in.width - 1;
                row[pairs] = 0.25f * ((row0[last] + row0[last]) + (row1[last] + row1[last]));
            }
        }
    }
    return out;
}

using ScaleFunction = ScaleNorms (*)(const Planes&, const Planes&, Scratch&);

MetricResult<double> Compute(std::span<const uint8_t> reference, std::span<const uint8_t> distorted,
                             uint32_t width, uint32_t height, ScaleFunction scaleNorms) {
    const size_t bytes = size_t{width} * height * 3;
    if (reference.size() != bytes || distorted.size() != bytes) {
        return MetricResult<double>::Failed("images of different sizes for SSIMULACRA2");
    }
    if (width < kMinSide || height < kMinSide) {
        return MetricResult<double>::Failed("too small for SSIMULACRA2");
    }
    Planes a = ToLinear(reference.data(), width, height);
    Planes b = ToLinear(distorted.data(), width, height);
    Scratch scratch;
    double sum = 0;
    for (size_t scale = 0; scale < kScales; ++scale) {
        if (scale > 0) {
            a = Downsample(a);
            b = Downsample(b);
            if (a.width < kMinSide || a.height < kMinSide) break;
        }
        const ScaleNorms norms = scaleNorms(a, b, scratch);
        for (size_t c = 0; c < 3; ++c) {
            for (size_t n = 0; n < 2; ++n) {
                for (size_t map = 0; map < 3; ++map) {
                    sum +=
                        kWeights[((c * kScales + scale) * 2 + n) * 3 + map] * norms[c][map * 2 + n];
                }
            }
        }
    }
    // The fitted mapping of the weighted sum onto a 0..100 scale.
    double s = 0.9562382616834844 * sum;
    s = 2.326765642916932 * s - 0.020884521182843837 * s * s + 6.248496625763138e-05 * s * s * s;
    return MetricResult<double>::Of(s > 0 ? 100.0 - 10.0 * std::pow(s, 0.6276336467831387) : 100.0);
}

// XYB shifted into 0..1 for the maps: X's range is narrow, so it is stretched, and B is taken
// relative to Y.
constexpr float kXScale = 14.0f;
constexpr float kXOffset = 0.42f;
constexpr float kYOffset = 0.01f;
constexpr float kBOffset = 0.55f;

// The scalar twin, whole planes at a time as the definition reads.

std::vector<float> ToXybScalar(const Planes& image, int channel) {
    const size_t n = image.width * image.height;
    std::vector<float> out(n);
    for (size_t i = 0; i < n; ++i) {
        float m[3];
        for (int k = 0; k < 3; ++k) {
            const float mix = kMix[k][0] * image.planes[0][i] + kMix[k][1] * image.planes[1][i] +
                              kMix[k][2] * image.planes[2][i] + kBias;
            m[k] = std::cbrt(std::max(mix, 0.0f)) - std::cbrt(kBias);
        }
        const float x = 0.5f * (m[0] - m[1]);
        const float y = 0.5f * (m[0] + m[1]);
        out[i] = channel == 0   ? kXScale * x + kXOffset
                 : channel == 1 ? y + kYOffset
                                : (m[2] - y) + kBOffset;
    }
    return out;
}

// The recursion over one line of `count` samples `step` apart, zero outside it.
void BlurLine(const float* in, float* out, ptrdiff_t count, ptrdiff_t step) {
    const Recursion& r = BlurRecursion();
    float prev[3] = {}, prev2[3] = {};
    for (ptrdiff_t n = 1 - kRadius; n < count; ++n) {
        const ptrdiff_t left = n - kRadius - 1, right = n + kRadius - 1;
        const float sum =
            (left >= 0 ? in[left * step] : 0.0f) + (right < count ? in[right * step] : 0.0f);
        for (int k = 0; k < 3; ++k) {
            const float v = std::fma(r.twoCos[k], prev[k], std::fma(r.gain[k], sum, -prev2[k]));
            prev2[k] = prev[k];
            prev[k] = v;
        }
        if (n >= 0) out[n * step] = (prev[0] + prev[1]) + prev[2];
    }
}

// The Gaussian along the rows, then down the columns.
std::vector<float> Blur(const std::vector<float>& in, size_t width, size_t height) {
    const auto w = static_cast<ptrdiff_t>(width), h = static_cast<ptrdiff_t>(height);
    std::vector<float> along(in.size()), out(in.size());
    for (ptrdiff_t y = 0; y < h; ++y) BlurLine(&in[y * w], &along[y * w], w, 1);
    for (ptrdiff_t x = 0; x < w; ++x) BlurLine(&along[x], &out[x], h, w);
    return out;
}

ScaleNorms ScaleNormsScalar(const Planes& linear1, const Planes& linear2, Scratch&) {
    const size_t w = linear1.width, h = linear1.height, n = w * h;
    ScaleNorms norms;
    for (int c = 0; c < 3; ++c) {
        const std::vector<float> img1 = ToXybScalar(linear1, c);
        const std::vector<float> img2 = ToXybScalar(linear2, c);
        std::vector<float> p11(n), p22(n), p12(n);
        for (size_t i = 0; i < n; ++i) {
            p11[i] = img1[i] * img1[i];
            p22[i] = img2[i] * img2[i];
            p12[i] = img1[i] * img2[i];
        }
        const auto mu1 = Blur(img1, w, h), mu2 = Blur(img2, w, h);
        const auto s11 = Blur(p11, w, h), s22 = Blur(p22, w, h), s12 = Blur(p12, w, h);
        double sums[6] = {};
        for (size_t i = 0; i < n; ++i) {
            const float numM = 1.0f - (mu1[i] - mu2[i]) * (mu1[i] - mu2[i]);
            const float covar = s12[i] - mu1[i] * mu2[i];
            const float numS = 2.0f * covar + kC2;
            const float denS = (s11[i] - mu1[i] * mu1[i]) + (s22[i] - mu2[i] * mu2[i]) + kC2;
            const float ssim = std::max(0.0f, 1.0f - numM * (numS / denS));
            const float edge =
                (1.0f + std::abs(img2[i] - mu2[i])) / (1.0f + std::abs(img1[i] - mu1[i])) - 1.0f;
            const float maps[3] = {ssim, std::max(edge, 0.0f), std::max(-edge, 0.0f)};
            for (int k = 0; k < 3; ++k) {
                sums[2 * k] += maps[k];
                sums[2 * k + 1] += std::pow(double{maps[k]}, 4);
            }
        }
        for (int k = 0; k < 6; k += 2) {
            norms[c][k] = sums[k] / static_cast<double>(n);
            norms[c][k + 1] = std::sqrt(std::sqrt(sums[k + 1] / static_cast<double>(n)));
        }
    }
    return norms;
}

}  // namespace
}  // namespace tallox
#endif  // TALLOX_ENGINE_SSIMULACRA2_SHARED

// Compiled once per SIMD target; the metric runs on the best one the processor has.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/ssimulacra2.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

// Per scale and channel the maps need five blurred planes: both images, their squares and
// their product (the moments). The pass along the rows runs the recursion on a strip of rows at
// once, one row per lane, from the strip turned on its side, and writes its results back as
// rows. The pass down the columns takes a block of columns at a time, one column per lane, and
// the maps follow over that block at once, so the final blurred planes never exist whole.
//
// Lane for lane the blur's arithmetic is the scalar twin's, step for step; only the colour
// transform rounds differently.
HWY_BEFORE_NAMESPACE();
namespace tallox {
namespace HWY_NAMESPACE {
namespace {

#if HWY_NATIVE_FMA
namespace hn = hwy::HWY_NAMESPACE;
using FloatTag = hn::ScalableTag<float>;
using Vec = hn::Vec<FloatTag>;

constexpr size_t kMoments = 5;  // img1, img2, img1^2, img2^2, img1 img2

// cbrt by Newton's method from an estimate that divides the exponent by 3 through the bits.
// Three steps reach float precision for the inputs here (at least the bias, at most ~1).
HWY_INLINE Vec Cbrt(FloatTag d, Vec a) {
    const hn::RebindToSigned<FloatTag> di;
    const auto bits = hn::ConvertTo(d, hn::BitCast(di, a));
    const auto estimate = hn::MulAdd(bits, hn::Set(d, 1.0f / 3.0f), hn::Set(d, 709921077.0f));
    auto x = hn::BitCast(d, hn::ConvertTo(di, estimate));
    const auto third = hn::Set(d, 1.0f / 3.0f);
    const auto twoThirds = hn::Set(d, 2.0f / 3.0f);
    for (int i = 0; i < 3; ++i) {
        x = hn::MulAdd(twoThirds, x, hn::Mul(third, hn::Div(a, hn::Mul(x, x))));
    }
    return x;
}

// Linear RGB planes to shifted XYB planes of the same size and padding, the padding zero.
void ToXyb(const Planes& linear, float* const* xyb) {
    const FloatTag d;
    const size_t n = linear.width * linear.height;
    const float* r = linear.planes[0].get();
    const float* g = linear.planes[1].get();
    const float* b = linear.planes[2].get();
    const auto bias = hn::Set(d, kBias);
    const auto zero = hn::Zero(d);
    const auto cbrtBias = hn::Set(d, std::cbrt(kBias));
    const auto half = hn::Set(d, 0.5f);
    // Whole vectors run into the planes' padding.
    for (size_t i = 0; i < n; i += hn::Lanes(d)) {
        const auto vr = hn::Load(d, r + i);
        const auto vg = hn::Load(d, g + i);
        const auto vb = hn::Load(d, b + i);
        Vec m[3];
        for (int k = 0; k < 3; ++k) {
            auto mix = hn::MulAdd(hn::Set(d, kMix[k][0]), vr,
                                  hn::MulAdd(hn::Set(d, kMix[k][1]), vg,
                                             hn::MulAdd(hn::Set(d, kMix[k][2]), vb, bias)));
            m[k] = hn::Sub(Cbrt(d, hn::Max(mix, zero)), cbrtBias);
        }
        const auto x = hn::Mul(half, hn::Sub(m[0], m[1]));
        const auto y = hn::Mul(half, hn::Add(m[0], m[1]));
        hn::Store(hn::MulAdd(hn::Set(d, kXScale), x, hn::Set(d, kXOffset)), d, xyb[0] + i);
        hn::Store(hn::Add(y, hn::Set(d, kYOffset)), d, xyb[1] + i);
        hn::Store(hn::Add(hn::Sub(m[2], y), hn::Set(d, kBOffset)), d, xyb[2] + i);
    }
    for (int c = 0; c < 3; ++c) std::fill_n(xyb[c] + n, kPlanePad, 0.0f);
}

// Rows of the planes blurred along the rows lie this far apart: a vector's multiple and then one
// more cache line, so that walking down a column does not land every row in the same few cache
// sets, as a width of a power of two would.
size_t AlongStride(size_t width) {
    constexpr size_t kLine = 64 / sizeof(float);
    return (width + kLine - 1) / kLine * kLine + kLine;
}

// The recursion's coefficients, one per lane.
struct Coefficients {
    Vec gain[3];
    Vec twoCos[3];

    Coefficients(FloatTag d, const Recursion& r) {
        for (int k = 0; k < 3; ++k) {
            gain[k] = hn::Set(d, r.gain[k]);
            twoCos[k] = hn::Set(d, r.twoCos[k]);
        }
    }
};

template <size_t kMoment>
HWY_INLINE Vec MomentOf(Vec a, Vec b) {
    if constexpr (kMoment == 0) return a;
    if constexpr (kMoment == 1) return b;
    if constexpr (kMoment == 2) return hn::Mul(a, a);
    if constexpr (kMoment == 3) return hn::Mul(b, b);
    return hn::Mul(a, b);
}

// A strip of rows [top, top + rows) of both images turned on its side: sample x of the strip's
// row i at [x * lanes + i], zeros in the lanes past the image's last row.
struct Strip {
    const float* side1;
    const float* side2;
    float* sideOut;
    size_t width;
    size_t stride;  // of the planes the strip's results go to
    size_t top;
    size_t rows;
};

// Moment kMoment of the strip blurred along its rows into plane rows [top, top + rows).
template <size_t kMoment>
void BlurStripAlong(const Strip& strip, const Coefficients& c, float* plane) {
    const FloatTag d;
    const size_t lanes = hn::Lanes(d);
    const auto width = static_cast<ptrdiff_t>(strip.width);
    const auto in = [&](ptrdiff_t x) {
        return MomentOf<kMoment>(hn::Load(d, strip.side1 + x * lanes),
                                 hn::Load(d, strip.side2 + x * lanes));
    };
    Vec prev[3] = {hn::Zero(d), hn::Zero(d), hn::Zero(d)};
    Vec prev2[3] = {hn::Zero(d), hn::Zero(d), hn::Zero(d)};
    for (ptrdiff_t n = 1 - kRadius; n < width; ++n) {
        const ptrdiff_t left = n - kRadius - 1, right = n + kRadius - 1;
        const Vec sum =
            hn::Add(left >= 0 ? in(left) : hn::Zero(d), right < width ? in(right) : hn::Zero(d));
        for (int k = 0; k < 3; ++k) {
            const Vec v = hn::MulAdd(c.twoCos[k], prev[k], hn::MulSub(c.gain[k], sum, prev2[k]));
            prev2[k] = prev[k];
            prev[k] = v;
        }
        if (n >= 0)
            hn::Store(hn::Add(hn::Add(prev[0], prev[1]), prev[2]), d, strip.sideOut + n * lanes);
    }
    for (size_t i = 0; i < strip.rows; ++i) {
        float* row = plane + (strip.top + i) * strip.stride;
        for (size_t x = 0; x < strip.width; ++x) row[x] = strip.sideOut[x * lanes + i];
        std::fill(row + strip.width, row + strip.stride, 0.0f);
    }
}

// The five moments of img1 and img2 blurred along the rows into `along`.
void BlurAlongRows(const float* img1, const float* img2, size_t width, size_t height,
                   const Coefficients& c, float* const* along) {
    const FloatTag d;
    const size_t lanes = hn::Lanes(d);
    auto side = hwy::AllocateAligned<float>(3 * width * lanes);
    Strip strip{side.get(), side.get() + width * lanes, side.get() + 2 * width * lanes,
                width,      AlongStride(width),         0,
                0};
    for (size_t top = 0; top < height; top += lanes) {
        strip.top = top;
        strip.rows = std::min(lanes, height - top);
        for (size_t i = 0; i < lanes; ++i) {
            const bool inside = i < strip.rows;
            for (size_t x = 0; x < width; ++x) {
                side[x * lanes + i] = inside ? img1[(top + i) * width + x] : 0.0f;
                side[width * lanes + x * lanes + i] = inside ? img2[(top + i) * width + x] : 0.0f;
            }
        }
        BlurStripAlong<0>(strip, c, along[0]);
        BlurStripAlong<1>(strip, c, along[1]);
        BlurStripAlong<2>(strip, c, along[2]);
        BlurStripAlong<3>(strip, c, along[3]);
        BlurStripAlong<4>(strip, c, along[4]);
    }
}

// Columns [x, x + kColumnVectors * lanes) of `plane` blurred down the columns into out, row n
// at [n * kColumnVectors * lanes].
void BlurColumnsDown(const float* plane, size_t stride, size_t height, size_t x,
                     const Coefficients& c, float* out) {
    const FloatTag d;
    const size_t lanes = hn::Lanes(d);
    const auto h = static_cast<ptrdiff_t>(height);
    Vec prev[kColumnVectors][3], prev2[kColumnVectors][3];
    for (size_t j = 0; j < kColumnVectors; ++j) {
        for (int k = 0; k < 3; ++k) prev[j][k] = prev2[j][k] = hn::Zero(d);
    }
    for (ptrdiff_t n = 1 - kRadius; n < h; ++n) {
        const ptrdiff_t left = n - kRadius - 1, right = n + kRadius - 1;
        const float* leftRow = left >= 0 ? plane + left * stride + x : nullptr;
        const float* rightRow = right < h ? plane + right * stride + x : nullptr;
        for (size_t j = 0; j < kColumnVectors; ++j) {
            const Vec sum = hn::Add(leftRow ? hn::LoadU(d, leftRow + j * lanes) : hn::Zero(d),
                                    rightRow ? hn::LoadU(d, rightRow + j * lanes) : hn::Zero(d));
            for (int k = 0; k < 3; ++k) {
                const Vec v =
                    hn::MulAdd(c.twoCos[k], prev[j][k], hn::MulSub(c.gain[k], sum, prev2[j][k]));
                prev2[j][k] = prev[j][k];
                prev[j][k] = v;
            }
            if (n >= 0) {
                hn::Store(hn::Add(hn::Add(prev[j][0], prev[j][1]), prev[j][2]), d,
                          out + (n * kColumnVectors + j) * lanes);
            }
        }
    }
}

// The six norms of one channel of two images in shifted XYB, from their moments blurred along
// the rows. Works through the columns a block at a time: the five moments blurred down into
// `down`, then the maps over those columns.
std::array<double, 6> ChannelNorms(const float* img1, const float* img2, const float* const* along,
                                   size_t width, size_t height, const Coefficients& c) {
    const FloatTag d;
    const size_t lanes = hn::Lanes(d);
    const size_t block = kColumnVectors * lanes;
    auto down = hwy::AllocateAligned<float>(kMoments * height * block);
    const auto one = hn::Set(d, 1.0f);
    const auto two = hn::Set(d, 2.0f);
    const auto c2 = hn::Set(d, kC2);
    const auto zero = hn::Zero(d);
    double sums[6] = {};
    // Whole vectors: past the last column they read the next row or the planes' padding, and
    // those lanes are left out of the sums.
    for (size_t left = 0; left < width; left += block) {
        for (size_t m = 0; m < kMoments; ++m) {
            BlurColumnsDown(along[m], AlongStride(width), height, left, c,
                            down.get() + m * height * block);
        }
        Vec columnSums[6] = {zero, zero, zero, zero, zero, zero};
        for (size_t n = 0; n < height; ++n) {
            for (size_t x = left; x < std::min(width, left + block); x += lanes) {
                const auto valid = hn::FirstN(d, std::min(lanes, width - x));
                const auto moment = [&](size_t m) {
                    return hn::Load(d, down.get() + (m * height + n) * block + (x - left));
                };
                const Vec mu1 = moment(0), mu2 = moment(1);
                // Rounded alike term by term, so that equal images give num_s == den_s exactly.
                const auto diff = hn::Sub(mu1, mu2);
                const auto numM = hn::NegMulAdd(diff, diff, one);
                const auto var1 = hn::NegMulAdd(mu1, mu1, moment(2));
                const auto var2 = hn::NegMulAdd(mu2, mu2, moment(3));
                const auto covar = hn::NegMulAdd(mu1, mu2, moment(4));
                const auto numS = hn::MulAdd(two, covar, c2);
                const auto denS = hn::Add(hn::Add(var1, var2), c2);
                const auto ssim = hn::Max(zero, hn::NegMulAdd(numM, hn::Div(numS, denS), one));
                const auto a = hn::LoadU(d, img1 + n * width + x);
                const auto b = hn::LoadU(d, img2 + n * width + x);
                const auto edge = hn::Sub(hn::Div(hn::Add(one, hn::Abs(hn::Sub(b, mu2))),
                                                  hn::Add(one, hn::Abs(hn::Sub(a, mu1)))),
                                          one);
                const Vec maps[3] = {ssim, hn::Max(edge, zero), hn::Max(hn::Neg(edge), zero)};
                for (int k = 0; k < 3; ++k) {
                    const auto map = hn::IfThenElseZero(valid, maps[k]);
                    const auto sq = hn::Mul(map, map);
                    columnSums[2 * k] = hn::Add(columnSums[2 * k], map);
                    columnSums[2 * k + 1] = hn::MulAdd(sq, sq, columnSums[2 * k + 1]);
                }
            }
        }
        for (int k = 0; k < 6; ++k) sums[k] += hn::GetLane(hn::SumOfLanes(d, columnSums[k]));
    }
    const double perPixel = 1.0 / (static_cast<double>(width) * height);
    std::array<double, 6> norms;
    for (int k = 0; k < 6; k += 2) {
        norms[k] = sums[k] * perPixel;
        norms[k + 1] = std::sqrt(std::sqrt(sums[k + 1] * perPixel));
    }
    return norms;
}

ScaleNorms ScaleNormsSimd(const Planes& linear1, const Planes& linear2, Scratch& scratch) {
    const size_t width = linear1.width, height = linear1.height;
    // Both images in XYB, then the five moments blurred along the rows; padded like every plane,
    // and each plane starting on a whole vector.
    constexpr size_t kVector = hwy::kMaxVectorSize / sizeof(float);
    const size_t planeSize = (width * height + kPlanePad + kVector - 1) / kVector * kVector;
    const size_t alongSize = AlongStride(width) * height + kPlanePad;
    float* const base = scratch.Floats(6 * planeSize + kMoments * alongSize);
    float* xyb1[3];
    float* xyb2[3];
    float* along[kMoments];
    for (size_t i = 0; i < 3; ++i) {
        xyb1[i] = base + i * planeSize;
        xyb2[i] = base + (3 + i) * planeSize;
    }
    for (size_t m = 0; m < kMoments; ++m) {
        along[m] = base + 6 * planeSize + m * alongSize;
        std::fill_n(along[m] + alongSize - kPlanePad, kPlanePad, 0.0f);
    }
    ToXyb(linear1, xyb1);
    ToXyb(linear2, xyb2);
    const Coefficients c(FloatTag(), BlurRecursion());
    ScaleNorms norms;
    for (size_t i = 0; i < 3; ++i) {
        BlurAlongRows(xyb1[i], xyb2[i], width, height, c, along);
        norms[i] = ChannelNorms(xyb1[i], xyb2[i], along, width, height, c);
    }
    return norms;
}
#else
// Without fused multiply-adds the blur's noise, and the scores with it, would differ from the
// reference's: these targets run the scalar twin, whose std::fma is exact everywhere.
ScaleNorms ScaleNormsSimd(const Planes& linear1, const Planes& linear2, Scratch& scratch) {
    return ScaleNormsScalar(linear1, linear2, scratch);
}
#endif  // HWY_NATIVE_FMA

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace tallox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tallox {

HWY_EXPORT(ScaleNormsSimd);

namespace {

ScaleNorms ScaleNormsDispatched(const Planes& a, const Planes& b, Scratch& scratch) {
    return HWY_DYNAMIC_DISPATCH(ScaleNormsSimd)(a, b, scratch);
}

}  // namespace

MetricResult<double> Ssimulacra2(std::span<const uint8_t> reference,
                                 std::span<const uint8_t> distorted, uint32_t width,
                                 uint32_t height) {
    return Compute(reference, distorted, width, height, ScaleNormsDispatched);
}

MetricResult<double> Ssimulacra2Scalar(std::span<const uint8_t> reference,
                                       std::span<const uint8_t> distorted, uint32_t width,
                                       uint32_t height) {
    return Compute(reference, distorted, width, height, ScaleNormsScalar);
}

}  // namespace tallox
#endif  // HWY_ONCE

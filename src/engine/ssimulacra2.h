// SSIMULACRA2 (version 2.1) of a distorted image against its reference: 100 for identical
// images, about 90 where differences start to be visible, 70 for a medium JPEG, falling
// below 0 for very poor ones.
//
// Both images are 8-bit sRGB, 3 samples per pixel interleaved R, G, B, rows top first without
// padding, width * height * 3 bytes each. The metric compares them at up to six scales (1:1 to
// 1:32); a scale whose image is under 8 pixels on either side is left out, and an image under
// 8 pixels on either side has no scale at all and no score.
#pragma once
#include <cstdint>
#include <span>

#include "engine/metric_result.h"

namespace tallox {

// The SIMD kernels on the best target the processor has.
MetricResult<double> Ssimulacra2(std::span<const uint8_t> reference,
                                 std::span<const uint8_t> distorted, uint32_t width,
                                 uint32_t height);

// The same in plain scalar code, written straight from the definition; it agrees with the
// SIMD path to float rounding, and benchmarks time the two against each other.
MetricResult<double> Ssimulacra2Scalar(std::span<const uint8_t> reference,
                                       std::span<const uint8_t> distorted, uint32_t width,
                                       uint32_t height);

}  // namespace tallox

// Butteraugli distances of a distorted image from its reference, computed by libjxl. 0 means
// identical; around 1 is the threshold of a visible difference at normal viewing distance, and
// larger values mean more visible differences.
//
// Both images are 8-bit sRGB, 3 samples per pixel interleaved R, G, B, rows top first without
// padding, width * height * 3 bytes each, at least 8 pixels on either side. The computation
// runs on the calling thread only.
#pragma once
#include <cstdint>
#include <span>

#include "engine/metric_result.h"

namespace tallox {

struct ButteraugliDistances {
    double max = 0;     // the largest distance of any pixel
    double pnorm3 = 0;  // the cube root of the mean cubed distance: the picture as a whole
};

MetricResult<ButteraugliDistances> Butteraugli(std::span<const uint8_t> reference,
                                               std::span<const uint8_t> distorted, uint32_t width,
                                               uint32_t height);

}  // namespace tallox

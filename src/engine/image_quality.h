// How far a decoded image is from its source: PSNR over the RGB samples and over luma, and SSIM
// on luma. Both images must have the same size, at most 65,535 pixels across, as every JPEG
// is.
//
// Luma is BT.601's Y = 0.299 R + 0.587 G + 0.114 B, taken in fixed point as
// (299 R + 587 G + 114 B) / 1000: PSNR over it is exact, SSIM reads it as float.
#pragma once
#include <optional>

#include "platform/imaging.h"

namespace tallox {

// 10 log10(255^2 / MSE) over every sample, in dB; +infinity when the images are identical.
double PsnrRgb(const Image& a, const Image& b);
double PsnrY(const Image& a, const Image& b);

// The mean SSIM of luma over every 11 x 11 window that lies wholly inside the image, each
// window weighted by a Gaussian of sigma 1.5, with K1 = 0.01, K2 = 0.03 and L = 255. An image
// under 11 pixels in either dimension has no such window and gets nothing.
std::optional<double> SsimY(const Image& a, const Image& b);

}  // namespace tallox

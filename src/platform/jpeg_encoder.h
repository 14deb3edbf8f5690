// JPEG saving through libjpeg-turbo, behind the imaging services.
#pragma once
#include <cstdint>

#include "platform/imaging.h"

namespace tallox {

// Statuses other than kImagingOk that the platform's saves report.
constexpr ImagingStatus kImagingLibraryError = 1;      // libjpeg refused the image
constexpr ImagingStatus kImagingInvalidParameter = 2;  // empty or malformed image, no encoder
constexpr ImagingStatus kImagingWriteFailed = 3;       // the stream refused a write

// Saves `image` as JPEG into `stream` from its current position, with every setting at the
// library's default (baseline, 4:2:0) but the quality, which the library clamps to 1..100.
ImagingStatus SaveJpeg(const Image& image, ImageStream& stream, int32_t quality);

}  // namespace tallox

// JPEG saving through libjpeg-turbo, behind the imaging services.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/imaging.h"

namespace tallox {

// Replaces `jpeg`'s bytes with `image` saved as JPEG, every setting at the library's default
// (baseline, 4:2:0) but the quality, which the library clamps to 1..100. False when the image
// is empty or its pixels do not match its size, when libjpeg fails, or when memory runs out.
bool EncodeJpeg(const Image& image, int quality, std::vector<uint8_t>& jpeg);

}  // namespace tallox

// JPEG saving through libjpeg-turbo, behind the imaging services, and decoding for the quality
// figures.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/imaging.h"

namespace tallox {

// Replaces `jpeg`'s bytes with `image` saved as JPEG with `options`; every other setting is at
// the library's default. False when the image is empty or its pixels do not match its size,
// when libjpeg fails, or when memory runs out.
bool EncodeJpeg(const Image& image, const JpegOptions& options, std::vector<uint8_t>& jpeg);

// The `size` bytes at `data` decoded to 24-bit RGB (a grey JPEG too); nothing when they are no
// JPEG libjpeg can decode, or when memory runs out.
std::optional<Image> DecodeJpeg(const uint8_t* data, size_t size);

}  // namespace tallox

// What the image codecs share: the pixel layouts they take, and grey spread to RGB for the
// formats that have no grey of their own (QOI, WebP), taken back by one channel on decoding.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/codec.h"

namespace tallox {

// Ok for a decoded image of 1 (grey), 3 (RGB) or 4 (RGBA) channels whose samples are the
// input; otherwise why not, in the codec's name.
inline Status CheckPixels(const std::string& codec, const InputShape& shape) {
    if (shape.width == 0 || shape.height == 0) {
        return Error{codec + ": the file did not decode to an image"};
    }
    if (shape.channels != 1 && shape.channels != 3 && shape.channels != 4) {
        return Error{codec + ": takes 1 (grey), 3 (RGB) or 4 (RGBA) channels, not " +
                     std::to_string(shape.channels)};
    }
    if (uint64_t{shape.width} * shape.height * shape.channels != shape.bytes) {
        return Error{codec + ": the samples do not fill the image's width and height"};
    }
    return Ok{};
}

// Each grey sample written thrice, as an RGB pixel: `rgb` has room for 3 * grey.size().
inline void SpreadGrey(std::span<const uint8_t> grey, uint8_t* rgb) {
    for (const uint8_t sample : grey) {
        rgb[0] = rgb[1] = rgb[2] = sample;
        rgb += 3;
    }
}

// The green sample of each RGB pixel, the one closest to the grey a lossy coder kept.
inline void TakeGreen(const uint8_t* rgb, std::span<uint8_t> grey) {
    for (uint8_t& sample : grey) {
        sample = rgb[1];
        rgb += 3;
    }
}

}  // namespace tallox

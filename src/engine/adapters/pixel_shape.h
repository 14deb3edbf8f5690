// The image a pixel codec is handed, checked once in Prepare: 8-bit samples, rows top first,
// 1 (grey), 3 (RGB) or 4 (RGBA) channels interleaved, as many bytes as the shape says.
#pragma once
#include <cstdint>
#include <string>

#include "engine/codec.h"

namespace tallox {

inline Status CheckPixelShape(const InputShape& shape, const std::string& codec) {
    if (shape.channels != 1 && shape.channels != 3 && shape.channels != 4) {
        return Error{codec + ": takes grey, RGB or RGBA pixels, not " +
                     std::to_string(shape.channels) + " channels"};
    }
    if (shape.width == 0 || shape.height == 0 ||
        uint64_t{shape.width} * shape.height * shape.channels != shape.bytes) {
        return Error{codec + ": no image of " + std::to_string(shape.width) + "x" +
                     std::to_string(shape.height) + " pixels to encode"};
    }
    return Ok{};
}

}  // namespace tallox

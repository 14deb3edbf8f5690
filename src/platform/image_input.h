// The image input of the pixel codecs: BMP, PNG, PPM/PGM/PBM, JPEG, TIFF, WebP and GIF through
// Qt's readers, and PAM, which Qt lacks, decoded into 8-bit samples. Qt's other plugins (MNG,
// TGA, ICO, ICNS, WBMP) are refused: formats nobody benchmarks with, whose readers are the
// least hardened (the MNG one crashes on a few mutated bytes).
// The content decides the format, never the file's name. What a reader would decode only in
// part is refused: a file that ends before the size its header declares, and an image whose
// decode would need more memory than the machine has, both before any pixel memory is taken.
//
// What the samples keep and what they lose:
// - Channels: 1 (grey) when the decoded image is greyscale (a grey format, or a palette whose
//   colours are all grey, with no transparent entry); 4 (RGBA) when the image carries alpha,
//   grey with alpha included; otherwise 3 (RGB). The file's layout decides, not the pixels'
//   values: an RGB file of grey pixels stays RGB, an RGBA file of opaque pixels stays RGBA.
// - Palettes are expanded to their colours; 1-, 2- and 4-bit samples to 8 bits.
// - 16-bit samples (and PAM samples of any MAXVAL) are scaled to 8 bits, rounded to nearest:
//   v * 255 / maxval, so 16-bit 0x12FF becomes 19, not 18.
// - Premultiplied alpha (TIFF's associated alpha) is divided out; where alpha is low the
//   colour has lost precision already and does not come back.
// - EXIF orientation is not applied: rows come in the order stored, as an encoder sees them.
// - Colour profiles and gamma are ignored: the samples are the stored values, not sRGB.
// - Animations and multi-page files give their first frame.
// - Vector images (SVG) are refused: their pixels depend on a renderer, not on the file.
//
// Qt refuses on its own any decode larger than QImageReader::allocationLimit(). Since the
// memory check here comes first, a decode raises that process-wide limit to what the image
// needs for the length of its read and puts it back afterwards: images are decoded on one
// thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tallox {

// Samples interleaved (R, G, B[, A] or grey), rows top first, no padding.
struct PixelImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;         // 1, 3 or 4
    std::vector<uint8_t> samples;  // width * height * channels bytes
    std::string format;            // Qt's name ("bmp", "png", "jpeg", ...) or "pam"
};

// Why an input gave no image, in words for the user: "truncated: 3,000 of 49,206 bytes".
struct ImageError {
    std::string message;
};

using ImageResult = std::variant<PixelImage, ImageError>;

// The image in the file at `path` (a regular file; FIFOs and devices are refused).
ImageResult DecodeImageFile(const std::string& path);

// The image in `size` bytes at `data`, which the call only reads.
ImageResult DecodeImageBytes(const uint8_t* data, size_t size);

// Whether Tallox reads images of Qt's format `format` ("png", "jpeg", ...), as listed above.
bool IsReadableImageFormat(std::string_view format);

}  // namespace tallox

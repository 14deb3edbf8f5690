// The imaging services the engine needs: decode a file into 24-bit pixels, save pixels as JPEG
// into memory, and decode such a JPEG again. Only the implementation touches QtGui and libjpeg;
// tests substitute their own services to reach the failure paths.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tallox {

// A decoded image, converted once at load time to 24-bit RGB, rows top first, no padding.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes
};

// How the chroma of a JPEG is sampled: 4:4:4 keeps every chroma sample, 4:2:2 halves them
// across, 4:2:0 across and down.
enum class Subsampling : uint8_t { k444, k422, k420 };

// "444", "422" or "420".
const char* SubsamplingName(Subsampling subsampling);

// The settings of a JPEG save. The defaults are the library's own (baseline, 4:2:0, the
// standard Huffman tables) at the benchmark's default quality.
struct JpegOptions {
    int quality = 50;  // clamped to 1..100 by the library
    Subsampling subsampling = Subsampling::k420;
    bool progressive = false;
    bool optimize = false;  // Huffman tables fitted to the image (progressive saves always are)

    bool operator==(const JpegOptions&) const = default;
};

class Imaging {
public:
    virtual ~Imaging() = default;
    // The image in `bytes`, a file's content, or nothing when they do not decode.
    virtual std::optional<Image> DecodeImage(std::span<const uint8_t> bytes) = 0;
    // The image in the file at `path`, or nothing when it cannot be read or does not decode.
    std::optional<Image> Load(const std::string& path);
    // Replaces `jpeg`'s bytes with the image saved as JPEG with `options`, keeping its
    // capacity, so that saves after the first allocate nothing. False on failure.
    virtual bool SaveJpeg(const Image& image, const JpegOptions& options,
                          std::vector<uint8_t>& jpeg) = 0;
    // The JPEG decoded to 24-bit RGB, or nothing when it does not decode.
    virtual std::optional<Image> DecodeJpeg(const std::vector<uint8_t>& jpeg) = 0;
};

// The platform's services: QImage for decoding, libjpeg-turbo for saving.
Imaging& PlatformImaging();

// Brings in the image format plugins by decoding a 1 x 1 bitmap from memory. A process that
// forks children to load images calls it first, so that they inherit the plugins; a real image
// would not do, since converting a large one starts pool threads that a forked child lacks
// and would wait for forever.
void LoadImagePlugins();

// Readies the platform's imaging services for the life of the object (a program's start-up and
// shutdown): decoded images up to 1 GiB load while a session lives.
class ImagingSession {
public:
    ImagingSession();
    ~ImagingSession();
    ImagingSession(const ImagingSession&) = delete;
    ImagingSession& operator=(const ImagingSession&) = delete;
};

}  // namespace tallox

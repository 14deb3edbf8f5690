// The imaging services the engine needs: decode a file into 24-bit pixels, a growable memory
// stream, and the encoders that save an image into such a stream. Only the implementation
// touches QtGui and libjpeg; this interface is what the engine and the tests see, and tests may
// substitute their own services to reach failure paths.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tallox {

// A decoded image, converted once at load time to 24-bit RGB, rows top first, no padding.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes
};

// The 16-byte identifier of an image encoder.
using Clsid = std::array<uint8_t, 16>;

struct ImageCodecInfo {
    Clsid clsid{};
    std::string mimeType;
};

// A seekable byte stream that the encoders write into from its current position.
class ImageStream {
public:
    enum class Origin { Begin, End };
    virtual ~ImageStream() = default;
    // Moves to `offset` from `origin`; stores the new position when `newPosition` is not null.
    // False on failure.
    virtual bool Seek(int64_t offset, Origin origin, uint64_t* newPosition) = 0;
    // Writes at the current position, growing the stream as needed. False on failure.
    virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// Status of a save: 0 is success, as the imaging library's Ok.
using ImagingStatus = int;
constexpr ImagingStatus kImagingOk = 0;

class Imaging {
public:
    virtual ~Imaging() = default;
    // The decoded image, or null when the file does not decode (no reason is given).
    virtual std::unique_ptr<Image> LoadImageFromFile(const std::string& path) = 0;
    // The encoders on offer, each with its MIME type.
    virtual std::vector<ImageCodecInfo> GetImageEncoders() = 0;
    // A new empty stream, or null on failure.
    virtual std::unique_ptr<ImageStream> CreateStream() = 0;
    virtual ImagingStatus SaveImageToStream(const Image& image, ImageStream& stream,
                                            const Clsid& encoder, int32_t quality) = 0;
};

// The platform's services (QImage and libjpeg-turbo).
Imaging& PlatformImaging();

// Readies the platform's imaging services for the life of the object (an application's
// start-up and shutdown).
class ImagingSession {
public:
    ImagingSession();
    ~ImagingSession();
    ImagingSession(const ImagingSession&) = delete;
    ImagingSession& operator=(const ImagingSession&) = delete;
};

}  // namespace tallox

// The imaging services the engine needs: decode a file into 24-bit pixels, and save pixels as
// JPEG into memory. Only the implementation touches QtGui and libjpeg; tests substitute their
// own services to reach the failure paths.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallox {

// A decoded image, converted once at load time to 24-bit RGB, rows top first, no padding.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes
};

class Imaging {
public:
    virtual ~Imaging() = default;
    // The decoded image, or nothing when the file does not decode.
    virtual std::optional<Image> Load(const std::string& path) = 0;
    // Replaces `jpeg`'s bytes with the image saved as JPEG at `quality` (clamped to 1..100),
    // keeping its capacity, so that saves after the first allocate nothing. False on failure.
    virtual bool SaveJpeg(const Image& image, int quality, std::vector<uint8_t>& jpeg) = 0;
};

// The platform's services: QImage for decoding, libjpeg-turbo for saving.
Imaging& PlatformImaging();

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

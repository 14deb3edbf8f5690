#include "platform/imaging.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <cstring>
#include <new>
#include <variant>

#include "platform/image_input.h"
#include "platform/image_read.h"
#include "platform/jpeg_encoder.h"
#include "platform/regular_file.h"

namespace tallox {
namespace {

// Decoded images up to 1 GiB load while a session lives; larger ones are refused before any
// pixel memory is taken.
constexpr int kAllocationLimitMiB = 1024;

// Sessions may nest; the outermost one sets the limit and puts the previous one back.
int g_sessions = 0;
int g_previousAllocationLimit = 0;

class PlatformImagingServices final : public Imaging {
public:
    std::optional<Image> DecodeImage(std::span<const uint8_t> bytes) override {
        // Decoded from memory, where Qt's readers probe the format faster than through a file
        // (12 against 35 microseconds for a small bitmap).
        QByteArray content = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<qsizetype>(bytes.size()));
        QBuffer buffer(&content);
        buffer.open(QIODevice::ReadOnly);
        // The content decides the format, whatever the name says.
        QImageReader reader(&buffer);
        reader.setDecideFormatFromContent(true);
        if (!IsReadableImageFormat(reader.format().toStdString()) || !RgbLoadFitsInMemory(reader)) {
            return std::nullopt;
        }
        QImage decoded;
        if (!ReadImage(reader, decoded)) {
            return std::nullopt;
        }
        const QImage rgb = std::move(decoded).convertToFormat(QImage::Format_RGB888);
        if (rgb.isNull()) {
            return std::nullopt;
        }
        // QImage pads every row to 4 bytes; the image's rows are packed.
        const size_t stride = static_cast<size_t>(rgb.width()) * 3;
        const size_t height = static_cast<size_t>(rgb.height());
        std::optional<Image> image(std::in_place);
        try {
            image->rgb.resize(stride * height);
        } catch (const std::bad_alloc&) {
            return std::nullopt;  // no memory for the copy: as good as not decoded
        }
        image->width = static_cast<uint32_t>(rgb.width());
        image->height = static_cast<uint32_t>(rgb.height());
        for (size_t y = 0; y < height; ++y) {
            std::memcpy(image->rgb.data() + y * stride, rgb.constScanLine(static_cast<int>(y)),
                        stride);
        }
        return image;
    }

    bool SaveJpeg(const Image& image, const JpegOptions& options,
                  std::vector<uint8_t>& jpeg) override {
        return EncodeJpeg(image, options, jpeg);
    }

    std::optional<Image> DecodeJpeg(const std::vector<uint8_t>& jpeg) override {
        return tallox::DecodeJpeg(jpeg.data(), jpeg.size());
    }
};

}  // namespace

std::optional<Image> Imaging::Load(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;  // names no file; Qt would warn on the console
    }
    // Opened by its bytes, as the lossless codecs open it, so that a name in any encoding is the
    // same file; only a regular file is read (a FIFO would block, a device not end).
    const std::variant<QByteArray, std::string> bytes = ReadRegularFile(path);
    if (!std::holds_alternative<QByteArray>(bytes)) {
        return std::nullopt;
    }
    const QByteArray& content = std::get<QByteArray>(bytes);
    return DecodeImage({reinterpret_cast<const uint8_t*>(content.constData()),
                        static_cast<size_t>(content.size())});
}

const char* SubsamplingName(Subsampling subsampling) {
    switch (subsampling) {
        case Subsampling::k444:
            return "444";
        case Subsampling::k422:
            return "422";
        case Subsampling::k420:
            break;
    }
    return "420";
}

Imaging& PlatformImaging() {
    static PlatformImagingServices services;
    return services;
}

void LoadImagePlugins() {
    // A 24-bit 1 x 1 BMP: the file header, the info header and one padded pixel.
    static const unsigned char kBitmap[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                            0,   0,   0,  1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 24, 0,
                                            0,   0,   0,  0, 4, 0, 0, 0, 0, 0, 0,  0, 0, 0,  0,
                                            0,   0,   0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0};
    const QImage image = QImage::fromData(kBitmap, sizeof kBitmap);
    const QImage converted = image.convertToFormat(QImage::Format_RGB888);
}

ImagingSession::ImagingSession() {
    if (g_sessions++ == 0) {
        g_previousAllocationLimit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(kAllocationLimitMiB);
    }
}

ImagingSession::~ImagingSession() {
    if (--g_sessions == 0) {
        QImageReader::setAllocationLimit(g_previousAllocationLimit);
    }
}

}  // namespace tallox

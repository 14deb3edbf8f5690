#include "platform/image_input.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <type_traits>

#include "platform/image_read.h"
#include "platform/memory.h"
#include "platform/regular_file.h"

namespace tallox {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

// Sizes beyond 64 bits stand for "more than any machine has".
uint64_t Times(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? kNoLimit : product;
}

uint64_t Plus(uint64_t a, uint64_t b) {
    uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? kNoLimit : sum;
}

// 49206 -> "49,206".
std::string Grouped(uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

ImageError Truncated(size_t have, uint64_t declared) {
    return {"truncated: " + Grouped(have) + " of " + Grouped(declared) + " bytes"};
}

ImageError EndsEarly(size_t have, const char* what) {
    return {"truncated: the file ends after " + Grouped(have) + " bytes, before " + what};
}

// The file's bytes, its content, as the byte codecs read them: opened by its name's bytes, and
// only when it is a regular file (a FIFO would block, a device not end).
std::variant<QByteArray, ImageError> ReadFileBytes(const std::string& path) {
    std::variant<QByteArray, std::string> read = ReadRegularFile(path);
    if (auto* reason = std::get_if<std::string>(&read)) {
        return ImageError{std::move(*reason)};
    }
    return std::move(std::get<QByteArray>(read));
}

uint32_t Big32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t Little16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
uint32_t Little32(const uint8_t* p) { return Little16(p) | Little16(p + 2) << 16; }

// ---------------------------------------------------------------------------------------------
// Truncation. Qt's readers fill what a short file lacks and report success for BMP, PNG (a
// cut in the last chunk), JPEG and GIF; each check below finds the end the format declares.
// They see only structure: damage inside compressed data is the decoder's to find.

// A bitmap's pixels end where its header says: uncompressed rows padded to 4 bytes from the
// pixel offset, or the declared image size for RLE and embedded JPEG/PNG.
std::optional<ImageError> BitmapTruncation(const uint8_t* b, size_t size) {
    if (size < 18) {
        return EndsEarly(size, "the bitmap's header");
    }
    const uint32_t offset = Little32(b + 10);
    const uint32_t header = Little32(b + 14);
    uint64_t width = 0, height = 0, bits = 0, compression = 0, imageSize = 0;
    if (header == 12) {  // OS/2 core header: 16-bit sides
        if (size < 26) {
            return EndsEarly(size, "the bitmap's header");
        }
        width = Little16(b + 18);
        height = Little16(b + 20);
        bits = Little16(b + 24);
    } else {
        if (size < 38) {
            return EndsEarly(size, "the bitmap's header");
        }
        const int32_t signedHeight = static_cast<int32_t>(Little32(b + 22));
        width = static_cast<int32_t>(Little32(b + 18)) < 0 ? 0 : Little32(b + 18);
        height = signedHeight < 0 ? 0 - static_cast<int64_t>(signedHeight) : signedHeight;
        bits = Little16(b + 28);
        compression = Little32(b + 30);
        imageSize = Little32(b + 34);
    }
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
        bits != 32 && bits != 64) {
        return std::nullopt;  // no row length to measure: the decoder refuses the header
    }
    uint64_t end = 0;
    switch (compression) {
        case 0:  // RGB
        case 3:  // bit fields
        case 6:  // bit fields with alpha
            end = Plus(offset, Times(Times((Plus(Times(width, bits), 31) / 32), 4), height));
            break;
        default:  // RLE, JPEG, PNG: only the declared size tells, when it is given
            end = imageSize == 0 ? 0 : Plus(offset, imageSize);
            break;
    }
    if (end > size) {
        return Truncated(size, end);
    }
    return std::nullopt;
}

// A PNG is whole when its chunks, walked by their lengths, reach IEND.
std::optional<ImageError> PngTruncation(const uint8_t* b, size_t size) {
    size_t at = 8;  // the signature
    while (size - at >= 8) {
        const uint64_t length = Big32(b + at);
        if (length + 12 > size - at) {
            break;
        }
        if (std::memcmp(b + at + 4, "IEND", 4) == 0) {
            return std::nullopt;
        }
        at += length + 12;  // length, type, data, CRC
    }
    return EndsEarly(size, "the PNG's IEND chunk");
}

// A JPEG is whole when its markers reach EOI. Segments are skipped by their lengths (an EXIF
// thumbnail's own EOI stays inside its APP1); in entropy-coded data an 0xFF is followed by a
// stuffed 0x00 or a restart marker, so the next other marker ends the scan.
std::optional<ImageError> JpegTruncation(const uint8_t* b, size_t size) {
    size_t at = 2;  // SOI
    for (;;) {
        while (at < size && b[at] != 0xFF) {
            ++at;  // entropy-coded data, or bytes a decoder skips between segments
        }
        while (at < size && b[at] == 0xFF) {
            ++at;  // fill bytes
        }
        if (at >= size) {
            return EndsEarly(size, "the JPEG's end-of-image marker");
        }
        const uint8_t marker = b[at++];
        if (marker == 0xD9) {
            return std::nullopt;
        }
        const bool standalone = marker == 0x00 || marker == 0x01 || (marker & 0xF8) == 0xD0;
        if (standalone) {
            continue;
        }
        if (size - at < 2) {
            return EndsEarly(size, "the JPEG's end-of-image marker");
        }
        at += (size_t{b[at]} << 8 | b[at + 1]);
    }
}

// A GIF's first image, the one decoded, is whole when its data sub-blocks reach their
// terminator; extensions before it are skipped the same way.
std::optional<ImageError> GifTruncation(const uint8_t* b, size_t size) {
    const auto ends = [size] { return EndsEarly(size, "the end of the GIF's first image"); };
    if (size < 13) {
        return ends();
    }
    size_t at = 13;
    if (b[10] & 0x80) {
        at += 3 * (size_t{2} << (b[10] & 7));  // the global colour table
    }
    // Skips sub-blocks from `at` up to their empty terminator; false when the file ends first.
    const auto skipBlocks = [&] {
        while (at < size) {
            const size_t length = b[at++];
            if (length == 0) {
                return true;
            }
            at += length;
        }
        return false;
    };
    while (at < size) {
        const uint8_t introducer = b[at++];
        if (introducer == 0x21) {  // extension: label, then sub-blocks
            ++at;
            if (!skipBlocks()) {
                return ends();
            }
        } else if (introducer == 0x2C) {  // image descriptor
            if (size - at < 10) {
                return ends();
            }
            const uint8_t flags = b[at + 8];
            at += 9;
            if (flags & 0x80) {
                at += 3 * (size_t{2} << (flags & 7));  // the local colour table
            }
            ++at;  // the LZW code size
            return skipBlocks() ? std::nullopt : std::optional<ImageError>(ends());
        } else {
            return std::nullopt;  // a trailer or damage before any image: the decoder says
        }
    }
    return ends();
}

// A WebP's RIFF header gives the file's length.
std::optional<ImageError> WebpTruncation(const uint8_t* b, size_t size) {
    if (size < 12 || std::memcmp(b, "RIFF", 4) != 0) {
        return std::nullopt;
    }
    const uint64_t declared = uint64_t{Little32(b + 4)} + 8;
    return declared > size ? std::optional<ImageError>(Truncated(size, declared)) : std::nullopt;
}

std::optional<ImageError> Truncation(const QByteArray& format, const uint8_t* b, size_t size) {
    if (format == "bmp") return BitmapTruncation(b, size);
    if (format == "png") return PngTruncation(b, size);
    if (format == "jpeg") return JpegTruncation(b, size);
    if (format == "gif") return GifTruncation(b, size);
    if (format == "webp") return WebpTruncation(b, size);
    return std::nullopt;  // the others' readers fail on a short file themselves
}

// ---------------------------------------------------------------------------------------------
// Memory

// Refuses an image whose decode would need more than the machine's memory: the file's bytes,
// the decoder's image of `decodedBytesPerPixel`, and the samples.
std::optional<ImageError> TooLarge(uint64_t width, uint64_t height, uint64_t decodedBytesPerPixel,
                                   uint32_t channels, size_t fileBytes) {
    const uint64_t pixels = Times(width, height);
    const uint64_t need = Plus(fileBytes, Times(pixels, Plus(decodedBytesPerPixel, channels)));
    const uint64_t memory = AvailableMemory();
    if (need <= memory) {
        return std::nullopt;
    }
    return ImageError{"too large: " + Grouped(width) + " x " + Grouped(height) + " pixels need " +
                      Grouped(need) + " bytes to decode, more than the " + Grouped(memory) +
                      " bytes of memory"};
}

// Raises Qt's process-wide allocation limit to at least `bytes` while it lives.
class AllocationLimit {
public:
    explicit AllocationLimit(uint64_t bytes) : previous_(QImageReader::allocationLimit()) {
        const uint64_t mib = bytes / kMiB + 1;
        if (previous_ != 0 && mib > static_cast<uint64_t>(previous_)) {
            const int limit = static_cast<int>(
                std::min<uint64_t>(mib, static_cast<uint64_t>(std::numeric_limits<int>::max())));
            QImageReader::setAllocationLimit(limit);
        }
    }
    ~AllocationLimit() { QImageReader::setAllocationLimit(previous_); }
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

private:
    const int previous_;
};

// ---------------------------------------------------------------------------------------------
// Qt's readers

bool GreyPalette(const QImage& image) {
    const QList<QRgb> colours = image.colorTable();
    return !colours.empty() && std::all_of(colours.begin(), colours.end(), [](QRgb colour) {
        return qAlpha(colour) == 255 && qRed(colour) == qGreen(colour) &&
               qRed(colour) == qBlue(colour);
    });
}

uint32_t ChannelsOf(const QImage& image) {
    if (image.hasAlphaChannel()) {
        return 4;
    }
    switch (image.format()) {
        case QImage::Format_Grayscale8:
        case QImage::Format_Grayscale16:
            return 1;
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
        case QImage::Format_Indexed8:
            return GreyPalette(image) ? 1 : 3;
        default:
            return 3;
    }
}

// The channels a reader's announced format will give, before decoding: 4 when unknown.
uint32_t ChannelsOf(QImage::Format format) {
    if (format == QImage::Format_Invalid) {
        return 4;
    }
    const QPixelFormat pixel = QImage::toPixelFormat(format);
    if (pixel.alphaUsage() == QPixelFormat::UsesAlpha) {
        return 4;
    }
    return pixel.colorModel() == QPixelFormat::Grayscale ? 1 : 3;
}

// Copies the decoded image into packed samples. Conversion goes a band of rows at a time, so
// that the decoder's image and the samples are the only whole copies held.
ImageResult ToSamples(const QImage& decoded) {
    const uint32_t channels = ChannelsOf(decoded);
    // A grey palette is read from the red of its RGB expansion: converting an indexed image to
    // Grayscale8 would weigh the colours through the image's colour space.
    const QImage::Format target = channels == 4 ? QImage::Format_RGBA8888
                                  : channels == 3 || decoded.colorCount() > 0
                                      ? QImage::Format_RGB888
                                      : QImage::Format_Grayscale8;
    PixelImage image;
    image.width = static_cast<uint32_t>(decoded.width());
    image.height = static_cast<uint32_t>(decoded.height());
    image.channels = channels;
    const size_t stride = size_t{image.width} * channels;
    try {
        image.samples.resize(stride * image.height);
    } catch (const std::bad_alloc&) {
        return ImageError{"too large: no memory for the samples"};
    }
    constexpr int kBand = 64;
    for (int top = 0; top < decoded.height(); top += kBand) {
        const int rows = std::min(kBand, decoded.height() - top);
        const QImage band = decoded.copy(0, top, decoded.width(), rows).convertToFormat(target);
        if (band.isNull()) {
            return ImageError{"too large: no memory to convert the pixels"};
        }
        for (int y = 0; y < rows; ++y) {
            uint8_t* out = image.samples.data() + (size_t(top) + y) * stride;
            const uchar* in = band.constScanLine(y);
            if (target == QImage::Format_RGB888 && channels == 1) {
                for (uint32_t x = 0; x < image.width; ++x) {
                    out[x] = in[x * 3];
                }
            } else {
                std::memcpy(out, in, stride);
            }
        }
    }
    return image;
}

struct Sides {
    uint64_t width;
    uint64_t height;
};

// The size the reader's header declares, or nothing. A top-down bitmap declares a negative
// height.
std::optional<Sides> DeclaredSides(QImageReader& reader) {
    const QSize size = reader.size();
    if (size == QSize()) {
        return std::nullopt;
    }
    return Sides{static_cast<uint64_t>(std::abs(int64_t{size.width()})),
                 static_cast<uint64_t>(std::abs(int64_t{size.height()}))};
}

// The pixel format the reader will decode to, as its header says. Qt's JPEG reader answers
// with an uninitialised value when the header does not read, so the answer is taken as bits
// and checked before it is used as a format.
QImage::Format AnnouncedFormat(QImageReader& reader) {
    using Value = std::underlying_type_t<QImage::Format>;
    const Value value = std::bit_cast<Value>(reader.imageFormat());
    return value > 0 && value < QImage::NImageFormats ? static_cast<QImage::Format>(value)
                                                      : QImage::Format_Invalid;
}

// The bytes a pixel of Qt's image in `format` takes, rounded up; Qt's widest, 8, where the
// reader does not say before decoding.
uint64_t DecodedBytesPerPixel(QImage::Format format) {
    return format == QImage::Format_Invalid
               ? 8
               : (QImage::toPixelFormat(format).bitsPerPixel() + 7) / 8;
}

// The bytes Qt's image of `sides` in `format` takes, its rows padded to 4 bytes.
uint64_t DecodedBytes(const Sides& sides, QImage::Format format) {
    return Times(sides.height, Plus(Times(sides.width, DecodedBytesPerPixel(format)), 3) / 4 * 4);
}

}  // namespace

bool ReadImage(QImageReader& reader, QImage& image) {
    const std::optional<Sides> sides =
        reader.format() == "bmp" ? DeclaredSides(reader) : std::nullopt;
    const QImage::Format format = sides ? AnnouncedFormat(reader) : QImage::Format_Invalid;
    if (format != QImage::Format_Invalid) {
        // Qt's own measure of the image against its limit: its bits, not whole bytes a pixel.
        const uint64_t bits =
            Times(Times(sides->width, sides->height), QImage::toPixelFormat(format).bitsPerPixel());
        const int limitMiB = QImageReader::allocationLimit();
        if (limitMiB <= 0 || bits / 8 <= (uint64_t{static_cast<uint32_t>(limitMiB)} << 20)) {
            image = QImage(static_cast<int>(sides->width), static_cast<int>(sides->height), format);
            image.fill(0);
        }
    }
    return reader.read(&image);
}

bool RgbLoadFitsInMemory(QImageReader& reader) {
    const std::optional<Sides> sides = DeclaredSides(reader);
    if (!sides) {
        return true;
    }
    const uint64_t decoded = DecodedBytes(*sides, AnnouncedFormat(reader));
    const uint64_t converted = DecodedBytes(*sides, QImage::Format_RGB888);
    const uint64_t packed = Times(Times(sides->width, sides->height), 3);
    return Plus(Plus(decoded, converted), packed) <= AvailableMemory();
}

namespace {

ImageResult DecodeWithQt(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    const QByteArray format = reader.format();
    if (format.isEmpty()) {
        return ImageError{"not an image: no reader knows its content"};
    }
    if (format.startsWith("svg")) {
        return ImageError{"not a pixel image: " + format.toStdString()};
    }
    if (!IsReadableImageFormat(format.toStdString())) {
        return ImageError{"unsupported image format: " + format.toStdString()};
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const size_t size = static_cast<size_t>(bytes.size());
    const std::optional<Sides> declared = DeclaredSides(reader);
    const QImage::Format announced = declared ? AnnouncedFormat(reader) : QImage::Format_Invalid;
    const uint64_t decodedBytes = declared ? DecodedBytes(*declared, announced) : 0;
    if (declared) {
        if (std::optional<ImageError> error =
                TooLarge(declared->width, declared->height, DecodedBytesPerPixel(announced),
                         ChannelsOf(announced), size)) {
            return *error;
        }
    }
    if (std::optional<ImageError> error = Truncation(format, data, size)) {
        return *error;
    }
    QImage decoded;
    {
        // Without a declared size the reader's own limit stays the only guard.
        const AllocationLimit limit(decodedBytes);
        if (!ReadImage(reader, decoded)) {
            return ImageError{"not decoded: " + reader.errorString().toStdString()};
        }
    }
    ImageResult result = ToSamples(decoded);
    if (auto* image = std::get_if<PixelImage>(&result)) {
        image->format = format.toStdString();
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// PAM (Netpbm's P7), which Qt does not read: a text header of WIDTH, HEIGHT, DEPTH, MAXVAL and
// TUPLTYPE lines up to ENDHDR, then the samples, big-endian 16-bit when MAXVAL is above 255.

bool IsPam(const uint8_t* b, size_t size) {
    return size >= 3 && b[0] == 'P' && b[1] == '7' && (b[2] == '\n' || b[2] == '\r');
}

// Each side at most 2^30, so that sizes stay within 64 bits without saturating.
constexpr uint64_t kPamSideLimit = uint64_t{1} << 30;

struct PamHeader {
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t depth = 0;
    uint64_t maxval = 0;
    size_t samplesAt = 0;  // the first byte after ENDHDR's line
};

std::variant<PamHeader, ImageError> ReadPamHeader(const uint8_t* b, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(b), size);
    PamHeader header;
    size_t at = 3;
    for (;;) {
        const size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            return EndsEarly(size, "the PAM header's ENDHDR");
        }
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const size_t space = line.find_first_of(" \t");
        const std::string_view key = line.substr(0, space);
        if (key == "ENDHDR") {
            break;
        }
        uint64_t* field = key == "WIDTH"    ? &header.width
                          : key == "HEIGHT" ? &header.height
                          : key == "DEPTH"  ? &header.depth
                          : key == "MAXVAL" ? &header.maxval
                                            : nullptr;
        if (field == nullptr) {
            continue;  // comments, TUPLTYPE: the depth says what the tuples hold
        }
        const size_t first = line.find_first_not_of(" \t", space);
        const std::string_view digits = first == std::string_view::npos ? "" : line.substr(first);
        if (digits.empty() || digits.size() > 10 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return ImageError{"corrupt: the PAM header's " + std::string(key) + " is no number"};
        }
        *field = std::stoull(std::string(digits));
    }
    if (header.width == 0 || header.height == 0 || header.width > kPamSideLimit ||
        header.height > kPamSideLimit || header.depth == 0 || header.depth > 4 ||
        header.maxval == 0 || header.maxval > 65535) {
        return ImageError{
            "corrupt: the PAM header declares no image of 1 to 4 samples of 1 to "
            "16 bits"};
    }
    header.samplesAt = at;
    return header;
}

ImageResult DecodePam(const uint8_t* b, size_t size) {
    std::variant<PamHeader, ImageError> read = ReadPamHeader(b, size);
    if (auto* error = std::get_if<ImageError>(&read)) {
        return std::move(*error);
    }
    const PamHeader& header = std::get<PamHeader>(read);
    const uint64_t width = header.width;
    const uint64_t height = header.height;
    const uint64_t depth = header.depth;
    const uint64_t maxval = header.maxval;
    const size_t at = header.samplesAt;
    // Grey with alpha has no layout of its own: it becomes RGBA.
    const uint32_t channels = depth == 2 ? 4 : static_cast<uint32_t>(depth);
    const uint64_t sampleBytes = maxval > 255 ? 2 : 1;
    if (std::optional<ImageError> error = TooLarge(width, height, 0, channels, size)) {
        return *error;
    }
    const uint64_t declared = at + width * height * depth * sampleBytes;
    if (declared > size) {
        return Truncated(size, declared);
    }
    PixelImage image;
    image.width = static_cast<uint32_t>(width);
    image.height = static_cast<uint32_t>(height);
    image.channels = channels;
    image.format = "pam";
    try {
        image.samples.resize(width * height * channels);
    } catch (const std::bad_alloc&) {
        return ImageError{"too large: no memory for the samples"};
    }
    const uint8_t* in = b + at;
    uint8_t* out = image.samples.data();
    const auto next = [&] {
        uint64_t value = *in++;
        if (sampleBytes == 2) {
            value = value << 8 | *in++;
        }
        return static_cast<uint8_t>((std::min(value, maxval) * 255 + maxval / 2) / maxval);
    };
    for (uint64_t pixel = 0; pixel < width * height; ++pixel) {
        if (depth == 2) {
            const uint8_t grey = next();
            *out++ = grey;
            *out++ = grey;
            *out++ = grey;
            *out++ = next();
        } else {
            for (uint64_t sample = 0; sample < depth; ++sample) {
                *out++ = next();
            }
        }
    }
    return image;
}

}  // namespace

ImageResult DecodeImageBytes(const uint8_t* data, size_t size) {
    if (size == 0) {
        return ImageError{"not an image: the input is empty"};
    }
    if (IsPam(data, size)) {
        return DecodePam(data, size);
    }
    return DecodeWithQt(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
}

ImageResult DecodeImageFile(const std::string& path) {
    std::variant<QByteArray, ImageError> bytes = ReadFileBytes(path);
    if (auto* error = std::get_if<ImageError>(&bytes)) {
        return std::move(*error);
    }
    const QByteArray& content = std::get<QByteArray>(bytes);
    return DecodeImageBytes(reinterpret_cast<const uint8_t*>(content.constData()),
                            static_cast<size_t>(content.size()));
}

bool IsReadableImageFormat(std::string_view format) {
    static constexpr std::string_view kFormats[] = {"bmp",  "png", "jpeg", "jpg", "gif", "webp",
                                                    "tiff", "tif", "pbm",  "pgm", "ppm"};
    return std::find(std::begin(kFormats), std::end(kFormats), format) != std::end(kFormats);
}

}  // namespace tallox

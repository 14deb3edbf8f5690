#include "platform/image_input.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageWriter>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/run.h"
#include "platform/imaging.h"
#include "platform/memory.h"
#include "support/temp_folder.h"
#include "support/test_data.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;

const std::string kImages = TALLOX_SOURCE_DIR "/tests/data/images/";

// A pixel's expected samples, `channels` of them.
struct Pixel {
    int x;
    int y;
    std::vector<int> samples;
};

struct DecodeCase {
    const char* file;
    const char* format;  // the decoded image's format
    uint32_t width;
    uint32_t height;
    uint32_t channels;
    int tolerance;  // for lossy formats
    std::vector<Pixel> pixels;
};

// tests/data/images/make_images.cpp draws one pattern into every file: red 3 + 36x, green
// 5 + 50y, blue 250 - 20(x + y), alpha 255 - 25x - 10y, grey 10 + 30x + 7y. Its 16-bit files
// store v * 256 + 255, which rounds to v + 1 where v < 127 and to v above.
const std::vector<DecodeCase> kDecodeCases = {
    {"rgb-7x5.bmp", "bmp", 7, 5, 3, 0, {{0, 0, {3, 5, 250}}, {6, 4, {219, 205, 50}}}},
    {"pal-7x5.bmp", "bmp", 7, 5, 3, 0, {{3, 2, {111, 105, 150}}, {6, 4, {219, 205, 50}}}},
    {"grey-7x5.bmp", "bmp", 7, 5, 1, 0, {{0, 0, {10}}, {3, 2, {114}}, {6, 4, {218}}}},
    {"rgb-1x1.png", "png", 1, 1, 3, 0, {{0, 0, {12, 34, 56}}}},
    {"rgb-7x5.png", "png", 7, 5, 3, 0, {{3, 2, {111, 105, 150}}, {6, 4, {219, 205, 50}}}},
    {"rgba-7x5.png", "png", 7, 5, 4, 0, {{0, 0, {3, 5, 250, 255}}, {6, 4, {219, 205, 50, 65}}}},
    {"grey-7x5.png", "png", 7, 5, 1, 0, {{3, 2, {114}}, {6, 4, {218}}}},
    {"grey16-7x5.png", "png", 7, 5, 1, 0, {{0, 0, {11}}, {3, 2, {115}}, {6, 4, {218}}}},
    {"rgba16-7x5.png",
     "png",
     7,
     5,
     4,
     0,
     {{0, 0, {4, 6, 250, 255}}, {3, 2, {112, 106, 150, 160}}, {6, 4, {219, 205, 51, 66}}}},
    {"pal-7x5.png", "png", 7, 5, 3, 0, {{3, 2, {111, 105, 150}}, {6, 4, {219, 205, 50}}}},
    {"rgb-7x5.ppm", "ppm", 7, 5, 3, 0, {{3, 2, {111, 105, 150}}, {6, 4, {219, 205, 50}}}},
    {"grey-7x5.pgm", "pgm", 7, 5, 1, 0, {{3, 2, {114}}, {6, 4, {218}}}},
    {"rgba-7x5.pam", "pam", 7, 5, 4, 0, {{0, 0, {3, 5, 250, 255}}, {6, 4, {219, 205, 50, 65}}}},
    {"grey16-7x5.pam", "pam", 7, 5, 1, 0, {{0, 0, {11}}, {3, 2, {115}}, {6, 4, {218}}}},
    // Two flat 8 x 8 blocks, (200, 40, 90) and (30, 160, 220); in grey 102 and 124.
    {"rgb-16x8.jpg", "jpeg", 16, 8, 3, 3, {{0, 0, {200, 40, 90}}, {15, 7, {30, 160, 220}}}},
    {"grey-16x8.jpg", "jpeg", 16, 8, 1, 3, {{0, 0, {102}}, {15, 7, {124}}}},
    {"rgb-7x5.tif", "tiff", 7, 5, 3, 0, {{3, 2, {111, 105, 150}}, {6, 4, {219, 205, 50}}}},
    // Qt stores TIFF alpha premultiplied: the colour under alpha 65 comes back within a step.
    {"rgba-7x5.tif", "tiff", 7, 5, 4, 1, {{0, 0, {3, 5, 250, 255}}, {6, 4, {219, 205, 50, 65}}}},
    {"rgb-7x5.webp", "webp", 7, 5, 3, 0, {{3, 2, {111, 105, 150}}, {6, 4, {219, 205, 50}}}},
    {"rgba-7x5.webp", "webp", 7, 5, 4, 0, {{0, 0, {3, 5, 250, 255}}, {6, 4, {219, 205, 50, 65}}}},
    {"pal-7x5.gif", "gif", 7, 5, 3, 0, {{3, 2, {111, 105, 150}}, {6, 4, {219, 205, 50}}}},
    // Palette entry 3, the pixel (3, 0), is transparent and keeps its colour.
    {"pal-alpha-7x5.gif", "gif", 7, 5, 4, 0, {{2, 0, {75, 5, 210, 255}}, {3, 0, {111, 5, 190, 0}}}},
};

TEST(ImageInput, DecodesEachFormatToItsSamples) {
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.file);
        const std::string path = kImages + c.file;
        const ImageResult result = DecodeImageFile(path);
        if (const auto* error = std::get_if<ImageError>(&result)) {
            ADD_FAILURE() << error->message;
            continue;
        }
        const PixelImage& image = std::get<PixelImage>(result);
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        ASSERT_EQ(image.channels, c.channels);
        ASSERT_EQ(image.samples.size(), size_t{c.width} * c.height * c.channels);
        for (const Pixel& pixel : c.pixels) {
            const size_t at = (size_t(pixel.y) * c.width + pixel.x) * c.channels;
            for (size_t i = 0; i < pixel.samples.size(); ++i) {
                EXPECT_NEAR(image.samples[at + i], pixel.samples[i], c.tolerance)
                    << "pixel " << pixel.x << "," << pixel.y << " sample " << i;
            }
        }
    }
}

// A run decodes each file once: an RGB image's samples stand for the 24-bit image the imaging
// library would load, so the two must agree to the byte, and so must every other image's. A
// PAM file, which the library does not read, still has both.
TEST(ImageInput, TheRunsImageIsTheImagingLibrarysLoad) {
    const ImagingSession session;
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.file);
        BenchmarkSettings settings;
        settings.filePath = kImages + c.file;
        const RunInput input = ReadRunInput(settings, PlatformImaging());
        ASSERT_TRUE(input.image && input.pixels);
        const std::optional<Image> loaded = PlatformImaging().Load(settings.filePath);
        if (!loaded) {
            // PAM, which the library does not read: its samples as RGB, grey repeated.
            EXPECT_EQ(std::string(c.format), "pam");
            const std::vector<int>& first = c.pixels[0].samples;
            EXPECT_EQ(input.image->rgb[1], first[first.size() >= 3 ? 1 : 0]);
            EXPECT_EQ(input.image->rgb[2], first[first.size() >= 3 ? 2 : 0]);
            continue;
        }
        EXPECT_EQ(input.image->width, loaded->width);
        EXPECT_EQ(input.image->height, loaded->height);
        EXPECT_TRUE(input.image->rgb == loaded->rgb);
    }
}

class ImageInputFiles : public ::testing::Test {
protected:
    // The first `length` bytes of a file (all of it when longer), written to the folder.
    std::string Cut(const std::string& from, size_t length, const std::string& name) const {
        std::vector<uint8_t> bytes = test::ReadFileBytes(from);
        bytes.resize(std::min(length, bytes.size()));
        return folder_.Write(name, bytes).string();
    }

    // An icon, which Qt reads but Tallox does not.
    std::string Icon() const {
        const std::string path = (folder_.path() / "icon.png").string();
        QImage icon(4, 4, QImage::Format_RGB32);
        icon.fill(Qt::red);
        icon.save(QString::fromStdString(path), "ICO");
        return path;
    }

    test::TempFolder folder_{"tallox_image_input"};
};

// A machine of 16 GiB, so that the bomb's refusal reads the same everywhere.
uint64_t SixteenGiB() { return uint64_t{16} << 30; }
const MemorySource kSixteenGiB{&std::malloc, &std::free, &SixteenGiB};

constexpr char kSvg[] = R"(<svg xmlns="http://www.w3.org/2000/svg" width="4" height="4"/>)";

TEST_F(ImageInputFiles, RefusalsNameTheFault) {
    // Qt decodes every cut below BMP's, PNG's, JPEG's and GIF's without an error.
    const std::string sample = test::SampleImagePath();
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {Cut(sample, 3000, "cut.bmp"), "truncated: 3,000 of 786,486 bytes"},
        {Cut(sample, 30, "header.bmp"),
         "truncated: the file ends after 30 bytes, before the bitmap's header"},
        {Cut(kImages + "rgb-7x5.png", 104, "cut.png"),
         "truncated: the file ends after 104 bytes, before the PNG's IEND chunk"},
        {Cut(kImages + "rgb-16x8.jpg", 645, "cut.jpg"),
         "truncated: the file ends after 645 bytes, before the JPEG's end-of-image marker"},
        {Cut(kImages + "pal-7x5.gif", 440, "cut.gif"),
         "truncated: the file ends after 440 bytes, before the end of the GIF's first image"},
        {Cut(kImages + "rgb-7x5.webp", 52, "cut.webp"), "truncated: 52 of 62 bytes"},
        {Cut(kImages + "rgba-7x5.pam", 200, "cut.pam"), "truncated: 200 of 205 bytes"},
        {Cut(kImages + "rgb-7x5.tif", 300, "cut.tif"), "not decoded: Unable to read image data"},
        {Cut(kImages + "rgb-7x5.ppm", 100, "cut.ppm"), "not decoded: Unable to read image data"},
        {kImages + "bomb-100000x100000.png",
         "too large: 100,000 x 100,000 pixels need 70,000,000,065 bytes to decode, more than "
         "the 17,179,869,184 bytes of memory"},
        {folder_.Write("text.png", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}),
         "not an image: no reader knows its content"},
        {folder_.Write("empty.png", {}), "not an image: the input is empty"},
        {folder_.Write("vector.png", std::vector<uint8_t>(std::begin(kSvg), std::end(kSvg) - 1)),
         "not a pixel image: svg"},
        {Icon(), "unsupported image format: ico"},
        {(folder_.path() / "missing.png").string(), "cannot open: No such file or directory"},
        {folder_.path().string(), "not a regular file"},
    };
    SetMemorySource(&kSixteenGiB);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const ImageResult result = DecodeImageFile(c.path);
        const auto* error = std::get_if<ImageError>(&result);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->message, c.message);
    }
    SetMemorySource(nullptr);
}

TEST_F(ImageInputFiles, TheContentDecidesNotTheName) {
    const std::string path = Cut(kImages + "rgba-7x5.png", 1 << 20, "png-inside.bmp");
    const ImageResult result = DecodeImageFile(path);
    ASSERT_TRUE(std::holds_alternative<PixelImage>(result));
    EXPECT_EQ(std::get<PixelImage>(result).format, "png");
    EXPECT_EQ(std::get<PixelImage>(result).channels, 4u);
    EXPECT_TRUE(std::holds_alternative<ImageError>(
        DecodeImageFile(folder_.Write("text.bmp", {'B', 'M'}).string())));
}

// Qt's own allocation limit (128 MiB by default) would refuse this 6,000 x 6,000 image, whose
// decoder image takes 144,000,000 bytes; the memory check has passed it, so it loads.
TEST_F(ImageInputFiles, ABigImageWithinMemoryLoads) {
    QImage source(6000, 6000, QImage::Format_RGB32);
    source.fill(qRgb(1, 2, 3));
    source.setPixel(5999, 5999, qRgb(4, 5, 6));
    const QString path = QString::fromStdString((folder_.path() / "big.png").string());
    QImageWriter writer(path, "png");
    writer.setCompression(1);
    ASSERT_TRUE(writer.write(source));
    source = QImage();

    const ImageResult result = DecodeImageFile(path.toStdString());
    if (const auto* error = std::get_if<ImageError>(&result)) {
        FAIL() << error->message;
    }
    const PixelImage& image = std::get<PixelImage>(result);
    EXPECT_EQ(image.width, 6000u);
    EXPECT_EQ(image.height, 6000u);
    ASSERT_EQ(image.samples.size(), size_t{6000} * 6000 * 3);
    EXPECT_EQ(image.samples.back(), 6);
}

}  // namespace
}  // namespace tallox

#include "platform/imaging.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QImageReader>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/jpeg_encoder.h"
#include "platform/memory.h"
#include "support/temp_folder.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Loading

class LoadTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return (dir / name).string(); }

    test::TempFolder m_folder{"tallox_imaging"};
    const fs::path dir = m_folder.path();
    ImagingSession session;
};

// A pixel that differs in each channel and by position, so swapped channels, flipped rows or
// row padding show.
QRgb Pattern(int x, int y) { return qRgb(x * 40 + 3, y * 70 + 5, (x + y) * 9 + 1); }

TEST_F(LoadTest, DecodesToPackedRgbTopRowFirst) {
    QImage source(5, 3, QImage::Format_RGB32);  // 5 * 3 bytes per row: Qt pads RGB888 rows
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            source.setPixel(x, y, Pattern(x, y));
        }
    }
    ASSERT_TRUE(source.save(QString::fromStdString(Path("p.bmp")), "BMP"));

    const std::optional<Image> image = PlatformImaging().Load(Path("p.bmp"));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 5u);
    EXPECT_EQ(image->height, 3u);
    ASSERT_EQ(image->rgb.size(), 45u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const uint8_t* pixel = &image->rgb[(y * 5 + x) * 3];
            const QRgb expected = Pattern(x, y);
            EXPECT_EQ(pixel[0], qRed(expected)) << x << "," << y;
            EXPECT_EQ(pixel[1], qGreen(expected)) << x << "," << y;
            EXPECT_EQ(pixel[2], qBlue(expected)) << x << "," << y;
        }
    }
}

TEST_F(LoadTest, TheContentDecidesNotTheName) {
    QImage source(7, 2, QImage::Format_ARGB32);
    source.fill(qRgba(10, 20, 30, 128));
    ASSERT_TRUE(source.save(QString::fromStdString(Path("png_inside.bmp")), "PNG"));
    const std::optional<Image> image = PlatformImaging().Load(Path("png_inside.bmp"));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 7u);
    EXPECT_EQ(image->height, 2u);
    EXPECT_EQ(image->rgb.size(), 7u * 2 * 3);  // the alpha channel is gone
}

TEST_F(LoadTest, WhatDoesNotDecodeGivesNoImage) {
    std::ofstream(Path("text.bmp")) << "this is not an image\n";
    std::ofstream(Path("empty.bmp")).flush();
    std::ifstream real(TALLOX_SOURCE_DIR "/data/sample.bmp", std::ios::binary);
    std::ostringstream bytes;
    bytes << real.rdbuf();
    std::ofstream(Path("cut.bmp"), std::ios::binary) << bytes.str().substr(0, 40);

    Imaging& imaging = PlatformImaging();
    EXPECT_EQ(imaging.Load(Path("text.bmp")), std::nullopt);
    EXPECT_EQ(imaging.Load(Path("empty.bmp")), std::nullopt);
    EXPECT_EQ(imaging.Load(Path("cut.bmp")), std::nullopt);
    EXPECT_EQ(imaging.Load(Path("missing.bmp")), std::nullopt);
    EXPECT_EQ(imaging.Load(dir.string()), std::nullopt);
    EXPECT_EQ(imaging.Load(""), std::nullopt);

    // 94 bytes that declare a 1,000 x 20,000 bitmap of 8 bits, which Qt fills in whatever the
    // file lacks: 140 MB to load, on a machine of 64 MiB.
    std::string bomb = "BM";
    const auto put = [&](uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            bomb += static_cast<char>(value >> (8 * i));
        }
    };
    put(94, 4), put(0, 4), put(62, 4);                 // file size, reserved, pixels' offset
    put(40, 4), put(1000, 4), put(20000, 4);           // info header size, width, height
    put(1, 2), put(8, 2), put(0, 4), put(0, 4);        // planes, bits, no compression, image size
    put(2835, 4), put(2835, 4), put(2, 4), put(2, 4);  // resolution, colours used, important
    put(0, 4), put(0xFFFFFF, 4);                       // black, white
    bomb.append(16, '\0');                             // the first 16 pixels
    std::ofstream(Path("bomb.bmp"), std::ios::binary) << bomb;
    static const MemorySource kSmall{&std::malloc, &std::free, [] { return uint64_t{64} << 20; }};
    SetMemorySource(&kSmall);
    EXPECT_EQ(imaging.Load(Path("bomb.bmp")), std::nullopt);
    SetMemorySource(nullptr);
    EXPECT_NE(imaging.Load(Path("bomb.bmp")), std::nullopt);  // where memory allows, Qt fills it
}

// The suite's manifest: "g/pal1.bmp<TAB>1086<TAB>127x64<TAB>...".
std::map<std::string, std::pair<uint32_t, uint32_t>> ManifestSizes(const std::string& folder) {
    std::map<std::string, std::pair<uint32_t, uint32_t>> sizes;
    std::ifstream manifest(TALLOX_SHARED_DIR "/bmpsuite/MANIFEST.txt");
    std::string line;
    while (std::getline(manifest, line)) {
        if (line.rfind(folder + "/", 0) != 0) {
            continue;
        }
        std::istringstream fields(line);
        std::string name, bytes, size;
        std::getline(fields, name, '\t');
        std::getline(fields, bytes, '\t');
        std::getline(fields, size, '\t');
        const size_t cross = size.find('x');
        sizes[name] = {static_cast<uint32_t>(std::stoul(size.substr(0, cross))),
                       static_cast<uint32_t>(std::stoul(size.substr(cross + 1)))};
    }
    return sizes;
}

TEST_F(LoadTest, GoodBitmapsLoadWithTheirSizes) {
    if (!fs::is_directory(TALLOX_SHARED_DIR "/bmpsuite")) {
        GTEST_SKIP() << "the BMP suite lies beside the checkout only in the shared workspace";
    }
    const auto sizes = ManifestSizes("g");
    ASSERT_GE(sizes.size(), 20u);
    for (const auto& [name, size] : sizes) {
        const std::optional<Image> image =
            PlatformImaging().Load(TALLOX_SHARED_DIR "/bmpsuite/" + name);
        ASSERT_TRUE(image.has_value()) << name;
        EXPECT_EQ(image->width, size.first) << name;
        EXPECT_EQ(image->height, size.second) << name;
        EXPECT_EQ(image->rgb.size(), size_t{size.first} * size.second * 3) << name;
    }
}

TEST_F(LoadTest, BadAndQuestionableBitmapsGiveTheSameImageOrNone) {
    if (!fs::is_directory(TALLOX_SHARED_DIR "/bmpsuite")) {
        GTEST_SKIP() << "the BMP suite lies beside the checkout only in the shared workspace";
    }
    size_t files = 0;
    for (const char* folder : {"b", "q", "x"}) {
        for (const auto& entry :
             fs::directory_iterator(TALLOX_SHARED_DIR "/bmpsuite/" + std::string(folder))) {
            ++files;
            const std::optional<Image> image = PlatformImaging().Load(entry.path().string());
            if (image) {
                EXPECT_GT(image->width, 0u) << entry.path();
                EXPECT_EQ(image->rgb.size(), size_t{image->width} * image->height * 3)
                    << entry.path();
                // The same pixels on every load, wherever a broken stream stops: the memory
                // the first load freed, reused here, must not show through.
                const std::optional<Image> again = PlatformImaging().Load(entry.path().string());
                EXPECT_TRUE(again && again->rgb == image->rgb) << entry.path();
            }
        }
    }
    EXPECT_GE(files, 60u);
    // 3,000,000 x 2,000,000 pixels: refused by the session's limit before any allocation.
    EXPECT_EQ(PlatformImaging().Load(TALLOX_SHARED_DIR "/bmpsuite/b/reallybig.bmp"), std::nullopt);
}

TEST(ImagingSessionTest, SetsTheLimitForItsLifeAndPutsTheOldOneBack) {
    const int before = QImageReader::allocationLimit();
    {
        const ImagingSession outer;
        EXPECT_EQ(QImageReader::allocationLimit(), 1024);
        {
            const ImagingSession inner;
            EXPECT_EQ(QImageReader::allocationLimit(), 1024);
        }
        EXPECT_EQ(QImageReader::allocationLimit(), 1024);
    }
    EXPECT_EQ(QImageReader::allocationLimit(), before);
}

// ---------------------------------------------------------------------------------------------
// JPEG saving

Image Gradient(uint32_t width, uint32_t height) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.resize(size_t{width} * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* pixel = &image.rgb[(size_t{y} * width + x) * 3];
            pixel[0] = static_cast<uint8_t>(x * 255 / width);
            pixel[1] = static_cast<uint8_t>(y * 255 / height);
            pixel[2] = static_cast<uint8_t>(200 - x * 100 / width);
        }
    }
    return image;
}

Image Noise(uint32_t width, uint32_t height) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.resize(size_t{width} * height * 3);
    uint32_t state = 12345;
    for (uint8_t& byte : image.rgb) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return image;
}

// What the frame header of a JPEG says: baseline or progressive, and luma's sampling factors
// against the chroma's (which the encoder keeps at 1 x 1).
struct Frame {
    bool found = false;
    bool progressive = false;
    int components = 0;
    int lumaH = 0;
    int lumaV = 0;
};

// Walks the marker segments after SOI up to the first start of frame.
Frame ReadFrame(const std::vector<uint8_t>& jpeg) {
    Frame frame;
    for (size_t i = 2; i + 12 <= jpeg.size() && jpeg[i] == 0xFF;) {
        const uint8_t marker = jpeg[i + 1];
        if (marker == 0xC0 || marker == 0xC2) {
            // FF Cn, length (2), precision, height (2), width (2), components, then per
            // component its id and its sampling factors H << 4 | V.
            frame.found = true;
            frame.progressive = marker == 0xC2;
            frame.components = jpeg[i + 9];
            frame.lumaH = jpeg[i + 11] >> 4;
            frame.lumaV = jpeg[i + 11] & 15;
            break;
        }
        i += 2 + (size_t{jpeg[i + 2]} << 8 | jpeg[i + 3]);
    }
    return frame;
}

JpegOptions Quality(int quality) {
    JpegOptions options;
    options.quality = quality;
    return options;
}

TEST(JpegSaveTest, DecodesToTheImageAsBaseline420) {
    const Image image = Gradient(37, 23);  // neither dimension a multiple of the 16-pixel MCU
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, Quality(90), jpeg));
    const Frame frame = ReadFrame(jpeg);
    ASSERT_TRUE(frame.found);
    EXPECT_FALSE(frame.progressive);
    EXPECT_EQ(frame.components, 3);
    EXPECT_EQ(frame.lumaH, 2);
    EXPECT_EQ(frame.lumaV, 2);
    const std::optional<Image> decoded = PlatformImaging().DecodeJpeg(jpeg);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, 37u);
    EXPECT_EQ(decoded->height, 23u);
    // Close to the source: swapped channels or skewed rows would be far off.
    ASSERT_EQ(decoded->rgb.size(), image.rgb.size());
    double error = 0;
    for (size_t i = 0; i < image.rgb.size(); ++i) {
        error += std::abs(int{decoded->rgb[i]} - int{image.rgb[i]});
    }
    EXPECT_LT(error / static_cast<double>(image.rgb.size()), 4.0);
}

TEST(JpegSaveTest, EachOptionReachesTheEncoder) {
    struct Case {
        const char* what;
        Subsampling subsampling;
        bool progressive;
        bool optimize;
        int lumaH;
        int lumaV;
    };
    const Image image = Noise(48, 32);
    std::vector<uint8_t> plain;
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, Quality(75), plain));
    const std::optional<Image> plainPixels = PlatformImaging().DecodeJpeg(plain);
    ASSERT_TRUE(plainPixels.has_value());
    for (const Case& c : {Case{"4:4:4", Subsampling::k444, false, false, 1, 1},
                          Case{"4:2:2", Subsampling::k422, false, false, 2, 1},
                          Case{"progressive", Subsampling::k420, true, false, 2, 2},
                          Case{"optimized", Subsampling::k420, false, true, 2, 2}}) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> jpeg;
        ASSERT_TRUE(PlatformImaging().SaveJpeg(
            image, {75, c.subsampling, c.progressive, c.optimize}, jpeg));
        const Frame frame = ReadFrame(jpeg);
        EXPECT_EQ(frame.progressive, c.progressive);
        EXPECT_EQ(frame.lumaH, c.lumaH);
        EXPECT_EQ(frame.lumaV, c.lumaV);
        const std::optional<Image> decoded = PlatformImaging().DecodeJpeg(jpeg);
        ASSERT_TRUE(decoded.has_value());
        if (c.progressive || c.optimize) {
            // Scans and Huffman tables change only how the same coefficients are coded.
            EXPECT_EQ(decoded->rgb, plainPixels->rgb);
        }
        if (c.optimize) {
            EXPECT_LT(jpeg.size(), plain.size());
        }
    }
}

TEST(JpegDecodeTest, WhatIsNoJpegGivesNothing) {
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(PlatformImaging().SaveJpeg(Gradient(16, 16), Quality(50), jpeg));
    const std::vector<uint8_t> header(jpeg.begin(), jpeg.begin() + 30);
    const std::vector<uint8_t> text{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>{}, text, header}) {
        EXPECT_EQ(PlatformImaging().DecodeJpeg(bytes), std::nullopt) << bytes.size();
    }
}

TEST(JpegSaveTest, ASaveReplacesTheBytesAndReusesTheMemory) {
    const Image image = Noise(256, 256);  // well over one 16 KiB chunk of output
    std::vector<uint8_t> jpeg{'a', 'b', 'c'};
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, Quality(95), jpeg));
    const std::vector<uint8_t> first = jpeg;
    ASSERT_GT(first.size(), 3u * 16384);
    EXPECT_EQ(first[0], 0xFF);
    EXPECT_EQ(first[1], 0xD8);  // start of image: the old bytes are gone
    EXPECT_EQ(first[first.size() - 2], 0xFF);
    EXPECT_EQ(first.back(), 0xD9);  // the last partial chunk was flushed
    EXPECT_TRUE(PlatformImaging().DecodeJpeg(first).has_value());

    // Saved again, the same image gives the same bytes in the same memory.
    const uint8_t* memory = jpeg.data();
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, Quality(95), jpeg));
    EXPECT_EQ(jpeg, first);
    EXPECT_EQ(jpeg.data(), memory);

    std::vector<uint8_t> low;
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, Quality(10), low));
    EXPECT_LT(low.size() * 2, jpeg.size());  // the quality reaches the encoder
}

TEST(JpegSaveTest, RefusedSavesFailAndLeaveNoState) {
    Imaging& imaging = PlatformImaging();
    std::vector<uint8_t> jpeg;
    Image mismatched = Gradient(8, 8);
    mismatched.rgb.pop_back();  // one byte short of 8 x 8 x 3
    Image huge;                 // every byte present, but 65,500 is the format's largest dimension
    huge.width = 70'000;
    huge.height = 1;
    huge.rgb.assign(70'000 * 3, 0x80);
    for (const Image& image : {Image{}, mismatched, huge}) {
        EXPECT_FALSE(imaging.SaveJpeg(image, Quality(50), jpeg))
            << image.width << " x " << image.height;
    }
    // The encoder keeps nothing from a failed save.
    ASSERT_TRUE(imaging.SaveJpeg(Noise(64, 64), Quality(95), jpeg));
    EXPECT_TRUE(imaging.DecodeJpeg(jpeg).has_value());
}

}  // namespace
}  // namespace tallox

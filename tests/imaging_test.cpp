#include "platform/imaging.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QImageReader>
#include <QString>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// After <cstdio>: jpeglib.h uses FILE and size_t without declaring them.
#include <jpeglib.h>

#include "platform/jpeg_encoder.h"
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

TEST_F(LoadTest, BadAndQuestionableBitmapsGiveAnImageOrNone) {
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

struct Decoded {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;
    bool progressive = false;
    int sampling[3][2] = {};
    std::vector<uint8_t> rgb;
};

struct DecodeError {
    jpeg_error_mgr pub;
    std::jmp_buf escape;
};

[[noreturn]] void DecodeErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<DecodeError*>(cinfo->err)->escape, 1);
}

// Decodes with libjpeg itself. No object with a destructor lives in this frame, so the jump
// back from an error skips none.
void DecodeInto(const uint8_t* data, size_t size, Decoded* out) {
    jpeg_decompress_struct cinfo{};
    DecodeError error;
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = DecodeErrorExit;
    if (setjmp(error.escape) != 0) {
        jpeg_destroy_decompress(&cinfo);
        out->ok = false;
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    out->progressive = cinfo.progressive_mode != 0;
    for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
        out->sampling[c][0] = cinfo.comp_info[c].h_samp_factor;
        out->sampling[c][1] = cinfo.comp_info[c].v_samp_factor;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = cinfo.output_width;
    out->height = cinfo.output_height;
    out->components = cinfo.output_components;
    const size_t stride = size_t{cinfo.output_width} * 3;
    out->rgb.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->rgb.data() + size_t{cinfo.output_scanline} * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out->ok = true;
}

Decoded Decode(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    Decoded decoded;
    DecodeInto(bytes.data() + offset, bytes.size() - offset, &decoded);
    return decoded;
}

TEST(JpegSaveTest, DecodesToTheImageAsBaseline420) {
    const Image image = Gradient(37, 23);  // neither dimension a multiple of the 16-pixel MCU
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, 90, jpeg));
    const Decoded decoded = Decode(jpeg);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, 37u);
    EXPECT_EQ(decoded.height, 23u);
    EXPECT_EQ(decoded.components, 3);
    EXPECT_FALSE(decoded.progressive);
    EXPECT_EQ(decoded.sampling[0][0], 2);
    EXPECT_EQ(decoded.sampling[0][1], 2);
    EXPECT_EQ(decoded.sampling[1][0], 1);
    EXPECT_EQ(decoded.sampling[2][1], 1);
    // Close to the source: swapped channels or skewed rows would be far off.
    ASSERT_EQ(decoded.rgb.size(), image.rgb.size());
    double error = 0;
    for (size_t i = 0; i < image.rgb.size(); ++i) {
        error += std::abs(int{decoded.rgb[i]} - int{image.rgb[i]});
    }
    EXPECT_LT(error / static_cast<double>(image.rgb.size()), 4.0);
}

TEST(JpegSaveTest, ASaveReplacesTheBytesAndReusesTheMemory) {
    const Image image = Noise(256, 256);  // well over one 16 KiB chunk of output
    std::vector<uint8_t> jpeg{'a', 'b', 'c'};
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, 95, jpeg));
    const std::vector<uint8_t> first = jpeg;
    ASSERT_GT(first.size(), 3u * 16384);
    EXPECT_EQ(first[0], 0xFF);
    EXPECT_EQ(first[1], 0xD8);  // start of image: the old bytes are gone
    EXPECT_EQ(first[first.size() - 2], 0xFF);
    EXPECT_EQ(first.back(), 0xD9);  // the last partial chunk was flushed
    EXPECT_TRUE(Decode(first).ok);

    // Saved again, the same image gives the same bytes in the same memory.
    const uint8_t* memory = jpeg.data();
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, 95, jpeg));
    EXPECT_EQ(jpeg, first);
    EXPECT_EQ(jpeg.data(), memory);

    std::vector<uint8_t> low;
    ASSERT_TRUE(PlatformImaging().SaveJpeg(image, 10, low));
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
        EXPECT_FALSE(imaging.SaveJpeg(image, 50, jpeg)) << image.width << " x " << image.height;
    }
    // The encoder keeps nothing from a failed save.
    ASSERT_TRUE(imaging.SaveJpeg(Noise(64, 64), 95, jpeg));
    EXPECT_TRUE(Decode(jpeg).ok);
}

}  // namespace
}  // namespace tallox

// Writes the small test images beside itself (see README.md): one pattern in every layout the
// image input reads, so a test knows every sample value. Built and run by hand:
//   g++ -std=c++20 -fPIC make_images.cpp -o /tmp/make_images $(pkg-config --cflags --libs Qt6Gui)
//   /tmp/make_images tests/data/images
#include <QColor>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 7;
constexpr int kHeight = 5;

// Every channel differs by position and from the others, so swapped channels, mirrored rows and
// row padding show.
int Red(int x, int) { return 3 + 36 * x; }
int Green(int, int y) { return 5 + 50 * y; }
int Blue(int x, int y) { return 250 - 20 * (x + y); }
int Alpha(int x, int y) { return 255 - 25 * x - 10 * y; }
int Grey(int x, int y) { return 10 + 30 * x + 7 * y; }

QString g_folder;

void Save(const QImage& image, const char* name, const char* format, int quality = -1) {
    QImageWriter writer(g_folder + "/" + name, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(writer.errorString()));
        std::exit(1);
    }
}

void WriteBytes(const char* name, const std::vector<uint8_t>& bytes) {
    QFile file(g_folder + "/" + name);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size()) !=
            static_cast<qint64>(bytes.size())) {
        std::fprintf(stderr, "%s: not written\n", name);
        std::exit(1);
    }
}

QImage Rgb() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            image.setPixel(x, y, qRgb(Red(x, y), Green(x, y), Blue(x, y)));
        }
    }
    return image;
}

QImage Rgba() {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            image.setPixel(x, y, qRgba(Red(x, y), Green(x, y), Blue(x, y), Alpha(x, y)));
        }
    }
    return image;
}

QImage Grey() {
    QImage image(kWidth, kHeight, QImage::Format_Grayscale8);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            image.scanLine(y)[x] = static_cast<uchar>(Grey(x, y));
        }
    }
    return image;
}

// 16-bit samples whose low byte is 0xFF: rounding to 8 bits gives another value than cutting
// the low byte off wherever the high byte is below 127.
QImage Grey16() {
    QImage image(kWidth, kHeight, QImage::Format_Grayscale16);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<quint16*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            row[x] = static_cast<quint16>(Grey(x, y) * 256 + 255);
        }
    }
    return image;
}

QImage Rgba16() {
    QImage image(kWidth, kHeight, QImage::Format_RGBA64);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgba64*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            row[x] = qRgba64(Red(x, y) * 256 + 255, Green(x, y) * 256 + 255, Blue(x, y) * 256 + 255,
                             Alpha(x, y) * 256 + 255);
        }
    }
    return image;
}

// An 8-bit palette of the pattern's own colours, one entry per pixel.
QImage Palette(bool grey) {
    QImage image(kWidth, kHeight, QImage::Format_Indexed8);
    QList<QRgb> colours;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int g = Grey(x, y);
            colours.append(grey ? qRgb(g, g, g) : qRgb(Red(x, y), Green(x, y), Blue(x, y)));
            image.scanLine(y)[x] = static_cast<uchar>(y * kWidth + x);
        }
    }
    image.setColorTable(colours);
    return image;
}

// Two flat 8 x 8 blocks, which JPEG keeps within a step or two of their values.
QImage Blocks(QImage::Format format) {
    QImage image(16, 8, format);
    image.fill(QColor(200, 40, 90));
    for (int y = 0; y < 8; ++y) {
        for (int x = 8; x < 16; ++x) {
            image.setPixel(x, y, qRgb(30, 160, 220));
        }
    }
    return image.convertToFormat(format);
}

// A GIF of the pattern's 35 colours, with `transparent` (or no) palette entry transparent.
// The LZW codes are written with 7-bit roots and 8-bit codes: 35 pixels add entries up to
// 164 only, so every code stays 8 bits wide and each byte of the data is one code.
std::vector<uint8_t> Gif(int transparent) {
    std::vector<uint8_t> gif = {'G',  'I', 'F', '8', '9', 'a', kWidth, 0, kHeight, 0,
                                0xF6,  // a global table of 2^(6 + 1) = 128 entries
                                0,    0};
    for (int i = 0; i < 128; ++i) {
        const int x = i % kWidth;
        const int y = i / kWidth;
        const bool used = i < kWidth * kHeight;
        gif.push_back(used ? static_cast<uint8_t>(Red(x, y)) : 0);
        gif.push_back(used ? static_cast<uint8_t>(Green(x, y)) : 0);
        gif.push_back(used ? static_cast<uint8_t>(Blue(x, y)) : 0);
    }
    if (transparent >= 0) {  // graphic control: transparency flag and its index
        gif.insert(gif.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<uint8_t>(transparent), 0});
    }
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, kWidth, 0, kHeight, 0, 0, 7});
    std::vector<uint8_t> codes = {128};  // clear
    for (int i = 0; i < kWidth * kHeight; ++i) {
        codes.push_back(static_cast<uint8_t>(i));
    }
    codes.push_back(129);  // end of information
    gif.push_back(static_cast<uint8_t>(codes.size()));
    gif.insert(gif.end(), codes.begin(), codes.end());
    gif.insert(gif.end(), {0, 0x3B});  // block terminator, trailer
    return gif;
}

std::vector<uint8_t> Text(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

void Append16(std::vector<uint8_t>& bytes, int value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

// PAM, which Qt does not write: RGB_ALPHA at 8 bits and GRAYSCALE at 16.
std::vector<uint8_t> PamRgba() {
    std::vector<uint8_t> pam =
        Text("P7\nWIDTH 7\nHEIGHT 5\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n");
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            pam.insert(pam.end(),
                       {static_cast<uint8_t>(Red(x, y)), static_cast<uint8_t>(Green(x, y)),
                        static_cast<uint8_t>(Blue(x, y)), static_cast<uint8_t>(Alpha(x, y))});
        }
    }
    return pam;
}

std::vector<uint8_t> PamGrey16() {
    std::vector<uint8_t> pam = Text(
        "P7\n# a comment\nWIDTH 7\nHEIGHT 5\nDEPTH 1\nMAXVAL 65535\nTUPLTYPE GRAYSCALE\nENDHDR\n");
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            Append16(pam, Grey(x, y) * 256 + 255);
        }
    }
    return pam;
}

// A PNG that declares 100,000 x 100,000 RGB pixels (30 GB decoded) in 65 bytes: its header,
// one empty image data chunk and the end chunk, each with its CRC.
std::vector<uint8_t> PngBomb() {
    auto crc = [](const uint8_t* data, size_t size) {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < size; ++i) {
            c ^= data[i];
            for (int k = 0; k < 8; ++k) {
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
            }
        }
        return ~c;
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        const uint32_t length = static_cast<uint32_t>(data.size());
        for (int shift = 24; shift >= 0; shift -= 8) png.push_back(uint8_t(length >> shift));
        const size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        const uint32_t sum = crc(png.data() + start, png.size() - start);
        for (int shift = 24; shift >= 0; shift -= 8) png.push_back(uint8_t(sum >> shift));
    };
    constexpr uint32_t kSide = 100000;
    std::vector<uint8_t> header;
    for (int i = 0; i < 2; ++i) {
        for (int shift = 24; shift >= 0; shift -= 8) header.push_back(uint8_t(kSide >> shift));
    }
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    chunk("IHDR", header);
    chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});  // an empty zlib stream
    chunk("IEND", {});
    return png;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_images FOLDER\n");
        return 2;
    }
    g_folder = QString::fromLocal8Bit(argv[1]);

    Save(Rgb().convertToFormat(QImage::Format_RGB888), "rgb-7x5.bmp", "bmp");
    Save(Palette(false), "pal-7x5.bmp", "bmp");
    Save(Palette(true), "grey-7x5.bmp", "bmp");

    QImage one(1, 1, QImage::Format_RGB32);
    one.setPixel(0, 0, qRgb(12, 34, 56));
    Save(one, "rgb-1x1.png", "png");
    Save(Rgb(), "rgb-7x5.png", "png");
    Save(Rgba(), "rgba-7x5.png", "png");
    Save(Grey(), "grey-7x5.png", "png");
    Save(Grey16(), "grey16-7x5.png", "png");
    Save(Rgba16(), "rgba16-7x5.png", "png");
    Save(Palette(false), "pal-7x5.png", "png");
    WriteBytes("bomb-100000x100000.png", PngBomb());

    Save(Rgb(), "rgb-7x5.ppm", "ppm");
    Save(Grey(), "grey-7x5.pgm", "pgm");
    WriteBytes("rgba-7x5.pam", PamRgba());
    WriteBytes("grey16-7x5.pam", PamGrey16());

    Save(Blocks(QImage::Format_RGB32), "rgb-16x8.jpg", "jpeg", 95);
    Save(Blocks(QImage::Format_Grayscale8), "grey-16x8.jpg", "jpeg", 95);

    Save(Rgb(), "rgb-7x5.tif", "tiff");
    Save(Rgba(), "rgba-7x5.tif", "tiff");

    Save(Rgb(), "rgb-7x5.webp", "webp", 100);  // 100 is lossless
    Save(Rgba(), "rgba-7x5.webp", "webp", 100);

    WriteBytes("pal-7x5.gif", Gif(-1));
    WriteBytes("pal-alpha-7x5.gif", Gif(3));
    return 0;
}

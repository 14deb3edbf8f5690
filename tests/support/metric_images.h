// The metric tests' image pairs (tests/data/metrics), loaded as 24-bit RGB.
#pragma once
#include <QImage>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace tallox::test {

struct Rgb {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bytes;
};

// For test executables, which define TALLOX_SOURCE_DIR.
inline Rgb LoadMetricImage(const std::string& name) {
    const QImage image =
        QImage(QString::fromStdString(TALLOX_SOURCE_DIR "/tests/data/metrics/" + name))
            .convertToFormat(QImage::Format_RGB888);
    Rgb rgb{static_cast<uint32_t>(image.width()), static_cast<uint32_t>(image.height()), {}};
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* line = image.constScanLine(y);
        rgb.bytes.insert(rgb.bytes.end(), line, line + size_t{rgb.width} * 3);
    }
    return rgb;
}

}  // namespace tallox::test

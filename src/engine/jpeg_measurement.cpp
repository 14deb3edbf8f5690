#include "engine/jpeg_measurement.h"

#include <cstdio>
#include <cstring>

#include "engine/codec.h"
#include "engine/image_quality.h"

namespace tallox {

std::vector<JpegRow> JpegRows(const BenchmarkSettings& settings) {
    const std::vector<int32_t> qualities = settings.jpegQualities.empty()
                                               ? std::vector<int32_t>{settings.jpegQuality}
                                               : settings.jpegQualities;
    const std::vector<Subsampling> subsamplings = settings.jpegSubsamplings.empty()
                                                      ? std::vector<Subsampling>{Subsampling::k420}
                                                      : settings.jpegSubsamplings;
    const bool sweep = qualities.size() * subsamplings.size() > 1;
    std::vector<JpegRow> rows;
    for (const Subsampling subsampling : subsamplings) {
        for (const int32_t quality : qualities) {
            JpegRow& row = rows.emplace_back();
            row.options = {quality, subsampling, settings.jpegProgressive, settings.jpegOptimize};
            if (!sweep) {
                row.label = "JPEG GDI+\t";
                continue;
            }
            char name[32];
            std::snprintf(name, sizeof name, "JPEG q%d%s%s", static_cast<int>(quality),
                          subsamplings.size() > 1 ? " " : "",
                          subsamplings.size() > 1 ? SubsamplingName(subsampling) : "");
            // 7 to 13 characters: tabs up to the second tab stop, where the figures start.
            row.label = TabbedLabel(name);
        }
    }
    return rows;
}

std::vector<double> JpegValues(const JpegOptions& options) {
    const double subsampling = options.subsampling == Subsampling::k444   ? 444
                               : options.subsampling == Subsampling::k422 ? 422
                                                                          : 420;
    return {static_cast<double>(options.quality), subsampling, options.progressive ? 1.0 : 0.0,
            options.optimize ? 1.0 : 0.0};
}

void AddQualityMetrics(Row& row, const Image& image, const uint8_t* decoded) {
    Image other;
    other.width = image.width;
    other.height = image.height;
    other.rgb.assign(decoded, decoded + image.rgb.size());
    row.psnrRgb = PsnrRgb(image, other);
    row.psnrY = PsnrY(image, other);
    row.ssim = SsimY(image, other);
}

}  // namespace tallox

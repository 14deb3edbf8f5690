// Charts of a run's rows, painted with QPainter onto any paint device: an SVG or PNG file, or a
// window. A run has the ratio-against-speed chart, and as its rows allow: a rate-distortion
// chart per quality metric (bits per pixel against the figure, a curve per lossy codec through
// its settings), the lossy codecs' encode speed at matched quality, and the speed-up of the
// codecs measured at several thread counts. The same rows and title always give the same
// picture, and the same file bytes.
#pragma once
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/run_host.h"

class QPainter;

namespace tallox {

struct SpeedRatio {
    double speed;
    double ratio;
};

// The points no other point beats, that is none is at least as fast and compresses at least as
// well and is better in one of the two; ordered by speed, slowest first (equal points by index).
std::vector<size_t> ParetoFront(std::span<const SpeedRatio> points);

// Each chart's size: 800 x 500.
inline constexpr QSize kChartSize{800, 500};

// The codec whose curves the rate-distortion charts draw heaviest, the one the others are
// read against.
inline constexpr char kReferenceCodec[] = "jpeg";

enum class ChartKind : uint8_t {
    Speed,           // compression ratio against encode MB/s; the lossless codecs' Pareto front
    RateDistortion,  // a quality figure against bits per pixel (log scale)
    SpeedAtQuality,  // encode MP/s against the bits per pixel that reach set quality levels
    Scaling,         // speed-up over one thread against the thread count
};

enum class QualityMetric : uint8_t { Ssimulacra2, Butteraugli3Norm, ButteraugliMax, PsnrY, Ssim };

// One chart a run's rows can give.
struct ChartPage {
    ChartKind kind = ChartKind::Speed;
    QualityMetric metric = QualityMetric::Ssimulacra2;  // of the two quality charts
    std::string suffix;  // its file's suffix: "" (the speed chart), "rd-psnr", "scaling", ...
    QString name;        // for a chooser: "Ratio against speed", "Rate-distortion: PSNR (Y)"
};

// The speed chart first, then, in this order, those the rows have data for: a
// rate-distortion chart per metric for which a lossy codec has two settings or more
// (SSIMULACRA2, Butteraugli 3-norm, Butteraugli max, PSNR, SSIM), the speed at matched quality
// when a codec's curve reaches one of its levels, and the scaling chart when a codec ran at one
// thread and at more.
std::vector<ChartPage> ChartPages(std::span<const Row> rows);

// The file of `page` beside `path`: "run.svg" for the speed chart, "run-rd-psnr.svg" for PSNR.
std::string ChartPath(const std::string& path, const ChartPage& page);

// The chart in a kChartSize area at the painter's origin. Rows from many files (a corpus) are
// drawn as the mean per setting: arithmetic means of bpp and of the quality figure, geometric
// means of the speeds.
void PaintChart(QPainter& painter, const ChartPage& page, std::span<const Row> rows,
                const QString& title, const std::string& reference = kReferenceCodec);

// "wood-512x512.bmp on <the processor>".
QString ChartTitle(const std::string& inputName);

// The chart written as SVG when the path ends in ".svg", else as PNG; false when the file
// cannot be written.
bool WriteChart(const std::string& path, const ChartPage& page, std::span<const Row> rows,
                const QString& title, const std::string& reference = kReferenceCodec);

}  // namespace tallox

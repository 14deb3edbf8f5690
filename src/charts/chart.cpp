#include "charts/chart.h"

#include <QBuffer>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <optional>

#include "platform/system_info.h"

namespace tallox {
namespace {

// The plot area inside a chart: room for the title above, tick labels and axis titles below
// and to the left.
constexpr double kLeft = 72;
constexpr double kRight = 24;
constexpr double kTop = 58;
constexpr double kBottom = 52;

const QColor kInk(0x20, 0x20, 0x20);
const QColor kGrid(0xDD, 0xDD, 0xDD);
const QColor kPoint(0x4C, 0x72, 0xB0);
const QColor kFront(0xDD, 0x84, 0x52);
const QColor kReference(0x80, 0x80, 0x80);

QFont ChartFont(double pixels, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(static_cast<int>(pixels));
    font.setBold(bold);
    return font;
}

// One axis, linear or logarithmic, over [lo, hi] mapped onto the pixels [from, to].
struct Axis {
    double lo = 0;
    double hi = 1;
    bool log = false;
    double from = 0;
    double to = 1;

    double Map(double v) const {
        const double t = log ? (std::log10(v) - std::log10(lo)) / (std::log10(hi) - std::log10(lo))
                             : (v - lo) / (hi - lo);
        return from + t * (to - from);
    }

    // Round values inside the range: 1, 2 and 5 per decade on a log axis when that gives three
    // or more, else about six steps of 1, 2 or 5 times a power of ten.
    std::vector<double> Ticks() const {
        std::vector<double> ticks;
        if (log) {
            for (double decade = std::pow(10.0, std::floor(std::log10(lo))); decade <= hi;
                 decade *= 10) {
                for (const double m : {1.0, 2.0, 5.0}) {
                    if (m * decade >= lo && m * decade <= hi) {
                        ticks.push_back(m * decade);
                    }
                }
            }
            if (ticks.size() >= 3) {
                return ticks;
            }
            ticks.clear();  // a narrow range: even steps, as on a linear axis
        }
        const double step = NiceStep((hi - lo) / 6);
        for (double v = std::ceil(lo / step - 1e-9) * step; v <= hi + step * 1e-9; v += step) {
            ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
        }
        return ticks;
    }

    static double NiceStep(double rough) {
        const double power = std::pow(10.0, std::floor(std::log10(rough)));
        for (const double m : {1.0, 2.0, 5.0}) {
            if (m * power >= rough) {
                return m * power;
            }
        }
        return 10 * power;
    }
};

// A linear axis over the values with a little room around them, its ends on round steps;
// `floor` keeps the low end from going under it.
Axis LinearAxis(double lo, double hi, double floor) {
    if (hi <= lo) {
        lo -= 0.5;
        hi += 0.5;
    }
    const double step = Axis::NiceStep((hi - lo) / 6);
    return {std::max(floor, std::floor(lo / step - 0.25) * step),
            std::ceil(hi / step + 0.25) * step, false};
}

// A log axis over the values with a little room at either end, so that no point sits on the
// frame.
Axis LogAxis(double lo, double hi) {
    const double pad = hi > lo ? std::pow(hi / lo, 0.05) : 2.0;
    return {lo / pad, hi * pad, true};
}

// Plain digits, never an exponent: "0.5", "20000".
QString TickText(double v) { return QString::number(v, 'g', 9); }

// The frame of a plot: grid, ticks, tick labels and axis titles.
void PaintAxes(QPainter& painter, const Axis& x, const Axis& y, const QString& xTitle,
               const QString& yTitle) {
    const QRectF plot(QPointF(x.from, y.to), QPointF(x.to, y.from));
    painter.setFont(ChartFont(11));
    const QFontMetricsF metrics(painter.font());
    // A tick label that would run into the one before it is left out; its grid line stays.
    double labelEnd = -1e9;
    for (const double v : x.Ticks()) {
        const double px = x.Map(v);
        painter.setPen(QPen(kGrid, 1));
        painter.drawLine(QPointF(px, plot.top()), QPointF(px, plot.bottom()));
        const QString text = TickText(v);
        const double left = px - metrics.horizontalAdvance(text) / 2;
        if (left > labelEnd + 6) {
            painter.setPen(kInk);
            painter.drawText(QPointF(left, plot.bottom() + 4 + metrics.ascent()), text);
            labelEnd = left + metrics.horizontalAdvance(text);
        }
    }
    for (const double v : y.Ticks()) {
        const double py = y.Map(v);
        painter.setPen(QPen(kGrid, 1));
        painter.drawLine(QPointF(plot.left(), py), QPointF(plot.right(), py));
        painter.setPen(kInk);
        const QString text = TickText(v);
        painter.drawText(QPointF(plot.left() - 6 - metrics.horizontalAdvance(text),
                                 py + metrics.ascent() / 2 - 1),
                         text);
    }
    painter.setPen(QPen(kInk, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    painter.setFont(ChartFont(12));
    const QFontMetricsF titleMetrics(painter.font());
    painter.drawText(QPointF(plot.center().x() - titleMetrics.horizontalAdvance(xTitle) / 2,
                             plot.bottom() + 24 + titleMetrics.ascent()),
                     xTitle);
    painter.save();
    painter.translate(plot.left() - 52,
                      plot.center().y() + titleMetrics.horizontalAdvance(yTitle) / 2);
    painter.rotate(-90);
    painter.drawText(QPointF(0, 0), yTitle);
    painter.restore();
}

void PaintTitle(QPainter& painter, double width, const QString& title, const QString& subtitle) {
    painter.setPen(kInk);
    painter.setFont(ChartFont(15, true));
    QFontMetricsF metrics(painter.font());
    const QString shown = metrics.elidedText(title, Qt::ElideMiddle, width - 20);
    painter.drawText(QPointF((width - metrics.horizontalAdvance(shown)) / 2, 8 + metrics.ascent()),
                     shown);
    painter.setFont(ChartFont(12));
    metrics = QFontMetricsF(painter.font());
    painter.drawText(
        QPointF((width - metrics.horizontalAdvance(subtitle)) / 2, 30 + metrics.ascent()),
        subtitle);
}

// The row's label without its tabs: "JPEG q30", "LZ77 Fast".
QString ShortLabel(const Row& row) {
    return QString::fromStdString(row.label).replace(QLatin1Char('\t'), QLatin1Char(' ')).trimmed();
}

bool Plottable(double v) { return std::isfinite(v) && v > 0; }

// Places each label beside its point where it overlaps no other label, no marker and nothing
// outside the plot; the first place that fits, in a fixed order, so the layout is the same on
// every run. A label with no such place is left out.
class LabelPlacer {
public:
    LabelPlacer(const QRectF& plot, std::vector<QRectF> markers)
        : plot_(plot), taken_(std::move(markers)) {}

    std::optional<QRectF> Place(QPointF point, QSizeF size, double gap) {
        const double w = size.width();
        const double h = size.height();
        const QPointF corners[] = {
            {point.x() + gap, point.y() - h / 2},       {point.x() - gap - w, point.y() - h / 2},
            {point.x() - w / 2, point.y() - gap - h},   {point.x() - w / 2, point.y() + gap},
            {point.x() + gap, point.y() - gap - h},     {point.x() + gap, point.y() + gap},
            {point.x() - gap - w, point.y() - gap - h}, {point.x() - gap - w, point.y() + gap},
        };
        for (const QPointF& corner : corners) {
            const QRectF rect(corner, size);
            if (!plot_.contains(rect)) {
                continue;
            }
            if (std::none_of(taken_.begin(), taken_.end(),
                             [&](const QRectF& other) { return other.intersects(rect); })) {
                taken_.push_back(rect);
                return rect;
            }
        }
        return std::nullopt;
    }

private:
    QRectF plot_;
    std::vector<QRectF> taken_;
};

QRectF MarkerRect(QPointF centre, double radius) {
    return {centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius};
}

void PaintSpeedChartAt(QPainter& painter, std::span<const Row> rows, const QString& title) {
    const double width = kChartSize.width();
    const double height = kChartSize.height();
    PaintTitle(painter, width, title,
               QStringLiteral("Compression ratio against encode speed (median call); "
                              "the line joins the Pareto front"));

    std::vector<const Row*> points;
    const Row* baseline = nullptr;
    for (const Row& row : rows) {
        if (row.yardstick) {
            baseline = Plottable(row.mbpsMedian) ? &row : nullptr;
        } else if (Plottable(row.mbpsMedian) && Plottable(row.ratio)) {
            points.push_back(&row);
        }
    }
    if (points.empty()) {
        painter.setFont(ChartFont(12));
        painter.drawText(QRectF(0, 0, width, height), Qt::AlignCenter,
                         QStringLiteral("No measured rows"));
        return;
    }
    double speedLo = points[0]->mbpsMedian, speedHi = speedLo;
    double ratioLo = points[0]->ratio, ratioHi = ratioLo;
    for (const Row* row : points) {
        speedLo = std::min(speedLo, row->mbpsMedian);
        speedHi = std::max(speedHi, row->mbpsMedian);
        ratioLo = std::min(ratioLo, row->ratio);
        ratioHi = std::max(ratioHi, row->ratio);
    }
    if (baseline != nullptr) {
        speedLo = std::min(speedLo, baseline->mbpsMedian);
        speedHi = std::max(speedHi, baseline->mbpsMedian);
    }
    Axis x = LogAxis(speedLo, speedHi);
    // Ratios far apart (JPEG beside the lossless codecs) are read on a log scale too.
    const bool logRatio = ratioHi / ratioLo >= 10;
    Axis y = logRatio ? LogAxis(ratioLo, ratioHi) : LinearAxis(ratioLo, ratioHi, 0);
    x.from = kLeft;
    x.to = width - kRight;
    y.from = height - kBottom;
    y.to = kTop;
    PaintAxes(painter, x, y, QStringLiteral("Encode speed, MB/s (log scale)"),
              logRatio ? QStringLiteral("Compression ratio (log scale)")
                       : QStringLiteral("Compression ratio"));
    const QRectF plot(QPointF(x.from, y.to), QPointF(x.to, y.from));

    painter.setFont(ChartFont(11));
    const QFontMetricsF metrics(painter.font());
    std::vector<QRectF> taken;
    if (baseline != nullptr) {
        const double px = x.Map(baseline->mbpsMedian);
        painter.setPen(QPen(kReference, 1.5, Qt::DashLine));
        painter.drawLine(QPointF(px, plot.top()), QPointF(px, plot.bottom()));
        const QString text = QStringLiteral("memcpy");
        const QRectF rect(px - metrics.horizontalAdvance(text) - 4, plot.top() + 4,
                          metrics.horizontalAdvance(text), metrics.height());
        painter.setPen(kReference);
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop, text);
        taken.push_back(rect);
    }

    std::vector<SpeedRatio> values;
    std::vector<QPointF> centres;
    for (const Row* row : points) {
        values.push_back({row->mbpsMedian, row->ratio});
        centres.emplace_back(x.Map(row->mbpsMedian), y.Map(row->ratio));
    }
    const std::vector<size_t> front = ParetoFront(values);
    std::vector<bool> onFront(points.size(), false);
    for (const size_t i : front) {
        onFront[i] = true;
    }
    constexpr double kRadius = 4;
    constexpr double kFrontRadius = 6;
    for (size_t i = 0; i < points.size(); ++i) {
        taken.push_back(MarkerRect(centres[i], onFront[i] ? kFrontRadius : kRadius));
    }

    QPolygonF line;
    for (const size_t i : front) {
        line << centres[i];
    }
    painter.setPen(QPen(kFront, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);
    for (size_t i = 0; i < points.size(); ++i) {
        if (onFront[i]) {
            continue;
        }
        painter.setPen(QPen(kPoint.darker(130), 1));
        painter.setBrush(kPoint);
        painter.drawEllipse(centres[i], kRadius, kRadius);
    }
    for (const size_t i : front) {
        painter.setPen(QPen(kInk, 1.5));
        painter.setBrush(kFront);
        painter.drawEllipse(centres[i], kFrontRadius, kFrontRadius);
    }

    // The front's labels first: they matter most when room runs out.
    std::vector<size_t> order = front;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!onFront[i]) {
            order.push_back(i);
        }
    }
    LabelPlacer placer(plot.adjusted(2, 2, -2, -2), std::move(taken));
    for (const size_t i : order) {
        const QString text = ShortLabel(*points[i]);
        const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
        if (const std::optional<QRectF> rect = placer.Place(centres[i], size, 9)) {
            painter.setPen(onFront[i] ? kInk : kPoint.darker(150));
            painter.drawText(*rect, Qt::AlignLeft | Qt::AlignTop, text);
        }
    }
}

QColor SubsamplingColour(Subsampling subsampling) {
    switch (subsampling) {
        case Subsampling::k444:
            return {0x4C, 0x72, 0xB0};
        case Subsampling::k422:
            return {0x55, 0xA8, 0x68};
        case Subsampling::k420:
            break;
    }
    return {0xDD, 0x84, 0x52};
}

QString SubsamplingText(Subsampling subsampling) {
    const char* name = SubsamplingName(subsampling);  // "420": "4:2:0"
    return QString::fromLatin1(name, 1) + QLatin1Char(':') + QLatin1Char(name[1]) +
           QLatin1Char(':') + QLatin1Char(name[2]);
}

// One plot of chart 2: a figure of every sweep row against its bits per pixel, a curve per
// subsampling, in `area`.
void PaintQualityPlot(QPainter& painter, const QRectF& area,
                      const std::map<Subsampling, std::vector<std::pair<double, double>>>& curves,
                      const QString& yTitle, double yCeiling) {
    double xHi = 0, yLo = 0, yHi = 0;
    bool first = true;
    for (const auto& [subsampling, curve] : curves) {
        for (const auto& [bpp, value] : curve) {
            xHi = std::max(xHi, bpp);
            yLo = first ? value : std::min(yLo, value);
            yHi = first ? value : std::max(yHi, value);
            first = false;
        }
    }
    Axis x = LinearAxis(0, xHi, 0);
    Axis y = LinearAxis(yLo, yHi, 0);
    y.hi = std::min(y.hi, yCeiling);
    x.from = area.left();
    x.to = area.right();
    y.from = area.bottom();
    y.to = area.top();
    PaintAxes(painter, x, y, QStringLiteral("Bits per pixel"), yTitle);
    for (const auto& [subsampling, curve] : curves) {
        QPolygonF line;
        for (const auto& [bpp, value] : curve) {
            line << QPointF(x.Map(bpp), y.Map(value));
        }
        const QColor colour = SubsamplingColour(subsampling);
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(line);
        painter.setPen(QPen(colour.darker(140), 1));
        painter.setBrush(colour);
        for (const QPointF& point : line) {
            painter.drawEllipse(point, 3.5, 3.5);
        }
    }
}

void PaintQualityChart(QPainter& painter, std::span<const Row> rows, const QString& title) {
    const double width = kChartSize.width();
    const double height = kChartSize.height();
    PaintTitle(painter, width, title,
               QStringLiteral("JPEG quality sweep: PSNR and SSIM of luma against bits per pixel"));
    std::map<Subsampling, std::vector<std::pair<double, double>>> psnr, ssim;
    for (const Row& row : rows) {
        if (!row.jpeg || !row.bpp) {
            continue;
        }
        if (row.psnrY && std::isfinite(*row.psnrY)) {
            psnr[row.jpeg->subsampling].emplace_back(*row.bpp, *row.psnrY);
        }
        if (row.ssim) {
            ssim[row.jpeg->subsampling].emplace_back(*row.bpp, *row.ssim);
        }
    }
    for (auto* curves : {&psnr, &ssim}) {
        for (auto& [subsampling, curve] : *curves) {
            std::sort(curve.begin(), curve.end());
        }
    }
    const double half = (width - kLeft - kRight - kLeft) / 2;
    PaintQualityPlot(painter, QRectF(kLeft, kTop + 10, half, height - kTop - 10 - kBottom), psnr,
                     QStringLiteral("PSNR (Y), dB"), std::numeric_limits<double>::infinity());
    PaintQualityPlot(painter,
                     QRectF(kLeft + half + kLeft, kTop + 10, half, height - kTop - 10 - kBottom),
                     ssim, QStringLiteral("SSIM (Y)"), 1.0);

    // The legend: one entry per subsampling, top centre.
    painter.setFont(ChartFont(11));
    const QFontMetricsF metrics(painter.font());
    std::vector<Subsampling> modes;
    for (const auto* curves : {&psnr, &ssim}) {
        for (const auto& [subsampling, curve] : *curves) {
            if (std::find(modes.begin(), modes.end(), subsampling) == modes.end()) {
                modes.push_back(subsampling);
            }
        }
    }
    std::sort(modes.begin(), modes.end());
    double px = width - kRight - 90.0 * static_cast<double>(modes.size());
    for (const Subsampling subsampling : modes) {
        const double py = kTop - 2;
        painter.setPen(QPen(SubsamplingColour(subsampling), 2));
        painter.drawLine(QPointF(px, py), QPointF(px + 18, py));
        painter.setPen(kInk);
        painter.drawText(QPointF(px + 22, py + metrics.ascent() / 2 - 1),
                         SubsamplingText(subsampling));
        px += 90;
    }
}

}  // namespace

std::vector<size_t> ParetoFront(std::span<const SpeedRatio> points) {
    std::vector<size_t> order(points.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // Fastest first, then the better ratio, then the later index, so that the reversed front
    // runs slowest first with equal points by index.
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (points[a].speed != points[b].speed) {
            return points[a].speed > points[b].speed;
        }
        if (points[a].ratio != points[b].ratio) {
            return points[a].ratio > points[b].ratio;
        }
        return a > b;
    });
    // A point is beaten when one before it in this order has a better ratio, or an equal ratio
    // at a higher speed; an equal point does not beat it.
    std::vector<size_t> front;
    for (const size_t i : order) {
        if (front.empty() || points[i].ratio > points[front.back()].ratio ||
            (points[i].ratio == points[front.back()].ratio &&
             points[i].speed == points[front.back()].speed)) {
            front.push_back(i);
        }
    }
    std::reverse(front.begin(), front.end());
    return front;
}

bool HasQualitySweep(std::span<const Row> rows) {
    return std::count_if(rows.begin(), rows.end(),
                         [](const Row& row) { return row.jpeg && row.bpp && row.psnrY; }) >= 2;
}

QSize ChartsSize(std::span<const Row> rows) {
    return HasQualitySweep(rows) ? QSize(kChartSize.width(), 2 * kChartSize.height()) : kChartSize;
}

void PaintSpeedChart(QPainter& painter, std::span<const Row> rows, const QString& title) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRectF(QPointF(0, 0), kChartSize), Qt::white);
    PaintSpeedChartAt(painter, rows, title);
    painter.restore();
}

void PaintCharts(QPainter& painter, std::span<const Row> rows, const QString& title) {
    PaintSpeedChart(painter, rows, title);
    if (HasQualitySweep(rows)) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(0, kChartSize.height());
        painter.fillRect(QRectF(QPointF(0, 0), kChartSize), Qt::white);
        PaintQualityChart(painter, rows, title);
        painter.restore();
    }
}

QString ChartTitle(const std::string& inputName) {
    return QStringLiteral("%1 on %2")
        .arg(QString::fromLocal8Bit(inputName), QString::fromStdString(QueryMachine().cpuModel));
}

bool WriteChartSvg(const std::string& path, std::span<const Row> rows, const QString& title) {
    // Painted into memory first, so that a file that cannot be written is known before it is
    // made, and nothing half-written is left.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const QSize size = ChartsSize(rows);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(title);
    generator.setDescription(QStringLiteral("Tallox"));
    generator.setResolution(96);
    {
        QPainter painter(&generator);
        PaintCharts(painter, rows, title);
    }
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(buffer.data()) == buffer.data().size() && file.flush();
}

bool WriteChartPng(const std::string& path, std::span<const Row> rows, const QString& title) {
    QImage image(ChartsSize(rows), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        PaintCharts(painter, rows, title);
    }
    return image.save(QString::fromLocal8Bit(path), "PNG");
}

}  // namespace tallox

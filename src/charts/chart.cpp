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

#include "engine/bd_rate.h"
#include "engine/codec.h"
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
const QColor kLossy(0x81, 0x72, 0xB3);
// The curves' colours, in the order the codecs' names sort; the reference codec's is kInk.
const QColor kPalette[] = {{0x4C, 0x72, 0xB0}, {0xDD, 0x84, 0x52}, {0x55, 0xA8, 0x68},
                           {0xC4, 0x4E, 0x52}, {0x81, 0x72, 0xB3}, {0x93, 0x78, 0x60},
                           {0xDA, 0x8B, 0xC3}, {0x8C, 0x8C, 0x8C}, {0xCC, 0xB9, 0x74},
                           {0x64, 0xB5, 0xCD}};

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
    double minStep = 0;  // 1 for an axis of whole numbers, such as thread counts

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
        const double step = std::max(minStep, NiceStep((hi - lo) / 6));
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

// A lossy codec's row: its codec says so, and a JPEG row has its settings even in a corpus's
// summary.
bool IsLossy(const Row& row) {
    const CodecEntry* entry = DefaultRegistry().Find(row.codec);
    return row.jpeg.has_value() || (entry != nullptr && entry->info.lossy);
}

void PaintMessage(QPainter& painter, const QString& text) {
    painter.setPen(kInk);
    painter.setFont(ChartFont(12));
    painter.drawText(QRectF(QPointF(0, 0), kChartSize), Qt::AlignCenter, text);
}

QPolygonF Diamond(QPointF centre, double radius) {
    return QPolygonF(
        {QPointF(centre.x(), centre.y() - radius), QPointF(centre.x() + radius, centre.y()),
         QPointF(centre.x(), centre.y() + radius), QPointF(centre.x() - radius, centre.y())});
}

void PaintSpeedChartAt(QPainter& painter, std::span<const Row> rows, const QString& title) {
    const double width = kChartSize.width();
    const double height = kChartSize.height();

    std::vector<const Row*> points;
    std::vector<bool> lossy;
    const Row* baseline = nullptr;
    for (const Row& row : rows) {
        if (row.yardstick) {
            baseline = Plottable(row.mbpsMedian) ? &row : nullptr;
        } else if (row.error.empty() && Plottable(row.mbpsMedian) && Plottable(row.ratio)) {
            points.push_back(&row);
            lossy.push_back(IsLossy(row));
        }
    }
    const bool anyLossy = std::find(lossy.begin(), lossy.end(), true) != lossy.end();
    PaintTitle(painter, width, title,
               anyLossy ? QStringLiteral("Compression ratio against encode speed (median call); "
                                         "the line joins the lossless Pareto front, "
                                         "\u25C6 lossy codecs")
                        : QStringLiteral("Compression ratio against encode speed (median call); "
                                         "the line joins the Pareto front"));
    if (points.empty()) {
        PaintMessage(painter, QStringLiteral("No measured rows"));
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
    // Ratios far apart (the lossy codecs beside the lossless ones) are read on a log scale too.
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

    // The front is the lossless codecs' alone: a lossy codec buys its ratio with the image's
    // quality, so it is no trade-off of the same kind.
    std::vector<SpeedRatio> values;
    std::vector<size_t> losslessIndex;
    std::vector<QPointF> centres;
    for (size_t i = 0; i < points.size(); ++i) {
        centres.emplace_back(x.Map(points[i]->mbpsMedian), y.Map(points[i]->ratio));
        if (!lossy[i]) {
            values.push_back({points[i]->mbpsMedian, points[i]->ratio});
            losslessIndex.push_back(i);
        }
    }
    std::vector<size_t> front;
    for (const size_t k : ParetoFront(values)) {
        front.push_back(losslessIndex[k]);
    }
    std::vector<bool> onFront(points.size(), false);
    for (const size_t i : front) {
        onFront[i] = true;
    }
    constexpr double kRadius = 4;
    constexpr double kFrontRadius = 6;
    for (size_t i = 0; i < points.size(); ++i) {
        taken.push_back(
            MarkerRect(centres[i], onFront[i] ? kFrontRadius : (lossy[i] ? kRadius + 1 : kRadius)));
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
        if (lossy[i]) {
            painter.setPen(QPen(kLossy.darker(140), 1));
            painter.setBrush(kLossy);
            painter.drawPolygon(Diamond(centres[i], kRadius + 1));
        } else {
            painter.setPen(QPen(kPoint.darker(130), 1));
            painter.setBrush(kPoint);
            painter.drawEllipse(centres[i], kRadius, kRadius);
        }
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
            painter.setPen(onFront[i] ? kInk : (lossy[i] ? kLossy : kPoint).darker(150));
            painter.drawText(*rect, Qt::AlignLeft | Qt::AlignTop, text);
        }
    }
}

// A quality figure: how it is read from a row, named and drawn.
struct MetricInfo {
    QualityMetric metric;
    const char* suffix;
    const char* name;
    const char* axisTitle;
    std::optional<double> Row::*field;
    bool lowerIsBetter;
    // The levels of the speed-at-matched-quality chart, from low quality to high; none for a
    // metric that chart does not use.
    std::vector<double> levels;
};

const std::vector<MetricInfo>& Metrics() {
    static const std::vector<MetricInfo> metrics = {
        {QualityMetric::Ssimulacra2,
         "ssimulacra2",
         "SSIMULACRA2",
         "SSIMULACRA2",
         &Row::ssimulacra2,
         false,
         {30, 50, 70, 90}},
        {QualityMetric::Butteraugli3Norm,
         "butteraugli-3norm",
         "Butteraugli 3-norm",
         "Butteraugli 3-norm",
         &Row::butteraugli3Norm,
         true,
         {}},
        {QualityMetric::ButteraugliMax,
         "butteraugli-max",
         "Butteraugli max",
         "Butteraugli max",
         &Row::butteraugliMax,
         true,
         {}},
        {QualityMetric::PsnrY,
         "psnr",
         "PSNR (Y)",
         "PSNR (Y), dB",
         &Row::psnrY,
         false,
         {30, 35, 40, 45}},
        {QualityMetric::Ssim,
         "ssim",
         "SSIM (Y)",
         "SSIM (Y)",
         &Row::ssim,
         false,
         {0.9, 0.95, 0.98, 0.99}},
    };
    return metrics;
}

const MetricInfo& MetricOf(QualityMetric metric) {
    return *std::find_if(Metrics().begin(), Metrics().end(),
                         [&](const MetricInfo& info) { return info.metric == metric; });
}

// One setting of a lossy codec: the mean over the files it was measured on.
struct SettingPoint {
    double bpp = 0;
    double value = 0;
    double mpps = 0;  // geometric mean
};

// A lossy codec's settings in bpp order: its rows whose parameters differ in the first alone
// (the quality, distance or ratio swept); for speeds, at one thread count.
struct Curve {
    std::string name;  // "webp", "jpeg:subsampling=444"; "webp x2" at two threads
    bool reference = false;
    std::vector<SettingPoint> points;
};

// "webp" for "75", "jpeg:subsampling=444" for "50:subsampling=444"; with `byThreads`, " x2"
// after a row of two threads.
std::string CurveName(const Row& row, bool byThreads) {
    std::string name = row.codec;
    if (const size_t colon = row.params.find(':'); colon != std::string::npos) {
        name += row.params.substr(colon);
    }
    if (byThreads && row.threads > 1) {
        name += " x" + std::to_string(row.threads);
    }
    return name;
}

std::vector<Curve> LossyCurves(std::span<const Row> rows, const MetricInfo& metric, bool withSpeed,
                               const std::string& reference) {
    struct Sums {
        int count = 0;
        double bpp = 0;
        double value = 0;
        double logMpps = 0;
    };
    // By curve name, then by setting: std::map keeps both in one order every run.
    std::map<std::string, std::map<std::pair<std::string, int32_t>, Sums>> sums;
    std::map<std::string, bool> isReference;
    for (const Row& row : rows) {
        const std::optional<double>& value = row.*metric.field;
        if (row.yardstick || !row.error.empty() || !IsLossy(row) || !row.bpp ||
            !Plottable(*row.bpp) || !value || !std::isfinite(*value) ||
            (withSpeed && (!row.mpps || !Plottable(*row.mpps)))) {
            continue;
        }
        const std::string name = CurveName(row, withSpeed);
        Sums& s = sums[name][{row.params, withSpeed ? row.threads : 1}];
        ++s.count;
        s.bpp += *row.bpp;
        s.value += *value;
        s.logMpps += withSpeed ? std::log(*row.mpps) : 0;
        isReference[name] = row.codec == reference;
    }
    std::vector<Curve> curves;
    for (const auto& [name, settings] : sums) {
        Curve& curve = curves.emplace_back();
        curve.name = name;
        curve.reference = isReference[name];
        for (const auto& [setting, s] : settings) {
            const double n = s.count;
            curve.points.push_back({s.bpp / n, s.value / n, std::exp(s.logMpps / n)});
        }
        std::sort(curve.points.begin(), curve.points.end(),
                  [](const SettingPoint& a, const SettingPoint& b) { return a.bpp < b.bpp; });
    }
    return curves;
}

bool HasSweep(const std::vector<Curve>& curves) {
    return std::any_of(curves.begin(), curves.end(),
                       [](const Curve& curve) { return curve.points.size() >= 2; });
}

// What a line chart draws: a polyline with markers per series, the reference's heaviest.
struct Series {
    QString name;
    bool reference = false;
    std::vector<QPointF> points;  // in the axes' units
    std::vector<QString> labels;  // beside each point; empty for none
};

struct LinePlot {
    QString subtitle;
    QString xTitle;
    QString yTitle;
    bool xLog = false;
    bool yLog = false;
    double yFloor = 0;  // a linear y axis goes no lower
    double yCeiling = std::numeric_limits<double>::infinity();
    double xStep = 0;       // the x ticks' least step
    bool diagonal = false;  // y = x, perfect scaling, dashed
    Qt::Corner legend = Qt::BottomRightCorner;
};

void PaintLines(QPainter& painter, const LinePlot& layout, const std::vector<Series>& series,
                const QString& title, const QString& empty) {
    const double width = kChartSize.width();
    const double height = kChartSize.height();
    PaintTitle(painter, width, title, layout.subtitle);
    double xLo = std::numeric_limits<double>::infinity(), xHi = -xLo;
    double yLo = xLo, yHi = -xLo;
    for (const Series& s : series) {
        for (const QPointF& p : s.points) {
            xLo = std::min(xLo, p.x());
            xHi = std::max(xHi, p.x());
            yLo = std::min(yLo, p.y());
            yHi = std::max(yHi, p.y());
        }
    }
    if (!std::isfinite(xLo)) {
        PaintMessage(painter, empty);
        return;
    }
    if (layout.diagonal) {
        yLo = std::min(yLo, xLo);
        yHi = std::max(yHi, xHi);
    }
    Axis x = layout.xLog ? LogAxis(xLo, xHi) : LinearAxis(xLo, xHi, -1e300);
    if (layout.xStep > 0) {
        x = {xLo - 0.5, xHi + 0.5, false};
        x.minStep = layout.xStep;
    }
    Axis y = layout.yLog ? LogAxis(yLo, yHi) : LinearAxis(yLo, yHi, layout.yFloor);
    y.hi = std::min(y.hi, layout.yCeiling);
    x.from = kLeft;
    x.to = width - kRight;
    y.from = height - kBottom;
    y.to = kTop;
    PaintAxes(painter, x, y, layout.xTitle, layout.yTitle);
    const QRectF plot(QPointF(x.from, y.to), QPointF(x.to, y.from));

    if (layout.diagonal) {
        const double lo = std::max(x.lo, y.lo);
        const double hi = std::min(x.hi, y.hi);
        painter.setPen(QPen(kReference, 1.5, Qt::DashLine));
        painter.drawLine(QPointF(x.Map(lo), y.Map(lo)), QPointF(x.Map(hi), y.Map(hi)));
    }

    std::vector<QColor> colours;
    std::vector<std::vector<QPointF>> centres;
    size_t next = 0;
    bool firstReference = true;
    for (const Series& s : series) {
        if (s.reference) {
            colours.push_back(firstReference ? kInk : kReference);
            firstReference = false;
        } else {
            colours.push_back(kPalette[next++ % std::size(kPalette)]);
        }
        std::vector<QPointF>& c = centres.emplace_back();
        for (const QPointF& p : s.points) {
            c.emplace_back(x.Map(p.x()), y.Map(p.y()));
        }
    }

    // The legend, in the corner where the least of the curves would be hidden under it: the
    // preferred corner first, on a tie.
    painter.setFont(ChartFont(11));
    const QFontMetricsF metrics(painter.font());
    const double rowHeight = metrics.height() + 2;
    const QFontMetricsF boldMetrics(ChartFont(11, true));
    double legendWidth = 0;
    std::vector<QString> names;
    for (const Series& s : series) {
        names.push_back(s.reference ? s.name + QStringLiteral(" (reference)") : s.name);
        legendWidth = std::max(
            legendWidth, (s.reference ? boldMetrics : metrics).horizontalAdvance(names.back()));
    }
    const QSizeF legendSize(legendWidth + 36, rowHeight * static_cast<double>(series.size()) + 8);
    const auto cornerRect = [&](Qt::Corner corner) {
        const bool left = corner == Qt::TopLeftCorner || corner == Qt::BottomLeftCorner;
        const bool top = corner == Qt::TopLeftCorner || corner == Qt::TopRightCorner;
        return QRectF(QPointF(left ? plot.left() + 8 : plot.right() - 8 - legendSize.width(),
                              top ? plot.top() + 8 : plot.bottom() - 8 - legendSize.height()),
                      legendSize);
    };
    // The markers, and the lines between them sampled at every 1/16 of a segment.
    const auto hidden = [&](const QRectF& rect) {
        int count = 0;
        for (const std::vector<QPointF>& c : centres) {
            for (size_t k = 0; k < c.size(); ++k) {
                const QPointF to = k + 1 < c.size() ? c[k + 1] : c[k];
                for (int t = 0; t < 16; ++t) {
                    count += rect.contains(c[k] + (to - c[k]) * (t / 16.0)) ? 1 : 0;
                }
            }
        }
        return count;
    };
    QRectF legend = cornerRect(layout.legend);
    int least = hidden(legend);
    for (const Qt::Corner corner :
         {Qt::TopRightCorner, Qt::BottomRightCorner, Qt::TopLeftCorner, Qt::BottomLeftCorner}) {
        if (const int count = hidden(cornerRect(corner)); count < least) {
            least = count;
            legend = cornerRect(corner);
        }
    }
    std::vector<QRectF> taken{legend};
    for (const std::vector<QPointF>& c : centres) {
        for (const QPointF& point : c) {
            taken.push_back(MarkerRect(point, 4));
        }
    }
    // The reference last, on top of the others.
    std::vector<size_t> order(series.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_partition(order.begin(), order.end(),
                          [&](size_t i) { return !series[i].reference; });
    for (const size_t i : order) {
        const double lineWidth = series[i].reference ? 3.5 : 2;
        painter.setPen(QPen(colours[i], lineWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(QPolygonF(QList<QPointF>(centres[i].begin(), centres[i].end())));
        painter.setPen(QPen(colours[i].darker(140), 1));
        painter.setBrush(colours[i]);
        for (const QPointF& c : centres[i]) {
            painter.drawEllipse(c, series[i].reference ? 4.5 : 3.5,
                                series[i].reference ? 4.5 : 3.5);
        }
    }
    LabelPlacer placer(plot.adjusted(2, 2, -2, -2), std::move(taken));
    for (const size_t i : order) {
        for (size_t k = 0; k < series[i].labels.size(); ++k) {
            const QString& text = series[i].labels[k];
            if (text.isEmpty()) {
                continue;
            }
            const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
            if (const std::optional<QRectF> rect = placer.Place(centres[i][k], size, 6)) {
                painter.setPen(colours[i].darker(130));
                painter.drawText(*rect, Qt::AlignLeft | Qt::AlignTop, text);
            }
        }
    }

    painter.setPen(QPen(kGrid, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(legend);
    for (size_t i = 0; i < series.size(); ++i) {
        const double py = legend.top() + 4 + rowHeight * (static_cast<double>(i) + 0.5);
        painter.setPen(QPen(colours[i], series[i].reference ? 3.5 : 2));
        painter.drawLine(QPointF(legend.left() + 6, py), QPointF(legend.left() + 28, py));
        painter.setPen(kInk);
        painter.setFont(ChartFont(11, series[i].reference));
        painter.drawText(QPointF(legend.left() + 32, py + metrics.ascent() / 2 - 1), names[i]);
    }
}

// The reference codec's curves first in the legend, then the others by name.
std::vector<Series> SeriesOf(const std::vector<Curve>& curves) {
    std::vector<Series> series;
    for (const bool reference : {true, false}) {
        for (const Curve& curve : curves) {
            if (curve.reference == reference) {
                series.push_back({QString::fromStdString(curve.name), reference, {}, {}});
            }
        }
    }
    return series;
}

const Curve& CurveNamed(const std::vector<Curve>& curves, const QString& name) {
    return *std::find_if(curves.begin(), curves.end(), [&](const Curve& curve) {
        return QString::fromStdString(curve.name) == name;
    });
}

void PaintRateDistortion(QPainter& painter, const MetricInfo& metric, std::span<const Row> rows,
                         const QString& title, const std::string& reference) {
    const std::vector<Curve> curves = LossyCurves(rows, metric, false, reference);
    std::vector<Series> series = SeriesOf(curves);
    for (Series& s : series) {
        for (const SettingPoint& p : CurveNamed(curves, s.name).points) {
            s.points.emplace_back(p.bpp, p.value);
        }
    }
    LinePlot layout;
    layout.subtitle =
        QStringLiteral(
            "%1 against bits per pixel, a curve per lossy codec through "
            "its settings%2")
            .arg(QString::fromLatin1(metric.name),
                 metric.lowerIsBetter ? QStringLiteral(" (lower is better)") : QString());
    layout.xTitle = QStringLiteral("Bits per pixel (log scale)");
    layout.yTitle = QString::fromLatin1(metric.axisTitle);
    layout.xLog = true;
    layout.yFloor = metric.metric == QualityMetric::Ssimulacra2 ? -1e300 : 0;
    layout.yCeiling = metric.metric == QualityMetric::Ssim ? 1.0 : layout.yCeiling;
    layout.legend = metric.lowerIsBetter ? Qt::TopRightCorner : Qt::BottomRightCorner;
    PaintLines(painter, layout, series, title, QStringLiteral("No lossy rows with this figure"));
}

// The metric of the speed-at-quality chart: the first with levels that any codec's curve
// reaches.
std::optional<QualityMetric> SpeedMetric(std::span<const Row> rows) {
    for (const MetricInfo& metric : Metrics()) {
        if (metric.levels.empty()) {
            continue;
        }
        for (const Curve& curve : LossyCurves(rows, metric, true, {})) {
            std::vector<RdPoint> rd;
            for (const SettingPoint& p : curve.points) {
                rd.push_back({p.bpp, p.value});
            }
            for (const double level : metric.levels) {
                if (BppAtQuality(rd, level).value) {
                    return metric.metric;
                }
            }
        }
    }
    return std::nullopt;
}

// Each codec where its curve reaches each level: the bpp by the curve's interpolation, the
// MP/s between the two measured settings around the level, linear in log MP/s over the figure.
void PaintSpeedAtQuality(QPainter& painter, const MetricInfo& metric, std::span<const Row> rows,
                         const QString& title, const std::string& reference) {
    const std::vector<Curve> curves = LossyCurves(rows, metric, true, reference);
    std::vector<Series> series = SeriesOf(curves);
    for (Series& s : series) {
        const Curve& curve = CurveNamed(curves, s.name);
        std::vector<RdPoint> rd;
        for (const SettingPoint& p : curve.points) {
            rd.push_back({p.bpp, p.value});
        }
        for (const double level : metric.levels) {
            const std::optional<double> bpp = BppAtQuality(rd, level).value;
            if (!bpp) {
                continue;
            }
            // BppAtQuality took the curve: its figures rise with bpp, and one pair brackets
            // the level.
            size_t k = 0;
            while (k + 2 < curve.points.size() && curve.points[k + 1].value < level) {
                ++k;
            }
            const SettingPoint& a = curve.points[k];
            const SettingPoint& b = curve.points[k + 1];
            const double t = (level - a.value) / (b.value - a.value);
            s.points.emplace_back(
                *bpp, std::exp(std::log(a.mpps) + t * (std::log(b.mpps) - std::log(a.mpps))));
            s.labels.push_back(QString::number(level, 'g', 6));
        }
    }
    std::erase_if(series, [](const Series& s) { return s.points.empty(); });
    LinePlot layout;
    layout.subtitle = QStringLiteral(
                        "Encode speed at %1 %2: bpp interpolated on each curve, MP/s between "
                        "the settings around it")
                        .arg(QString::fromLatin1(metric.name), [&] {
                            QStringList levels;
                            for (const double level : metric.levels) {
                                levels << QString::number(level, 'g', 6);
                            }
                            return levels.join(QStringLiteral(", "));
                        }());
    layout.xTitle = QStringLiteral("Bits per pixel (log scale)");
    layout.yTitle = QStringLiteral("Encode speed, MP/s (log scale)");
    layout.xLog = true;
    layout.yLog = true;
    layout.legend = Qt::TopRightCorner;
    PaintLines(painter, layout, series, title, QStringLiteral("No codec reaches these levels"));
}

// The speed of each codec setting at each thread count, the geometric mean of its MB/s over
// the files; only settings measured at one thread and at more.
std::map<std::string, std::map<int32_t, double>> ThreadSpeeds(std::span<const Row> rows) {
    std::map<std::string, std::map<int32_t, std::pair<int, double>>> sums;
    for (const Row& row : rows) {
        if (!row.yardstick && row.error.empty() && Plottable(row.mbpsMedian)) {
            const std::string name = row.params.empty() ? row.codec : row.codec + ":" + row.params;
            auto& [count, logSum] = sums[name][row.threads];
            ++count;
            logSum += std::log(row.mbpsMedian);
        }
    }
    std::map<std::string, std::map<int32_t, double>> speeds;
    for (const auto& [name, byThreads] : sums) {
        if (byThreads.size() >= 2 && byThreads.begin()->first == 1) {
            for (const auto& [threads, s] : byThreads) {
                speeds[name][threads] = std::exp(s.second / s.first);
            }
        }
    }
    return speeds;
}

void PaintScaling(QPainter& painter, std::span<const Row> rows, const QString& title) {
    std::vector<Series> series;
    for (const auto& [name, speeds] : ThreadSpeeds(rows)) {
        Series& s = series.emplace_back();
        s.name = QString::fromStdString(name);
        for (const auto& [threads, mbps] : speeds) {
            const double speedUp = mbps / speeds.begin()->second;
            s.points.emplace_back(threads, speedUp);
            // One thread's is 1 by definition: only the others are labelled.
            s.labels.push_back(threads == 1
                                   ? QString()
                                   : QString::number(speedUp, 'f', 2) + QStringLiteral("\u00D7"));
        }
    }
    LinePlot layout;
    layout.subtitle = QStringLiteral(
        "Encode speed-up over one thread (median call); "
        "the dashed line is perfect scaling");
    layout.xTitle = QStringLiteral("Threads");
    layout.yTitle = QStringLiteral("Speed-up");
    layout.xStep = 1;
    layout.diagonal = true;
    layout.legend = Qt::TopLeftCorner;
    PaintLines(painter, layout, series, title,
               QStringLiteral("No codec measured at one thread and at more"));
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

std::vector<ChartPage> ChartPages(std::span<const Row> rows) {
    std::vector<ChartPage> pages{
        {ChartKind::Speed, QualityMetric::Ssimulacra2, "", QStringLiteral("Ratio against speed")}};
    for (const MetricInfo& metric : Metrics()) {
        if (HasSweep(LossyCurves(rows, metric, false, {}))) {
            pages.push_back(
                {ChartKind::RateDistortion, metric.metric, std::string("rd-") + metric.suffix,
                 QStringLiteral("Rate-distortion: ") + QString::fromLatin1(metric.name)});
        }
    }
    if (const std::optional<QualityMetric> metric = SpeedMetric(rows)) {
        pages.push_back({ChartKind::SpeedAtQuality, *metric, "speed-quality",
                         QStringLiteral("Speed at matched quality")});
    }
    if (!ThreadSpeeds(rows).empty()) {
        pages.push_back({ChartKind::Scaling, QualityMetric::Ssimulacra2, "scaling",
                         QStringLiteral("Scaling with threads")});
    }
    return pages;
}

std::string ChartPath(const std::string& path, const ChartPage& page) {
    if (page.suffix.empty()) {
        return path;
    }
    // The suffix goes before the extension of the file's name, not before a dot in a folder's.
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const size_t at =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : path.size();
    return path.substr(0, at) + "-" + page.suffix + path.substr(at);
}

void PaintChart(QPainter& painter, const ChartPage& page, std::span<const Row> rows,
                const QString& title, const std::string& reference) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRectF(QPointF(0, 0), kChartSize), Qt::white);
    switch (page.kind) {
        case ChartKind::Speed:
            PaintSpeedChartAt(painter, rows, title);
            break;
        case ChartKind::RateDistortion:
            PaintRateDistortion(painter, MetricOf(page.metric), rows, title, reference);
            break;
        case ChartKind::SpeedAtQuality:
            PaintSpeedAtQuality(painter, MetricOf(page.metric), rows, title, reference);
            break;
        case ChartKind::Scaling:
            PaintScaling(painter, rows, title);
            break;
    }
    painter.restore();
}

QString ChartTitle(const std::string& inputName) {
    return QStringLiteral("%1 on %2")
        .arg(QString::fromLocal8Bit(inputName), QString::fromStdString(QueryMachine().cpuModel));
}

bool WriteChart(const std::string& path, const ChartPage& page, std::span<const Row> rows,
                const QString& title, const std::string& reference) {
    const bool svg = path.size() >= 4 && path.compare(path.size() - 4, 4, ".svg") == 0;
    if (!svg) {
        QImage image(kChartSize, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            PaintChart(painter, page, rows, title, reference);
        }
        return image.save(QString::fromLocal8Bit(path), "PNG");
    }
    // Painted into memory first, so that a file that cannot be written is known before it is
    // made, and nothing half-written is left.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(kChartSize);
    generator.setViewBox(QRect(QPoint(0, 0), kChartSize));
    generator.setTitle(title);
    generator.setDescription(QStringLiteral("Tallox"));
    generator.setResolution(96);
    {
        QPainter painter(&generator);
        PaintChart(painter, page, rows, title, reference);
    }
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(buffer.data()) == buffer.data().size() && file.flush();
}

}  // namespace tallox

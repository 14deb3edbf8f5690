// The charts: the Pareto selection on a hand-made set, and the SVG read back as XML.
#include "charts/chart.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QXmlStreamReader>
#include <map>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace tallox {
namespace {

TEST(ParetoFrontTest, KeepsWhatNothingBeatsSlowestFirst) {
    const SpeedRatio points[] = {
        {100, 2.0},  // 0: front
        {50, 3.0},   // 1: front
        {80, 1.5},   // 2: 0 is faster and smaller
        {10, 3.0},   // 3: 1 is as small and faster
        {200, 1.0},  // 4: front, the fastest
        {100, 2.0},  // 5: equal to 0, which does not beat it
        {50, 2.5},   // 6: 1 is as fast and smaller
        {5, 4.0},    // 7: front, the smallest
    };
    EXPECT_EQ(ParetoFront(points), (std::vector<size_t>{7, 1, 0, 5, 4}));
    EXPECT_TRUE(ParetoFront({}).empty());
}

Row MakeRow(const char* codec, const char* label, double mbps, double ratio) {
    Row row;
    row.codec = codec;
    row.label = label;
    row.yardstick = row.codec == "memcpy";
    row.mbpsMedian = mbps;
    row.ratio = ratio;
    return row;
}

struct Svg {
    std::vector<std::pair<QPointF, double>> circles;  // centre and radius
    std::vector<std::vector<QPointF>> frontLines;     // polylines in the front's colour
};

// Reads the circles and the front's polylines, with each group's stroke.
Svg ReadSvg(const QByteArray& bytes) {
    Svg svg;
    QXmlStreamReader xml(bytes);
    QString stroke;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == QLatin1String("g")) {
            stroke = attributes.value(QLatin1String("stroke")).toString();
        } else if (xml.name() == QLatin1String("circle")) {
            svg.circles.push_back({QPointF(attributes.value(QLatin1String("cx")).toDouble(),
                                           attributes.value(QLatin1String("cy")).toDouble()),
                                   attributes.value(QLatin1String("r")).toDouble()});
        } else if (xml.name() == QLatin1String("polyline") && stroke == QLatin1String("#dd8452")) {
            std::vector<QPointF>& line = svg.frontLines.emplace_back();
            const QString points = attributes.value(QLatin1String("points")).toString();
            for (const QString& pair : points.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const QStringList xy = pair.split(QLatin1Char(','));
                line.emplace_back(xy[0].toDouble(), xy[1].toDouble());
            }
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return svg;
}

QByteArray ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ChartFileTest, OneMarkerPerRecordAndTheFrontInOrderTheSameEveryTime) {
    char name[] = "chart_test";
    char* argv[] = {name, nullptr};
    int argc = 1;
    const QGuiApplication app(argc, argv);
    const test::TempFolder folder("tallox_chart");
    const std::vector<Row> rows = {
        MakeRow("memcpy", "", 9000, 1.0),
        MakeRow("jpeg", "JPEG q30\t", 40, 25),        // front
        MakeRow("jpeg", "JPEG q90\t", 30, 8),         // q30 beats it
        MakeRow("rle", "RLE\t\t", 900, 1.1),          // front
        MakeRow("huffman", "Huffman\t\t", 300, 1.4),  // front
        MakeRow("rice", "Rice\t\t", 200, 1.3),
        MakeRow("lz77", "LZ77\t\t", 2, 1.6),
    };
    const std::string a = (folder.path() / "a.svg").string();
    const std::string b = (folder.path() / "b.svg").string();
    ASSERT_TRUE(WriteChartSvg(a, rows, QStringLiteral("test.bmp on a machine")));
    ASSERT_TRUE(WriteChartSvg(b, rows, QStringLiteral("test.bmp on a machine")));
    const QByteArray bytes = ReadFile(a);
    EXPECT_EQ(bytes, ReadFile(b));

    const Svg svg = ReadSvg(bytes);
    EXPECT_EQ(svg.circles.size(), rows.size() - 1);  // memcpy is a line, not a point
    std::map<double, QPointF> front;                 // the emphasised markers by x
    for (const auto& [centre, radius] : svg.circles) {
        if (radius > 4) {
            front[centre.x()] = centre;
        }
    }
    ASSERT_EQ(svg.frontLines.size(), 1u);
    const std::vector<QPointF>& line = svg.frontLines[0];
    ASSERT_EQ(line.size(), 3u);
    ASSERT_EQ(front.size(), 3u);
    auto marker = front.begin();
    for (const QPointF& vertex : line) {  // slowest first, each at its marker
        EXPECT_NEAR(vertex.x(), marker->second.x(), 0.01);
        EXPECT_NEAR(vertex.y(), marker->second.y(), 0.01);
        ++marker;
    }
    EXPECT_LT(line[0].y(), line[2].y());  // JPEG q30 above RLE

    // A quality sweep adds chart 2 below chart 1; a file that cannot be made is reported.
    std::vector<Row> sweep = rows;
    for (const auto& [quality, bpp] : {std::pair{30, 0.4}, std::pair{90, 1.2}}) {
        Row& row = sweep[quality == 30 ? 1 : 2];
        row.jpeg = JpegOptions{quality};
        row.bpp = bpp;
        row.psnrY = 30 + bpp * 10;
        row.ssim = 0.9 + bpp / 20;
    }
    const std::string png = (folder.path() / "s.png").string();
    ASSERT_TRUE(WriteChartPng(png, sweep, QStringLiteral("sweep")));
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(800, 1000));
    EXPECT_FALSE(WriteChartPng((folder.path() / "no" / "s.png").string(), rows, {}));
    EXPECT_FALSE(WriteChartSvg((folder.path() / "no" / "s.svg").string(), rows, {}));
}

}  // namespace
}  // namespace tallox

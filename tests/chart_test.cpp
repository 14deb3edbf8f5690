// The charts: the Pareto selection on a hand-made set, which charts a run's rows give, and the
// SVG read back as XML.
#include "charts/chart.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QXmlStreamReader>
#include <map>
#include <memory>
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

// A lossy row at one setting with its bits per pixel and one quality figure.
Row Lossy(const char* codec, const std::string& params, double bpp, double ssimulacra2,
          const std::string& file = {}) {
    Row row = MakeRow(codec, "", 10, 24 / bpp);
    row.params = params;
    row.bpp = bpp;
    row.mpps = 10;
    row.ssimulacra2 = ssimulacra2;
    row.file = file;
    return row;
}

Row Threaded(const char* codec, const char* params, int32_t threads, double mbps) {
    Row row = MakeRow(codec, "", mbps, 2);
    row.params = params;
    row.threads = threads;
    return row;
}

struct Line {
    QString stroke;
    double width = 0;
    std::vector<QPointF> points;
};

struct Svg {
    std::vector<std::pair<QPointF, double>> circles;  // centre and radius
    std::vector<Line> lines;                          // every polyline with its group's stroke
    std::vector<QString> pathFills;                   // the fill of each path (a diamond)

    // The curves: the polylines of three points or more (grid, legend and front lines of the
    // tests' charts have fewer, or a stroke of their own).
    std::vector<Line> Curves() const {
        std::vector<Line> curves;
        for (const Line& line : lines) {
            if (line.points.size() >= 3) {
                curves.push_back(line);
            }
        }
        return curves;
    }
    std::vector<Line> Stroked(const QString& stroke) const {
        std::vector<Line> found;
        for (const Line& line : lines) {
            if (line.stroke == stroke) {
                found.push_back(line);
            }
        }
        return found;
    }
};

Svg ReadSvg(const QByteArray& bytes) {
    Svg svg;
    QXmlStreamReader xml(bytes);
    QString stroke;
    QString fill;
    double width = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == QLatin1String("g")) {
            stroke = attributes.value(QLatin1String("stroke")).toString();
            fill = attributes.value(QLatin1String("fill")).toString();
            width = attributes.value(QLatin1String("stroke-width")).toDouble();
        } else if (xml.name() == QLatin1String("circle")) {
            svg.circles.push_back({QPointF(attributes.value(QLatin1String("cx")).toDouble(),
                                           attributes.value(QLatin1String("cy")).toDouble()),
                                   attributes.value(QLatin1String("r")).toDouble()});
        } else if (xml.name() == QLatin1String("path")) {
            svg.pathFills.push_back(fill);
        } else if (xml.name() == QLatin1String("polyline")) {
            Line& line = svg.lines.emplace_back(Line{stroke, width, {}});
            const QString points = attributes.value(QLatin1String("points")).toString();
            for (const QString& pair : points.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const QStringList xy = pair.split(QLatin1Char(','));
                line.points.emplace_back(xy[0].toDouble(), xy[1].toDouble());
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

class ChartTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static char name[] = "chart_test";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        app_ = std::make_unique<QGuiApplication>(argc, argv);
    }
    static void TearDownTestSuite() { app_.reset(); }

    ChartPage PageOf(const std::vector<Row>& rows, ChartKind kind) {
        for (const ChartPage& page : ChartPages(rows)) {
            if (page.kind == kind) {
                return page;
            }
        }
        ADD_FAILURE() << "no chart of that kind";
        return {};
    }

    // The chart of `kind` drawn as SVG, read back.
    Svg Draw(const std::vector<Row>& rows, ChartKind kind) {
        const std::string path = (folder_.path() / "chart.svg").string();
        EXPECT_TRUE(WriteChart(path, PageOf(rows, kind), rows, QStringLiteral("test")));
        return ReadSvg(ReadFile(path));
    }

    static std::unique_ptr<QGuiApplication> app_;
    test::TempFolder folder_{"tallox_chart"};
};

std::unique_ptr<QGuiApplication> ChartTest::app_;

TEST_F(ChartTest, OneMarkerPerRecordAndTheLosslessFrontInOrderTheSameEveryTime) {
    std::vector<Row> rows = {
        MakeRow("memcpy", "", 9000, 1.0),
        MakeRow("jpeg", "JPEG q30\t", 4000, 25),  // would beat every lossless codec
        MakeRow("webp", "webp q75\t", 30, 8),
        MakeRow("rle", "RLE\t\t", 900, 1.1),          // front
        MakeRow("huffman", "Huffman\t\t", 300, 1.4),  // front
        MakeRow("rice", "Rice\t\t", 200, 1.3),
        MakeRow("lz77", "LZ77\t\t", 2, 1.6),  // front
    };
    rows[1].jpeg = JpegOptions{30};
    const ChartPage speed = ChartPages(rows).at(0);
    ASSERT_EQ(speed.kind, ChartKind::Speed);
    const std::string a = (folder_.path() / "a.svg").string();
    const std::string b = (folder_.path() / "b.svg").string();
    ASSERT_TRUE(WriteChart(a, speed, rows, QStringLiteral("test.bmp on a machine")));
    ASSERT_TRUE(WriteChart(b, speed, rows, QStringLiteral("test.bmp on a machine")));
    const QByteArray bytes = ReadFile(a);
    EXPECT_EQ(bytes, ReadFile(b));

    const Svg svg = ReadSvg(bytes);
    EXPECT_EQ(svg.circles.size(), 4u);  // the lossless rows; memcpy is a line
    EXPECT_EQ(std::count(svg.pathFills.begin(), svg.pathFills.end(), QStringLiteral("#8172b3")),
              2);                     // the lossy rows, as diamonds
    std::map<double, QPointF> front;  // the emphasised markers by x
    for (const auto& [centre, radius] : svg.circles) {
        if (radius > 4) {
            front[centre.x()] = centre;
        }
    }
    const std::vector<Line> frontLines = svg.Stroked(QStringLiteral("#dd8452"));
    ASSERT_EQ(frontLines.size(), 1u);
    const std::vector<QPointF>& line = frontLines[0].points;
    ASSERT_EQ(line.size(), 3u);
    ASSERT_EQ(front.size(), 3u);
    auto marker = front.begin();
    for (const QPointF& vertex : line) {  // slowest first, each at its marker
        EXPECT_NEAR(vertex.x(), marker->second.x(), 0.01);
        EXPECT_NEAR(vertex.y(), marker->second.y(), 0.01);
        ++marker;
    }
    EXPECT_LT(line[0].y(), line[2].y());  // LZ77 above RLE

    const std::string png = (folder_.path() / "s.png").string();
    ASSERT_TRUE(WriteChart(png, speed, rows, QStringLiteral("png")));
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), kChartSize);
    EXPECT_FALSE(WriteChart((folder_.path() / "no" / "s.png").string(), speed, rows, {}));
    EXPECT_FALSE(WriteChart((folder_.path() / "no" / "s.svg").string(), speed, rows, {}));
}

TEST_F(ChartTest, ChartsAreTheOnesTheRowsHaveDataFor) {
    const Row rle = MakeRow("rle", "RLE\t\t", 900, 1.1);
    Row psnrOnly = Lossy("webp", "70", 0.8, 0);
    psnrOnly.ssimulacra2.reset();
    psnrOnly.psnrY = 38;
    Row psnrOnly2 = psnrOnly;
    psnrOnly2.params = "90";
    psnrOnly2.bpp = 1.6;
    psnrOnly2.psnrY = 42;
    Row failed = Lossy("webp", "90", 1.0, 80);
    failed.error = "decode failed";
    const struct {
        const char* name;
        std::vector<Row> rows;
        std::vector<std::string> suffixes;
    } cases[] = {
        {"lossless alone", {rle}, {""}},
        {"one lossy setting is no sweep", {rle, Lossy("webp", "75", 1.0, 70)}, {""}},
        {"a failed setting is no second one", {Lossy("webp", "75", 1.0, 70), failed}, {""}},
        {"a sweep reaching SSIMULACRA2 70",
         {Lossy("webp", "50", 0.5, 60), Lossy("webp", "80", 1.0, 80)},
         {"", "rd-ssimulacra2", "speed-quality"}},
        {"a sweep short of every level",
         {Lossy("jxl", "4", 0.2, 20), Lossy("jxl", "3", 0.3, 25)},
         {"", "rd-ssimulacra2"}},
        {"PSNR alone", {psnrOnly, psnrOnly2}, {"", "rd-psnr", "speed-quality"}},
        {"threads from one up",
         {Threaded("zstd", "3", 1, 100), Threaded("zstd", "3", 2, 180)},
         {"", "scaling"}},
        {"threads without one",
         {Threaded("zstd", "3", 2, 100), Threaded("zstd", "3", 4, 180)},
         {""}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> suffixes;
        for (const ChartPage& page : ChartPages(c.rows)) {
            suffixes.push_back(page.suffix);
        }
        EXPECT_EQ(suffixes, c.suffixes) << c.name;
    }
    const ChartPage rd{ChartKind::RateDistortion, QualityMetric::PsnrY, "rd-psnr", {}};
    EXPECT_EQ(ChartPath("out/run.svg", rd), "out/run-rd-psnr.svg");
    EXPECT_EQ(ChartPath("out.d/run", rd), "out.d/run-rd-psnr");
    EXPECT_EQ(ChartPath("run.png", ChartPage{}), "run.png");
}

TEST_F(ChartTest, RateDistortionHasACurvePerLossyCodecInBppOrderOnALogAxis) {
    // JPEG, the reference, at bpp a factor of two apart, given from the highest down; webp at
    // the same bpp and figures half a JPEG step higher, as the mean of two files each.
    std::vector<Row> rows = {MakeRow("rle", "RLE\t\t", 900, 1.1)};
    const double bpps[] = {2, 1, 0.5, 0.25};
    for (int k = 0; k < 4; ++k) {
        const double quality = 40 + 10 * (3 - k);
        rows.push_back(Lossy("jpeg", std::to_string(90 - 20 * k), bpps[k], quality, "a.png"));
        for (const auto& [file, spread] : {std::pair{"a.png", -1.0}, std::pair{"b.png", 1.0}}) {
            rows.push_back(Lossy("webp", std::to_string(90 - 20 * k) + ":method=6",
                                 bpps[k] * (1 + spread * 0.2), quality + 5 + spread * 5, file));
        }
    }
    const Svg svg = Draw(rows, ChartKind::RateDistortion);
    const std::vector<Line> curves = svg.Curves();
    ASSERT_EQ(curves.size(), 2u);  // webp and the reference; RLE has no curve
    const Line& webp = curves[0].stroke == QStringLiteral("#202020") ? curves[1] : curves[0];
    const Line& jpeg = curves[0].stroke == QStringLiteral("#202020") ? curves[0] : curves[1];
    EXPECT_GT(jpeg.width, webp.width);  // the reference is emphasised
    ASSERT_EQ(jpeg.points.size(), 4u);
    ASSERT_EQ(webp.points.size(), 4u);
    // The mean of a webp setting's bpp over its files is the JPEG's: both curves at the same x.
    const double step = jpeg.points[1].x() - jpeg.points[0].x();
    EXPECT_GT(step, 10);
    for (size_t k = 0; k < 4; ++k) {
        if (k > 0) {  // rising bpp, equal steps for equal factors: a log axis
            EXPECT_NEAR(jpeg.points[k].x() - jpeg.points[k - 1].x(), step, 0.01) << k;
        }
        EXPECT_NEAR(webp.points[k].x(), jpeg.points[k].x(), 0.01) << k;
        // The mean figure of the two files, half a step above JPEG's.
        EXPECT_NEAR(jpeg.points[k].y() - webp.points[k].y(),
                    (jpeg.points[0].y() - jpeg.points[1].y()) / 2, 0.01)
            << k;
    }
}

TEST_F(ChartTest, ScalingIsTheSpeedUpOverOneThread) {
    const std::vector<Row> rows = {
        Threaded("zstd", "3", 4, 200), Threaded("zstd", "3", 1, 100), Threaded("zstd", "3", 2, 180),
        Threaded("zstd", "19", 1, 10), Threaded("zstd", "19", 2, 12), Threaded("zstd", "19", 4, 30),
        Threaded("zstd", "9", 2, 50),  // no one-thread row: no line
    };
    const Svg svg = Draw(rows, ChartKind::Scaling);
    const std::vector<Line> curves = svg.Curves();
    ASSERT_EQ(curves.size(), 2u);
    const std::vector<Line> diagonal = svg.Stroked(QStringLiteral("#808080"));
    ASSERT_EQ(diagonal.size(), 1u);
    const QPointF d0 = diagonal[0].points.front();
    const QPointF d1 = diagonal[0].points.back();
    // Pixels back to figures: threads by the one- and two-thread points, speed-ups by the
    // diagonal y = x.
    const double perThread = curves[0].points[1].x() - curves[0].points[0].x();
    const double zeroX = curves[0].points[0].x() - perThread;
    const double lo = (d0.x() - zeroX) / perThread;
    const double hi = (d1.x() - zeroX) / perThread;
    const double perUnit = (d1.y() - d0.y()) / (hi - lo);
    const auto speedUp = [&](QPointF p) { return lo + (p.y() - d0.y()) / perUnit; };
    std::vector<std::vector<double>> speedUps;
    for (const Line& curve : curves) {
        std::vector<double>& s = speedUps.emplace_back();
        for (const QPointF& p : curve.points) {
            s.push_back(speedUp(p));
        }
    }
    std::sort(speedUps.begin(), speedUps.end());
    ASSERT_EQ(speedUps[0].size(), 3u);
    ASSERT_EQ(speedUps[1].size(), 3u);
    EXPECT_NEAR(speedUps[0][0], 1, 1e-3);  // zstd:19 at 1, 2 and 4 threads
    EXPECT_NEAR(speedUps[0][1], 1.2, 1e-3);
    EXPECT_NEAR(speedUps[0][2], 3, 1e-3);
    EXPECT_NEAR(speedUps[1][0], 1, 1e-3);  // zstd:3
    EXPECT_NEAR(speedUps[1][1], 1.8, 1e-3);
    EXPECT_NEAR(speedUps[1][2], 2, 1e-3);
}

}  // namespace
}  // namespace tallox

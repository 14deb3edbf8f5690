// The lossy comparison of the summaries: through the engine's entry on rows whose answers are
// known, and through the command line on a real sweep.
#include "engine/rd_summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"

namespace tallox {
namespace {

// A lossy record of `codec` on `file`: its bpp, SSIMULACRA2 and butteraugli distance.
Row Lossy(const std::string& file, const std::string& codec, const std::string& params, double bpp,
          double ssimulacra2, double butteraugli) {
    Row row;
    row.file = file;
    row.codec = codec;
    row.params = params;
    row.label = codec + " " + params + "\t";
    row.bpp = bpp;
    row.ssimulacra2 = ssimulacra2;
    row.butteraugli3Norm = butteraugli;
    return row;
}

// On each of two files: the reference "ref" at four settings; "lean" at the same qualities for
// a tenth (a.bmp) and a fifth (b.bmp) fewer bits; "apart" at qualities the reference never
// reaches; "kinked" with a point that loses quality for more bits. On five files, "one" at a
// single setting with known SSIMULACRA2 figures.
std::vector<Row> Rows() {
    std::vector<Row> rows;
    const double bpp[] = {0.5, 1, 2, 4};
    const double quality[] = {50, 60, 70, 80};
    const double distance[] = {4, 3, 2, 1};
    for (const auto& [file, lean] : {std::pair{"a.bmp", 0.9}, std::pair{"b.bmp", 0.8}}) {
        for (int i = 0; i < 4; ++i) {
            const std::string p = std::to_string(i);
            rows.push_back(Lossy(file, "ref", p, bpp[i], quality[i], distance[i]));
            rows.push_back(Lossy(file, "lean", p, lean * bpp[i], quality[i], distance[i]));
            rows.push_back(Lossy(file, "apart", p, bpp[i], quality[i] + 40, distance[i] / 10));
            rows.push_back(Lossy(file, "kinked", p, bpp[i], i == 2 ? 55 : quality[i], distance[i]));
        }
    }
    const double spread[] = {30, 10, 50, 20, 40};
    for (int i = 0; i < 5; ++i) {
        rows.push_back(
            Lossy(std::string("f").append(std::to_string(i)), "one", "q", 1.0, spread[i], 1.0));
    }
    return rows;
}

TEST(RdSummary, FiguresAndReasons) {
    const RdSummary rd =
        SummarizeRateDistortion(Rows(), {"ref", {{"ssimulacra2", 60}, {"butteraugli_3norm", 2}}});
    ASSERT_FALSE(rd.empty);
    EXPECT_TRUE(rd.note.empty());
    const auto figure = [&](const std::vector<RdFigure>& all, const std::string& file,
                            const std::string& codec, const std::string& metric) {
        for (const RdFigure& f : all) {
            if (f.file == file && f.codec == codec && f.metric == metric) {
                return f;
            }
        }
        return RdFigure{file, codec, metric, 0.0, std::nullopt, "missing from the summary"};
    };
    struct Case {
        const std::vector<RdFigure>* figures;
        const char* file;
        const char* codec;
        const char* metric;
        double value;        // NaN: no figure
        const char* reason;  // a part of the reason when there is no figure
    };
    const double none = std::nan("");
    const Case cases[] = {
        {&rd.bdRates, "a.bmp", "lean", "ssimulacra2", -10.0, ""},
        {&rd.bdRates, "b.bmp", "lean", "ssimulacra2", -20.0, ""},
        // The distance negated: a rising curve, the same saving.
        {&rd.bdRates, "a.bmp", "lean", "butteraugli_3norm", -10.0, ""},
        {&rd.bdRates, "a.bmp", "apart", "ssimulacra2", none, "share no quality range"},
        {&rd.bdRates, "a.bmp", "kinked", "ssimulacra2", none, "2 bpp at 55 after 1 bpp at 60"},
        {&rd.bdRates, "f0", "one", "ssimulacra2", none, "the reference ref has no record here"},
        {&rd.bppAt, "a.bmp", "ref", "ssimulacra2", 1.0, ""},
        {&rd.bppAt, "b.bmp", "lean", "butteraugli_3norm", 1.6, ""},
        {&rd.bppAt, "a.bmp", "apart", "ssimulacra2", none, "outside the curve's 90 to 120"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.codec + " " + c.metric);
        const RdFigure f = figure(*c.figures, c.file, c.codec, c.metric);
        if (std::isnan(c.value)) {
            EXPECT_FALSE(f.value.has_value());
            EXPECT_NE(f.reason.find(c.reason), std::string::npos) << f.reason;
        } else {
            ASSERT_TRUE(f.value.has_value()) << f.reason;
            EXPECT_NEAR(*f.value, c.value, 1e-9);
        }
    }
    // The means: over the files with a figure, the others counted.
    const auto mean = [&](const std::string& codec, const std::string& metric) {
        for (const RdMean& m : rd.bdRateMeans) {
            if (m.codec == codec && m.metric == metric) {
                return m;
            }
        }
        return RdMean{};
    };
    EXPECT_NEAR(mean("lean", "ssimulacra2").mean, -15.0, 1e-9);
    EXPECT_EQ(mean("lean", "ssimulacra2").files, 2);
    EXPECT_EQ(mean("apart", "ssimulacra2").files, 0);
    EXPECT_EQ(mean("apart", "ssimulacra2").without, 2);
    EXPECT_TRUE(std::isnan(mean("apart", "ssimulacra2").mean));
    // A setting over five files: 10, 20, 30, 40, 50.
    bool spread = false;
    for (const MetricSpread& s : rd.spreads) {
        if (s.codec == "one" && s.metric == "ssimulacra2") {
            spread = true;
            EXPECT_EQ(s.files, 5);
            EXPECT_NEAR(s.mean, 30.0, 1e-9);
            EXPECT_NEAR(s.sd, std::sqrt(250.0), 1e-9);
            EXPECT_NEAR(s.p5, 12.0, 1e-9);
            EXPECT_NEAR(s.p50, 30.0, 1e-9);
            EXPECT_NEAR(s.p95, 48.0, 1e-9);
        }
    }
    EXPECT_TRUE(spread);
}

test::CommandResult RunCli(const std::string& arguments) {
    return test::RunCommand(std::string(TALLOX_CLI_PATH) +
                            " --no-progress --iterations 1 --no-decode " + arguments);
}

// The "rate_distortion" line of a JSON Lines run.
nlohmann::json RateDistortionLine(const std::string& out) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line);
        if (object["type"] == "rate_distortion") {
            return object;
        }
    }
    return nullptr;
}

TEST(RdSummary, CommandLine) {
    const std::string sample = std::string(TALLOX_SOURCE_DIR) + "/data/sample.bmp";
    const std::string sweep = " --codecs jpeg:30-90:20,jxl:1-4:1 --format jsonl " + sample;
    struct Case {
        std::string arguments;
        int status;
        const char* said;  // on stdout or stderr
    };
    const Case cases[] = {
        {"--at foo=70" + sweep + " 2>&1", 2, "METRIC one of psnr_y,ssim,ssimulacra2,"},
        {"--at ssimulacra2=7x" + sweep + " 2>&1", 2, "'7x' in 'ssimulacra2=7x' is not a number"},
        {"--reference rle" + sweep + " 2>&1", 2, "not a lossy codec: one of jpeg,webp"},
        {"--reference avif" + sweep, 0, "the reference codec avif is not among"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const test::CommandResult ran = RunCli(c.arguments);
        EXPECT_EQ(ran.status, c.status);
        EXPECT_NE(ran.out.find(c.said), std::string::npos) << ran.out;
    }
    // JPEG XL spends far fewer bits than JPEG for the same SSIMULACRA2.
    const nlohmann::json rd = RateDistortionLine(RunCli(sweep).out);
    ASSERT_TRUE(rd.is_object());
    bool found = false;
    for (const auto& figure : rd["bd_rate"]) {
        if (figure["codec"] == "jxl" && figure["metric"] == "ssimulacra2") {
            found = true;
            ASSERT_TRUE(figure["bd_rate_percent"].is_number()) << figure.dump();
            EXPECT_LT(figure["bd_rate_percent"].get<double>(), -10.0);
        }
    }
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace tallox

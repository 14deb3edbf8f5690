// The JPEG row through the run: what is timed, what is counted, and how a failure ends the run.
#include "engine/jpeg_measurement.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "engine/own_codecs.h"
#include "engine/report.h"
#include "engine/run.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

// Imaging services with a scripted outcome: every load gives a `width` x `height` black image
// (none when `decodes` is false); save number `failAt` (from 1) fails, the others write
// `jpegSize` bytes, which decode to the black image again. Loads, saves and decodes are
// recorded among the host's events.
class ScriptedImaging final : public Imaging {
public:
    explicit ScriptedImaging(std::vector<std::string>& events) : events_(events) {}

    std::optional<Image> DecodeImage(std::span<const uint8_t>) override {
        events_.push_back("load");
        if (!decodes) {
            return std::nullopt;
        }
        return Image{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    }

    bool SaveJpeg(const Image&, const JpegOptions& options, std::vector<uint8_t>& jpeg) override {
        events_.push_back("save " + std::to_string(options.quality));
        if (++saves == failAt) {
            return false;
        }
        jpeg.assign(jpegSize, 0xFF);
        return true;
    }

    std::optional<Image> DecodeJpeg(const std::vector<uint8_t>&) override {
        events_.push_back("decode");
        return DecodeImage({});
    }

    bool decodes = true;
    uint32_t width = 640;
    uint32_t height = 480;
    size_t jpegSize = 61'440;
    int failAt = 0;
    int saves = 0;

private:
    std::vector<std::string>& events_;
};

class JpegRowTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.filePath = folder.Write("a.bmp", {1, 2, 3}).string();
        settings.fileName = "a.bmp";
        settings.Select("rle", true);
        settings.Select("huffman", false);
        settings.Select("rice", false);
        settings.iterations = 2;
        settings.jpegQuality = 70;
    }

    test::TempFolder folder{"tallox_jpeg"};
    BenchmarkSettings settings;
    RecordingHost host;
    ScriptedImaging imaging{host.events};
};

TEST_F(JpegRowTest, EverySaveIsTimedWithItsStepAndThePixelsAreCounted) {
    RunBenchmark(settings, host, imaging);
    const std::vector<std::string> expected{
        "push",    "repaint", "load",    "range 1 4", "pos 1",  "step 1",  "push",     "repaint",
        "save 70", "stepit",  "save 70", "stepit",    "decode", "load",    "row jpeg", "push",
        "repaint", "stepit",  "stepit",  "row rle",   "push",   "repaint", "pos 0"};
    EXPECT_EQ(host.events, expected);
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.rows[0].inputBytes, 921'600u);  // 640 x 480 x 3, whatever the file's size
    EXPECT_EQ(host.rows[0].outputBytes, 61'440u);
    EXPECT_TRUE(host.rows[0].text.starts_with("JPEG GDI+\t")) << host.rows[0].text;
    EXPECT_TRUE(host.rows[0].text.ends_with("\t\t1 : 15.000\r\n")) << host.rows[0].text;
    // Decoded after the timed saves, to the same pixels.
    EXPECT_EQ(host.rows[0].jpeg, (JpegOptions{70, Subsampling::k420, false, false}));
    EXPECT_EQ(host.rows[0].psnrRgb, std::numeric_limits<double>::infinity());
    EXPECT_EQ(host.rows[0].psnrY, std::numeric_limits<double>::infinity());
    EXPECT_EQ(host.rows[0].ssim, 1.0);
    EXPECT_EQ(host.rows[0].bpp, 1.6);  // 61,440 bytes over 640 x 480 pixels
    EXPECT_FALSE(host.rows[1].psnrY.has_value());
}

// The column a label's text reaches with tab stops every eight characters.
size_t LabelEnd(const std::string& label) {
    size_t column = 0;
    for (const char c : label) {
        column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
    }
    return column;
}

TEST_F(JpegRowTest, ASweepMeasuresEveryQualityAtEverySubsamplingUnderItsOwnLabel) {
    settings.jpegQualities = {5, 100};
    settings.jpegSubsamplings = {Subsampling::k444, Subsampling::k420};
    settings.jpegOptimize = true;
    RunBenchmark(settings, host, imaging);
    EXPECT_EQ(host.events[3], "range 1 10");  // two iterations of four JPEG rows and RLE
    ASSERT_EQ(host.rows.size(), 5u);
    const std::pair<const char*, JpegOptions> expected[] = {
        {"JPEG q5 444\t", {5, Subsampling::k444, false, true}},
        {"JPEG q100 444\t", {100, Subsampling::k444, false, true}},
        {"JPEG q5 420\t", {5, Subsampling::k420, false, true}},
        {"JPEG q100 420\t", {100, Subsampling::k420, false, true}},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(host.rows[i].label, expected[i].first);
        EXPECT_EQ(host.rows[i].jpeg, expected[i].second);
        EXPECT_TRUE(host.rows[i].text.starts_with(expected[i].first)) << host.rows[i].text;
        EXPECT_EQ(LabelEnd(host.rows[i].label), 16u) << host.rows[i].label;
    }
    settings.jpegSubsamplings = {Subsampling::k422};  // one mode: the quality names the row
    RecordingHost single;
    RunBenchmark(settings, single, imaging);
    ASSERT_EQ(single.rows.size(), 3u);
    EXPECT_EQ(single.rows[0].label, "JPEG q5\t\t");
    EXPECT_EQ(LabelEnd(single.rows[0].label), 16u);
}

TEST_F(JpegRowTest, AFailedSaveOrNoImageEndsTheRunWithoutARow) {
    struct Case {
        const char* what;
        bool decodes;
        int failAt;
        int stepsBefore;
    };
    for (const Case& c : {Case{"first save", true, 1, 0}, Case{"second save", true, 2, 1},
                          Case{"no image", false, 0, 0}}) {
        SCOPED_TRACE(c.what);
        RecordingHost failing;
        ScriptedImaging scripted(failing.events);
        scripted.decodes = c.decodes;
        scripted.failAt = c.failAt;
        RunBenchmark(settings, failing, scripted);
        EXPECT_EQ(failing.messages, std::vector<std::string>{kSaveFailedMessage});
        EXPECT_EQ(failing.events.back(), std::string("message ") + kSaveFailedMessage);
        EXPECT_TRUE(failing.rows.empty());  // and RLE is skipped
        EXPECT_EQ(failing.LastReport(), kReportHeader);
        EXPECT_EQ(failing.progress().Position(), 1 + c.stepsBefore);  // not reset
    }
}

TEST(JpegRowPlatform, AFileThatIsNoImageFailsAndABitmapGivesTheRealSize) {
    const test::TempFolder folder("tallox_jpeg_platform");
    const std::string text = (folder.path() / "text.bmp").string();
    std::ofstream(text) << "plain text, not a bitmap\n";
    QImage flat(64, 48, QImage::Format_RGB32);
    flat.fill(qRgb(90, 140, 200));
    const std::string bitmap = (folder.path() / "flat.bmp").string();
    ASSERT_TRUE(flat.save(QString::fromStdString(bitmap), "BMP"));

    const ImagingSession session;
    BenchmarkSettings settings;
    settings.Select("rle", false);
    settings.Select("huffman", false);
    settings.Select("rice", false);
    settings.iterations = 3;
    for (const std::string& path : {text, bitmap}) {
        settings.filePath = path;
        settings.fileName = fs::path(path).filename().string();
        RecordingHost host;
        RunBenchmark(settings, host);
        if (path == text) {
            EXPECT_EQ(host.messages, std::vector<std::string>{kSaveFailedMessage});
        } else {
            ASSERT_EQ(host.rows.size(), 1u);
            EXPECT_EQ(host.rows[0].inputBytes, 64u * 48u * 3u);
            EXPECT_GT(host.rows[0].outputBytes, 100u);
        }
    }
}

}  // namespace
}  // namespace tallox

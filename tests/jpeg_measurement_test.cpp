// The JPEG row through the run: what is timed, what is counted, and how a failure ends the run.
#include "engine/jpeg_measurement.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/report.h"
#include "engine/run.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

// Imaging services with a scripted outcome: every load gives a `width` x `height` image (none
// when `decodes` is false); save number `failAt` (from 1) fails, the others write `jpegSize`
// bytes. Loads and saves are recorded among the host's events.
class ScriptedImaging final : public Imaging {
public:
    explicit ScriptedImaging(std::vector<std::string>& events) : events_(events) {}

    std::optional<Image> Load(const std::string&) override {
        events_.push_back("load");
        if (!decodes) {
            return std::nullopt;
        }
        return Image{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    }

    bool SaveJpeg(const Image&, int quality, std::vector<uint8_t>& jpeg) override {
        events_.push_back("save " + std::to_string(quality));
        if (++saves == failAt) {
            return false;
        }
        jpeg.assign(jpegSize, 0xFF);
        return true;
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
        settings.rle = true;
        settings.huffman = settings.rice = false;
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
        "push",    "repaint", "load",   "range 1 4", "pos 1",  "step 1",   "push",
        "repaint", "save 70", "stepit", "save 70",   "stepit", "row jpeg", "push",
        "repaint", "stepit",  "stepit", "row rle",   "push",   "repaint",  "pos 0"};
    EXPECT_EQ(host.events, expected);
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.rows[0].inputBytes, 921'600u);  // 640 x 480 x 3, whatever the file's size
    EXPECT_EQ(host.rows[0].outputBytes, 61'440u);
    EXPECT_TRUE(host.rows[0].text.starts_with("JPEG GDI+\t")) << host.rows[0].text;
    EXPECT_TRUE(host.rows[0].text.ends_with("\t\t1 : 15.000\r\n")) << host.rows[0].text;
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
    settings.rle = settings.huffman = settings.rice = false;
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

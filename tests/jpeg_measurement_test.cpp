#include "bench/jpeg_measurement.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "bench/report.h"
#include "bench/run.h"
#include "platform/memory_stream.h"
#include "support/temp_folder.h"
#include "support/recording_host.h"

namespace tallox {
namespace {

// The one heap block whose release a test waits for, and whether it has gone.
void* g_watched = nullptr;
bool g_watchedReleased = false;

}  // namespace
}  // namespace tallox

// The whole program's heap (the forms the code uses), replaced so that a test can see the run free
// the image it loaded.
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size != 0 ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    if (block != nullptr && block == tallox::g_watched) {
        tallox::g_watched = nullptr;
        tallox::g_watchedReleased = true;
    }
    std::free(block);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }

namespace tallox {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

constexpr Clsid kPngClsid{1, 2, 3};

// What the scripted services do; every step they take goes into `log`, the host's own event
// list, so the order against pushes, steps and messages shows.
struct Script {
    explicit Script(std::vector<std::string>& events) : log(events) {}
    std::vector<std::string>& log;
    bool failCreate = false;
    int failRewindAt = -1;  // index of the rewind that fails
    int failSaveAt = -1;    // index of the save that fails
    bool failSizeSeek = false;
    uint64_t lengthBias = 0;        // added to the length that a seek to the end reports
    std::vector<size_t> saveSizes;  // bytes per save, in turn; empty: the platform's encoder
    std::vector<ImageCodecInfo> encoders;
};

class ScriptedStream final : public ImageStream {
public:
    explicit ScriptedStream(Script& script) : m_script(script) {}
    ~ScriptedStream() override { m_script.log.push_back("stream released"); }

    bool Seek(int64_t offset, Origin origin, uint64_t* newPosition) override {
        if (origin == Origin::Begin) {
            m_script.log.push_back("rewind");
            if (m_rewinds++ == m_script.failRewindAt) {
                return false;
            }
        } else {
            m_script.log.push_back("seek end");
            if (m_script.failSizeSeek) {
                return false;
            }
        }
        if (!m_stream.Seek(offset, origin, newPosition)) {
            return false;
        }
        if (origin == Origin::End && newPosition != nullptr) {
            *newPosition += m_script.lengthBias;
        }
        return true;
    }
    bool Write(const uint8_t* data, size_t size) override { return m_stream.Write(data, size); }

private:
    Script& m_script;
    MemoryStream m_stream;
    int m_rewinds = 0;
};

// Loads through the platform and keeps watch on the image it hands out; saves as scripted.
class ScriptedImaging final : public Imaging {
public:
    explicit ScriptedImaging(std::vector<std::string>& log) : script(log) {
        script.encoders = PlatformImaging().GetImageEncoders();
        script.encoders.insert(script.encoders.begin(), ImageCodecInfo{kPngClsid, "image/png"});
    }

    std::unique_ptr<Image> LoadImageFromFile(const std::string& path) override {
        ++loads;
        std::unique_ptr<Image> image = PlatformImaging().LoadImageFromFile(path);
        g_watched = image.get();
        g_watchedReleased = false;
        return image;
    }
    std::vector<ImageCodecInfo> GetImageEncoders() override { return script.encoders; }
    std::unique_ptr<ImageStream> CreateStream() override {
        script.log.push_back("create stream");
        if (script.failCreate) {
            return nullptr;
        }
        return std::make_unique<ScriptedStream>(script);
    }
    ImagingStatus SaveImageToStream(const Image& image, ImageStream& stream, const Clsid& encoder,
                                    int32_t quality) override {
        script.log.push_back("save");
        const int index = saves++;
        qualities.push_back(quality);
        clsids.push_back(encoder);
        if (index == script.failSaveAt) {
            return 1;
        }
        if (script.saveSizes.empty()) {
            return PlatformImaging().SaveImageToStream(image, stream, encoder, quality);
        }
        const std::vector<uint8_t> bytes(script.saveSizes[index % script.saveSizes.size()], 0x5A);
        return stream.Write(bytes.data(), bytes.size()) ? kImagingOk : 1;
    }

    Script script;
    int loads = 0;
    int saves = 0;
    std::vector<int32_t> qualities;
    std::vector<Clsid> clsids;
};

Image Gradient(uint32_t width, uint32_t height) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.resize(size_t{width} * height * 3);
    for (size_t i = 0; i < image.rgb.size(); ++i) {
        image.rgb[i] = static_cast<uint8_t>((i * 7) / 5);
    }
    return image;
}

// A host whose bar stands at 1 of 1..1000, as after the run's progress set-up, with nothing
// recorded yet.
struct MeasureFixture : public ::testing::Test {
    void SetUp() override {
        host.Progress().SetRange(1, 1000);
        host.Progress().SetPos(1);
        host.Progress().SetStep(1);
        host.events.clear();
        settings.m_nIterations = 4;
        settings.m_nJpegQuality = 77;
    }

    int StepIts() const {
        return static_cast<int>(std::count(host.events.begin(), host.events.end(), "stepit"));
    }

    RecordingHost host;
    ScriptedImaging imaging{host.events};
    BenchmarkSettings settings;
    std::string report = "header\r\n";
};

// ---------------------------------------------------------------------------------------------
// Finding the encoder

TEST(FindEncoderClsidTest, FirstExactMatchOrMinusOneWithTheIdentifierUntouched) {
    std::vector<std::string> log;
    ScriptedImaging imaging(log);
    const Clsid first{9, 9, 9};
    imaging.script.encoders = {
        {kPngClsid, "image/png"}, {first, "image/jpeg"}, {{7}, "image/jpeg"}};
    Clsid clsid{};
    EXPECT_EQ(FindEncoderClsid(imaging, "image/jpeg", &clsid), 1);
    EXPECT_EQ(clsid, first);

    Clsid untouched;
    untouched.fill(0xAA);
    const Clsid before = untouched;
    EXPECT_EQ(FindEncoderClsid(imaging, "IMAGE/JPEG", &untouched), -1);  // case counts
    EXPECT_EQ(FindEncoderClsid(imaging, "image/jpe", &untouched), -1);
    imaging.script.encoders.clear();
    EXPECT_EQ(FindEncoderClsid(imaging, "image/jpeg", &untouched), -1);
    EXPECT_EQ(untouched, before);

    EXPECT_GE(FindEncoderClsid(PlatformImaging(), "image/jpeg", &clsid), 0);
}

// ---------------------------------------------------------------------------------------------
// The measurement

TEST_F(MeasureFixture, EachIterationRewindsSavesAndSteps) {
    const Image image = Gradient(40, 24);
    settings.m_nIterations = 25;
    ASSERT_TRUE(MeasureJpeg(settings, &image, imaging, host, report));

    EXPECT_EQ(imaging.saves, 25);
    EXPECT_EQ(StepIts(), 25);
    EXPECT_EQ(host.progress().Position(), 26);
    std::vector<std::string> expected{"create stream"};
    for (int i = 0; i < 25; ++i) {
        expected.insert(expected.end(), {"rewind", "save", "stepit"});
    }
    // The stream goes after the row has been pushed and repainted.
    expected.insert(expected.end(), {"seek end", "push", "repaint", "stream released"});
    EXPECT_EQ(host.events, expected);

    // The platform's JPEG encoder at the settings' quality, on every save.
    Clsid jpeg{};
    FindEncoderClsid(PlatformImaging(), "image/jpeg", &jpeg);
    EXPECT_EQ(imaging.clsids, std::vector<Clsid>(25, jpeg));
    EXPECT_EQ(imaging.qualities, std::vector<int32_t>(25, 77));

    // One JPEG encoding long, measured against the pixels as 24-bit data.
    MemoryStream once;
    ASSERT_EQ(PlatformImaging().SaveImageToStream(image, once, jpeg, 77), kImagingOk);
    ASSERT_EQ(host.results.size(), 1u);
    const CodecResult& result = host.results[0];
    EXPECT_EQ(result.codec, "jpeg");
    EXPECT_EQ(result.iterations, 25);
    EXPECT_EQ(result.referenceBytes, 40u * 24 * 3);
    EXPECT_EQ(result.outputBytes, once.Length());
    EXPECT_EQ(report, "header\r\n" + FormatRow("JPEG GDI+\t", result.elapsedSeconds,
                                               result.framesPerSecond, result.ratio));
    EXPECT_EQ(host.LastReport(), report);
}

TEST_F(MeasureFixture, SizeIsTheLargestExtentInItsLow32Bits) {
    const Image image = Gradient(100, 50);  // 15,000 bytes as pixels
    settings.m_nIterations = 3;
    imaging.script.saveSizes = {5000, 100, 3000};  // a rewind never shrinks the stream
    imaging.script.lengthBias = uint64_t{1} << 32;
    ASSERT_TRUE(MeasureJpeg(settings, &image, imaging, host, report));
    ASSERT_EQ(host.results.size(), 1u);
    EXPECT_EQ(host.results[0].outputBytes, 5000u);
    EXPECT_NE(report.find("\t\t1 : 3.000\r\n"), std::string::npos) << report;

    // The pixel count is unsigned 32-bit as well: 40,000 x 40,000 x 3 wraps.
    RecordingHost wide;
    Image huge;  // the scripted save needs no pixels
    huge.width = 40'000;
    huge.height = 40'000;
    std::string wideReport;
    ASSERT_TRUE(MeasureJpeg(settings, &huge, imaging, wide, wideReport));
    EXPECT_EQ(wide.results[0].referenceBytes, 4'800'000'000u - (uint64_t{1} << 32));
}

struct FailureCase {
    const char* name;
    std::function<void(Script&)> arrange;
    const char* message;
    int stepIts;  // of 4 iterations
    bool streamCreated;
};

TEST_F(MeasureFixture, EveryFailureReleasesTheStreamThenShowsItsMessage) {
    const FailureCase cases[] = {
        {"create", [](Script& s) { s.failCreate = true; },
         "Failed to create stream on global memory!", 0, false},
        {"rewind", [](Script& s) { s.failRewindAt = 2; },
         "Failed to smove the file pointer to the beginning of the stream!", 2, true},
        {"save", [](Script& s) { s.failSaveAt = 2; }, "Failed to save to stream!", 2, true},
        {"first save", [](Script& s) { s.failSaveAt = 0; }, "Failed to save to stream!", 0, true},
        {"size", [](Script& s) { s.failSizeSeek = true; }, "Failed to get the size of the stream!",
         4, true},
    };
    const Image image = Gradient(16, 16);
    for (const FailureCase& failure : cases) {
        SCOPED_TRACE(failure.name);
        RecordingHost fresh;
        fresh.Progress().SetRange(1, 1000);
        fresh.Progress().SetPos(1);
        fresh.Progress().SetStep(1);
        fresh.events.clear();
        ScriptedImaging scripted(fresh.events);
        failure.arrange(scripted.script);
        std::string text = "header\r\n";

        EXPECT_FALSE(MeasureJpeg(settings, &image, scripted, fresh, text));
        EXPECT_EQ(text, "header\r\n");
        EXPECT_TRUE(fresh.pushes.empty());
        EXPECT_TRUE(fresh.results.empty());
        EXPECT_EQ(fresh.messages, std::vector<std::string>{failure.message});
        ASSERT_GE(fresh.events.size(), 2u);
        EXPECT_EQ(fresh.events.back(), std::string("message ") + failure.message);
        const std::string& beforeMessage = fresh.events[fresh.events.size() - 2];
        EXPECT_EQ(beforeMessage, failure.streamCreated ? "stream released" : "create stream");
        EXPECT_EQ(std::count(fresh.events.begin(), fresh.events.end(), "stream released"),
                  failure.streamCreated ? 1 : 0);
        EXPECT_EQ(std::count(fresh.events.begin(), fresh.events.end(), "stepit"), failure.stepIts);
        EXPECT_EQ(fresh.progress().Position(), 1 + failure.stepIts);  // kept, not reset
    }
}

TEST_F(MeasureFixture, NoImageOrNoJpegEncoderFailsAtTheFirstSave) {
    // A file that did not decode: the stream is made, the save is tried and refused.
    EXPECT_FALSE(MeasureJpeg(settings, nullptr, imaging, host, report));
    EXPECT_EQ(host.messages, std::vector<std::string>{"Failed to save to stream!"});
    const std::vector<std::string> expected{"create stream", "rewind", "save", "stream released",
                                            "message Failed to save to stream!"};
    EXPECT_EQ(host.events, expected);

    // No encoder for "image/jpeg": the identifier stays unset and the platform refuses it.
    RecordingHost other;
    ScriptedImaging noJpeg(other.events);
    noJpeg.script.encoders = {{kPngClsid, "image/png"}};
    const Image image = Gradient(16, 16);
    EXPECT_FALSE(MeasureJpeg(settings, &image, noJpeg, other, report));
    EXPECT_EQ(other.messages, std::vector<std::string>{"Failed to save to stream!"});
    EXPECT_EQ(noJpeg.clsids, std::vector<Clsid>{Clsid{}});
    EXPECT_EQ(report, "header\r\n");
}

// ---------------------------------------------------------------------------------------------
// Within the run

class JpegRunTest : public ::testing::Test {
protected:
    std::string WriteBitmap(const std::string& name, int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(qRgb(90, 140, 200));
        const std::string path = (dir / name).string();
        EXPECT_TRUE(image.save(QString::fromStdString(path), "BMP"));
        return path;
    }

    static BenchmarkSettings Settings(const std::string& path) {
        BenchmarkSettings settings;
        settings.m_strFilePath = path;
        settings.m_strFileName = fs::path(path).filename().string();
        settings.m_bJpeg = 1;
        settings.m_bRle = 1;
        settings.m_bHuffman = settings.m_bRice = 0;
        settings.m_nIterations = 3;
        return settings;
    }

    test::TempFolder m_folder{"tallox_jpeg"};
    const fs::path dir = m_folder.path();
    ImagingSession session;
};

TEST_F(JpegRunTest, AFileThatIsNoImageEndsTheRunAfterTheHeader) {
    const std::string path = (dir / "text.bmp").string();
    std::ofstream(path) << "plain text, not a bitmap\n";
    RecordingHost host;
    RunBenchmark(Settings(path), host, PlatformImaging());
    EXPECT_EQ(host.messages, std::vector<std::string>{"Failed to save to stream!"});
    EXPECT_EQ(host.LastReport(), kReportHeader);  // no JPEG row and no RLE row
    EXPECT_EQ(host.events.back(), "message Failed to save to stream!");
    EXPECT_EQ(host.progress().Position(), 1);  // the bar is not reset
}

TEST_F(JpegRunTest, TheRatioCountsPixelsWhateverTheFileSize) {
    const std::string path = WriteBitmap("vga.bmp", 640, 480);
    ASSERT_EQ(fs::file_size(path), 921'654u);
    RecordingHost host;
    ScriptedImaging imaging(host.events);
    imaging.script.saveSizes = {61'440};
    BenchmarkSettings settings = Settings(path);
    settings.m_bRle = 0;
    RunBenchmark(settings, host, imaging);
    ASSERT_EQ(host.results.size(), 1u);
    EXPECT_EQ(host.results[0].referenceBytes, 921'600u);
    EXPECT_EQ(host.results[0].outputBytes, 61'440u);
    const std::string& report = host.LastReport();
    EXPECT_EQ(report.substr(std::string(kReportHeader).size(), 10), "JPEG GDI+\t");
    EXPECT_TRUE(report.ends_with("\t\t1 : 15.000\r\n")) << report;
}

TEST_F(JpegRunTest, TheImageIsLoadedAndReleasedOnEveryRun) {
    const std::string path = WriteBitmap("small.bmp", 24, 16);
    RecordingHost host;
    ScriptedImaging imaging(host.events);
    BenchmarkSettings settings = Settings(path);

    RunBenchmark(settings, host, imaging);  // JPEG measured
    EXPECT_EQ(imaging.loads, 1);
    EXPECT_TRUE(g_watchedReleased);
    EXPECT_EQ(host.results.size(), 2u);

    settings.m_bJpeg = 0;
    RunBenchmark(settings, host, imaging);  // JPEG not selected
    EXPECT_EQ(imaging.loads, 2);
    EXPECT_TRUE(g_watchedReleased);

    settings.m_bJpeg = 1;
    imaging.script.failCreate = true;
    RunBenchmark(settings, host, imaging);  // JPEG ends the run early
    EXPECT_EQ(imaging.loads, 3);
    EXPECT_TRUE(g_watchedReleased);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Failed to create stream on global memory!"});
}

}  // namespace
}  // namespace tallox

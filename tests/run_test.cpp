#include "engine/run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "codecs/rle.h"
#include "codecs/working_block.h"
#include "engine/input_file.h"
#include "engine/own_codecs.h"
#include "engine/report.h"
#include "support/counting_heap.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

// Imaging services that decode nothing, so a selected JPEG ends the run at once with its
// message; they count the loads.
class NoImaging final : public Imaging {
public:
    std::optional<Image> DecodeImage(std::span<const uint8_t>) override {
        ++loads;
        return std::nullopt;
    }
    bool SaveJpeg(const Image&, const JpegOptions&, std::vector<uint8_t>&) override {
        return false;
    }
    std::optional<Image> DecodeJpeg(const std::vector<uint8_t>&) override { return std::nullopt; }
    int loads = 0;
};

class RunTest : public ::testing::Test {
protected:
    std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        return m_folder.Write(name, bytes).string();
    }

    // Settings for `path` with no codec selected.
    static BenchmarkSettings Settings(const std::string& path, int32_t iterations = 25) {
        BenchmarkSettings settings;
        settings.filePath = path;
        settings.fileName = fs::path(path).filename().string();
        settings.Select("jpeg", false);
        settings.Select("rle", false);
        settings.Select("huffman", false);
        settings.Select("rice", false);
        settings.iterations = iterations;
        return settings;
    }

    static std::vector<std::string> RowLabels(const std::string& report) {
        std::vector<std::string> labels;
        size_t start = std::string(kReportHeader).size();
        while (start < report.size()) {
            const size_t end = report.find("\r\n", start);
            const std::string line = report.substr(start, end - start);
            const size_t tab = line.find('\t');
            labels.push_back(line.substr(0, line.find_first_not_of('\t', tab)));
            start = end + 2;
        }
        return labels;
    }

    test::TempFolder m_folder{"tallox_run"};
    const fs::path dir = m_folder.path();
    NoImaging imaging;
    RecordingHost host;
};

TEST_F(RunTest, EmptyFileNameChangesNothing) {
    BenchmarkSettings settings = Settings(WriteFile("a.bmp", {1, 2, 3}));
    settings.fileName.clear();
    settings.Select("rle", true);
    RunBenchmark(settings, host, imaging);
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(imaging.loads, 0);
}

TEST_F(RunTest, NoCodecGivesTheHeaderAndTheProgressProtocol) {
    RunBenchmark(Settings(WriteFile("a.bmp", {1, 2, 3})), host, imaging);
    const std::vector<std::string> expected{"push",   "repaint", "range 1 0", "pos 1",
                                            "step 1", "push",    "repaint",   "pos 0"};
    EXPECT_EQ(host.events, expected);
    EXPECT_EQ(host.pushes.front(), "");
    EXPECT_EQ(host.LastReport(), kReportHeader);
    EXPECT_EQ(imaging.loads, 1);  // loaded on every run, JPEG selected or not
}

TEST_F(RunTest, HeaderText) {
    const std::string header = kReportHeader;
    EXPECT_EQ(header, "MIROVAN Image Compression Benchmark\r\n" + std::string(51, '=') +
                          "\r\n\r\n" + std::string(102, '-') +
                          "\r\n\t\tElapsed Time \tFrames/s \t\tCompression "
                          "Ratio\r\n" +
                          std::string(102, '-') + "\r\n");
}

TEST_F(RunTest, RangeCountsIterationsTimesSelectedCodecs) {
    const std::string path = WriteFile("a.bmp", {1, 2, 3});
    BenchmarkSettings four = Settings(path, 25);
    four.Select("jpeg", true);
    four.Select("rle", true);
    four.Select("huffman", true);
    four.Select("rice", true);
    RunBenchmark(four, host, imaging);
    EXPECT_EQ(host.events[2], "range 1 100");

    RecordingHost all;
    BenchmarkSettings six = four;
    six.iterations = 500;
    six.Select("lz77", true);
    six.Select("lz77fast", true);
    RunBenchmark(six, all, imaging);
    EXPECT_EQ(all.events[2], "range 1 3000");

    RecordingHost wrapped;  // the control's range is a 16-bit word
    BenchmarkSettings many = Settings(path, 70'000);
    many.Select("jpeg", true);
    RunBenchmark(many, wrapped, imaging);
    EXPECT_EQ(wrapped.events[2], "range 1 4464");
}

TEST_F(RunTest, RowsComeInTheFixedOrderWithTheirRepaints) {
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i % 7);
    }
    BenchmarkSettings settings = Settings(WriteFile("a.bmp", bytes), 3);
    settings.Select("lz77fast", true);
    settings.Select("lz77", true);
    settings.Select("rice", true);
    settings.Select("huffman", true);
    settings.Select("rle", true);
    RunBenchmark(settings, host, imaging);

    EXPECT_EQ(RowLabels(host.LastReport()),
              (std::vector<std::string>{"RLE\t\t", "Huffman\t\t", "Rice\t\t", "LZ77\t\t",
                                        "LZ77 Fast\t\t"}));
    std::vector<std::string> afterHeader(host.events.begin() + 7, host.events.end());
    std::vector<std::string> expected;
    for (const char* codec : {"rle", "huffman", "rice", "lz77", "lz77fast"}) {
        expected.insert(expected.end(),
                        {"stepit", "stepit", "stepit", std::string("row ") + codec, "push"});
        if (codec[0] != 'l') {
            expected.push_back("repaint");  // the LZ77 rows are pushed only
        }
    }
    expected.push_back("pos 0");
    EXPECT_EQ(afterHeader, expected);
    ASSERT_EQ(host.rows.size(), 5u);
    for (const Row& result : host.rows) {
        EXPECT_EQ(result.inputBytes, 300u);
        EXPECT_EQ(result.iterations, 3);
        EXPECT_GT(result.outputBytes, 0u);
    }
}

TEST_F(RunTest, LosslessRowsAreVerifiedAndTheirDecodersTimed) {
    BenchmarkSettings settings = Settings(WriteFile("a.bmp", std::vector<uint8_t>(301, 9)), 2);
    settings.Select("rle", true);
    settings.Select("huffman", true);
    settings.Select("rice", true);
    settings.Select("lz77", true);
    settings.Select("lz77fast", true);
    RunBenchmark(settings, host, imaging);
    ASSERT_EQ(host.rows.size(), 5u);
    for (const Row& row : host.rows) {
        SCOPED_TRACE(row.codec);
        EXPECT_EQ(row.verified, true);
        // Rice codes whole signed 32-bit samples: the last byte is never coded.
        EXPECT_EQ(row.verifiedBytes, row.codec == "rice" ? 300u : 301u);
        ASSERT_TRUE(row.decodeCalls.has_value());
    }
}

TEST_F(RunTest, ThreadCountsGiveARowEachToTheCodecsThatTakeThem) {
    BenchmarkSettings settings = Settings(WriteFile("a.bmp", std::vector<uint8_t>(5000, 9)), 2);
    settings.codecs = {{"zstd", {1}}, {"rle", {}}};
    settings.threads = {1, 2};
    RunBenchmark(settings, host, imaging);
    ASSERT_TRUE(host.messages.empty()) << host.messages[0];
    std::vector<std::tuple<std::string, std::string, int32_t>> rows;
    for (const Row& row : host.rows) {
        rows.emplace_back(row.codec, row.label, row.threads);
        EXPECT_EQ(row.verified, true) << row.label;
    }
    // RLE takes no threads: measured once, before the codecs beyond the report's six.
    EXPECT_EQ(rows, (std::vector<std::tuple<std::string, std::string, int32_t>>{
                        {"rle", "RLE\t\t", 1},
                        {"zstd", "zstd -1 \u00d71\t", 1},
                        {"zstd", "zstd -1 \u00d72\t", 2}}));
}

TEST_F(RunTest, AnOutputThatDoesNotDecodeToItsInputEndsTheRun) {
    // RLE with its last output byte spoiled: a fault of the codec, found after its timed loop.
    OwnCodec rle = *FindOwnCodec("rle");
    rle.encode = [](const uint8_t* input, uint8_t* output, uint32_t len, int32_t*) {
        const uint32_t count = EncodeRle(input, output, len);
        output[count - 1] ^= 1;
        return count;
    };
    CodecRegistry codecs;
    codecs.Add(MakeOwnEntry(rle));
    codecs.Add(MakeOwnEntry(*FindOwnCodec("huffman")));
    BenchmarkSettings settings = Settings(WriteFile("a.bmp", {1, 2, 3, 4}), 2);
    settings.Select("rle", true);
    settings.Select("huffman", true);
    RunBenchmark(settings, host, imaging, codecs);
    EXPECT_EQ(host.messages,
              std::vector<std::string>{"The RLE output does not decode to its input!"});
    EXPECT_TRUE(host.rows.empty());  // and Huffman is not measured

    RecordingHost unverified;
    settings.verify = settings.measureDecoding = false;
    RunBenchmark(settings, unverified, imaging, codecs);
    ASSERT_EQ(unverified.rows.size(), 2u);
    EXPECT_FALSE(unverified.rows[0].verified.has_value());
}

TEST(ReportRow, FormatsThreeDecimalsAndTabs) {
    EXPECT_EQ(MakeRow("rle", "RLE\t\t", std::vector<int64_t>(25), 0.105, 786'486, 777'000).text,
              "RLE\t\t0.105\t\t238.095\t\t1 : 1.012\r\n");
    EXPECT_EQ(MakeRow("jpeg", "JPEG GDI+\t", std::vector<int64_t>(25), 1.0, 15, 1).text,
              "JPEG GDI+\t1.000\t\t25.000\t\t1 : 15.000\r\n");
}

TEST(CallStatistics, MinimumMedianDeviationAndMaximum) {
    const struct {
        std::vector<int64_t> ticks;
        CallStatistics expected;
    } cases[] = {
        {{}, {0, 0, 0, 0}},
        {{7}, {7, 7, 0, 7}},
        {{5, 1, 3}, {1, 3, 2, 5}},
        {{4, 1, 2, 3}, {1, 2.5, 1, 4}},             // even count: means of the middle two
        {{10, 10, 11, 9, 1000}, {9, 10, 1, 1000}},  // one slow call moves neither
    };
    for (const auto& c : cases) {
        const CallStatistics s = Summarize(c.ticks, 1000);  // a tick a millisecond
        EXPECT_EQ(std::vector<double>({s.minMs, s.medianMs, s.madMs, s.maxMs}),
                  std::vector<double>(
                      {c.expected.minMs, c.expected.medianMs, c.expected.madMs, c.expected.maxMs}));
    }
}

TEST_F(RunTest, BaselineFirstAndAMinimumTimeCallsOn) {
    BenchmarkSettings settings = Settings(WriteFile("a.bmp", {1, 2, 3}), 3);
    settings.Select("rle", true);
    settings.baseline = true;
    settings.minimumSeconds = 0.02;
    RunBenchmark(settings, host, imaging);
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.rows[0].codec, "memcpy");  // a row for the host, no line in the report
    EXPECT_EQ(RowLabels(host.LastReport()), std::vector<std::string>{"RLE\t\t"});
    for (const Row& row : host.rows) {
        SCOPED_TRACE(row.codec);
        EXPECT_GT(row.iterations, 3);  // 20 ms of calls on three bytes
        EXPECT_LE(row.calls.minMs, row.calls.medianMs);
        EXPECT_LE(row.calls.medianMs, row.calls.maxMs);
        EXPECT_GE(row.elapsedSeconds, 0.02);
    }
}

TEST(WorkingBlock, SizesAreComputedWithoutWrapping) {
    EXPECT_EQ(WorkingBlockSize(1000), 3848u);
    EXPECT_EQ(WorkTableSize(1000), 266'144u);
    // Past 41,297,761 bytes, len * 104 + 50 no longer fits 32 bits.
    EXPECT_EQ(WorkingBlockSize(41'297'762), 41'297'762u + 2u * 42'949'672u + 768u);
    EXPECT_EQ(WorkingBlockSize(4'294'967'295u), 4'294'967'295u + 2u * 4'466'765'987u + 768u);
}

TEST_F(RunTest, EmptyFileGivesNonFiniteRatioRows) {
    BenchmarkSettings settings = Settings(WriteFile("empty.bmp", {}), 2);
    settings.Select("rle", true);
    RunBenchmark(settings, host, imaging);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(host.rows[0].outputBytes, 0u);
    EXPECT_TRUE(host.messages.empty());
}

// The file errors end the run like a JPEG failure: a message, no row for the codec, later
// codecs skipped, the progress position kept.
void ExpectEndedWith(const RecordingHost& host, const std::string& message) {
    ASSERT_EQ(host.messages, std::vector<std::string>{message});
    EXPECT_EQ(host.LastReport(), kReportHeader);
    EXPECT_EQ(host.events.back(), "message " + message);
    EXPECT_TRUE(host.rows.empty());
}

// A file that cannot be measured at all ends the run before anything is loaded or read,
// whatever the codecs (JPEG among them), with the message that names the cause; a FIFO is
// refused at once instead of blocking the run.
TEST_F(RunTest, UnmeasurableFileEndsTheRunBeforeAnythingIsLoaded) {
    const std::string fifo = (dir / "fifo.bmp").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char* message;
    };
    std::vector<Case> cases = {{(dir / "gone.bmp").string(), kOpenFailedMessage},
                               {dir.string(), kReadFailedMessage},
                               {fifo, kReadFailedMessage},
                               {"/dev/zero", kReadFailedMessage}};
    if (geteuid() != 0) {  // root reads whatever the permission bits say
        const std::string locked = WriteFile("locked.bmp", {1, 2, 3});
        chmod(locked.c_str(), 0);
        cases.push_back({locked, kOpenFailedMessage});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        RecordingHost ended;
        NoImaging counting;
        BenchmarkSettings settings = Settings(c.path);
        settings.Select("jpeg", true);
        settings.Select("rle", true);
        settings.Select("rice", true);
        RunBenchmark(settings, ended, counting);
        EXPECT_EQ(ended.events, (std::vector<std::string>{"push", "repaint",
                                                          std::string("message ") + c.message}));
        EXPECT_EQ(counting.loads, 0);
    }
}

TEST_F(RunTest, FileVanishingBetweenCodecsEndsTheRunAfterItsRow) {
    const std::string path = WriteFile("a.bmp", {1, 2, 3, 4, 5});
    BenchmarkSettings settings = Settings(path, 1);
    settings.Select("rle", true);
    settings.Select("huffman", true);
    // A host that deletes the file as soon as the first row is shown.
    struct VanishingHost final : RunHost {
        RecordingHost inner;
        std::string path;
        void Push(const std::string& report) override {
            inner.Push(report);
            if (!inner.rows.empty()) {
                fs::remove(path);
            }
        }
        void Repaint() override { inner.Repaint(); }
        ProgressControl& Progress() override { return inner.Progress(); }
        void ShowMessage(const RunMessage& message) override { inner.ShowMessage(message); }
        void RowFinished(const Row& row) override { inner.RowFinished(row); }
    } vanishing;
    vanishing.path = path;
    RunBenchmark(settings, vanishing, imaging);
    EXPECT_EQ(RowLabels(vanishing.inner.LastReport()), std::vector<std::string>{"RLE\t\t"});
    EXPECT_EQ(vanishing.inner.messages, std::vector<std::string>{kOpenFailedMessage});
    EXPECT_NE(vanishing.inner.events.back(), "pos 0");
}

TEST_F(RunTest, FileLongerThanThirtyTwoBitsIsRefusedBeforeAllocating) {
    const std::string path = (dir / "huge.bmp").string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(ftruncate(fileno(file), off_t{1} << 32), 0);  // sparse: no disk used
    std::fclose(file);
    const test::CountingHeap heap;
    BenchmarkSettings settings = Settings(path);
    settings.Select("huffman", true);
    RunBenchmark(settings, host, imaging);
    ExpectEndedWith(host, kTooLargeMessage);
    EXPECT_EQ(heap.allocations, 0);
}

TEST_F(RunTest, FailedAllocationEndsTheRunWithoutLeaking) {
    const std::string path = WriteFile("a.bmp", std::vector<uint8_t>(1000, 7));
    test::CountingHeap heap;
    heap.failFrom = 1;  // the second allocation, LZ77 Fast's work table, fails
    BenchmarkSettings settings = Settings(path);
    settings.Select("lz77fast", true);
    RunBenchmark(settings, host, imaging);
    ExpectEndedWith(host, kAllocationFailedMessage);
    EXPECT_EQ(heap.live, 0);
}

TEST_F(RunTest, BlockBeyondTheMachinesMemoryIsRefused) {
    const std::string path = WriteFile("a.bmp", std::vector<uint8_t>(1000, 7));
    test::CountingHeap heap;
    heap.available = 3847;  // one byte short of the block
    BenchmarkSettings settings = Settings(path);
    settings.Select("rle", true);
    RunBenchmark(settings, host, imaging);
    ExpectEndedWith(host, kAllocationFailedMessage);
    EXPECT_EQ(heap.allocations, 0);
}

TEST_F(RunTest, ShortReadEndsTheRun) {
    // sysfs files claim a whole page but hold a few bytes.
    const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat info {};
    if (stat(path, &info) != 0 || info.st_size <= 100) {
        GTEST_SKIP() << "no sysfs file with a claimed size longer than its content";
    }
    BenchmarkSettings settings = Settings(path);
    settings.Select("rle", true);
    RunBenchmark(settings, host, imaging);
    ExpectEndedWith(host, kReadFailedMessage);
}

}  // namespace
}  // namespace tallox

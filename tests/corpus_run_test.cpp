// The engine's corpus run as its front ends see it: the observer's events in their order, a
// broken file as an error record, and a stop between measurements.
#include "engine/corpus_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_folder.h"
#include "support/test_data.h"

namespace tallox {
namespace {

// Every event as a line of text; the stop flag raised once `stopAfter` files have finished.
class RecordingObserver final : public CorpusObserver {
public:
    void FileStarted(size_t file, const std::string& path) override {
        events.push_back("file " + std::to_string(file) + " " + Name(path));
    }
    void CodecStarted(size_t, const std::string&) override { events.push_back("codec"); }
    void CodecFinished() override { events.push_back("codec end"); }
    void Record(const Row& row) override {
        events.push_back("record " + Name(row.file) + " " + row.codec +
                         (row.error.empty() ? "" : " error"));
    }
    void FileFinished(size_t file, const std::string&) override {
        events.push_back("file end " + std::to_string(file));
        if (++finished == stopAfter) {
            stop = true;
        }
    }
    void RunFinished(const CorpusResult& result) override {
        events.push_back("run end " + std::to_string(result.rows.size()) + " rows, " +
                         std::to_string(result.failed) + " failed" +
                         (result.stopped ? ", stopped" : ""));
    }
    ProgressControl& Progress() override { return progress; }

    static std::string Name(const std::string& path) {
        return std::filesystem::path(path).filename().string();
    }

    std::vector<std::string> events;
    ProgressControl progress;
    size_t finished = 0;
    size_t stopAfter = 0;
    std::atomic<bool> stop = false;
};

TEST(CorpusRunTest, ObserverSeesFilesRecordsAndTheEndInOrder) {
    const test::TempFolder folder("tallox_corpus_run");
    const std::string sample = test::SampleImagePath();
    std::filesystem::copy_file(sample, folder.path() / "a.bmp");
    folder.Write("b.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0});  // cut short
    std::filesystem::copy_file(sample, folder.path() / "c.bmp");
    const std::vector<std::string> files = CollectFiles({folder.path().string()}, false, {"*"});
    ASSERT_EQ(files.size(), 3u);
    BenchmarkSettings settings;
    settings.codecs = {{"rle", {}}, {"huffman", {}}};
    settings.iterations = 2;

    const auto measuredFile = [](size_t index, const std::string& name, bool broken) {
        std::vector<std::string> events{"file " + std::to_string(index) + " " + name};
        for (const char* codec : {"rle", "huffman"}) {
            events.insert(
                events.end(),
                {"codec", "record " + name + " " + codec + (broken ? " error" : ""), "codec end"});
        }
        events.push_back("file end " + std::to_string(index));
        return events;
    };
    struct Case {
        bool isolate;
        size_t stopAfter;  // 0: never
        std::vector<std::vector<std::string>> files;
        std::string end;
    };
    // The isolated run first: a worker forked after Qt's image conversion has started its
    // thread pool would wait for threads it does not have.
    const Case cases[] = {
        {true,
         0,
         {measuredFile(0, "a.bmp", false), measuredFile(1, "b.png", true),
          measuredFile(2, "c.bmp", false)},
         "run end 6 rows, 2 failed"},
        {false,
         0,
         {measuredFile(0, "a.bmp", false), measuredFile(1, "b.png", true),
          measuredFile(2, "c.bmp", false)},
         "run end 6 rows, 2 failed"},
        {false, 1, {measuredFile(0, "a.bmp", false)}, "run end 2 rows, 0 failed, stopped"},
    };
    for (const Case& c : cases) {
        RecordingObserver observer;
        observer.stopAfter = c.stopAfter;
        CorpusOptions options;
        options.isolate = c.isolate;
        options.stop = &observer.stop;
        const CorpusResult result = RunCorpus(settings, files, options, observer);
        std::vector<std::string> expected;
        for (const auto& file : c.files) {
            expected.insert(expected.end(), file.begin(), file.end());
        }
        expected.push_back(c.end);
        EXPECT_EQ(observer.events, expected) << "isolate " << c.isolate;
        // The broken file's records say why, naming what was wrong with it.
        for (const Row& row : result.rows) {
            EXPECT_EQ(row.error.empty(), RecordingObserver::Name(row.file) != "b.png") << row.error;
        }
    }
}

// A measurement made in the worker comes back whole: every per-call time, however many, and
// the same figures as the one made in the run's own process.
TEST(CorpusRunTest, IsolatedRecordsCarryEveryCall) {
    const test::TempFolder folder("tallox_corpus_run");
    const std::vector<std::string> files{folder.Write("a.bin", std::vector<uint8_t>(64, 7))};
    BenchmarkSettings settings;
    settings.codecs = {{"rle", {}}, {"zstd", {3}}};
    settings.iterations = 9000;  // the times of three packets
    settings.samples = true;
    settings.verify = true;
    settings.baseline = true;
    RecordingObserver observer;
    CorpusOptions options;
    const CorpusResult isolated = RunCorpus(settings, files, options, observer);
    options.isolate = false;
    const CorpusResult direct = RunCorpus(settings, files, options, observer);
    ASSERT_EQ(isolated.rows.size(), 3u);  // memcpy, rle, zstd
    ASSERT_EQ(direct.rows.size(), isolated.rows.size());
    for (size_t i = 0; i < isolated.rows.size(); ++i) {
        const Row& a = isolated.rows[i];
        const Row& b = direct.rows[i];
        EXPECT_EQ(a.samplesMs.size(), 9000u) << a.codec;
        EXPECT_EQ(a.iterations, 9000) << a.codec;
        EXPECT_EQ(std::tie(a.codec, a.label, a.params, a.library, a.basis, a.outputBytes,
                           a.verified, a.memoryBytes, a.error),
                  std::tie(b.codec, b.label, b.params, b.library, b.basis, b.outputBytes,
                           b.verified, b.memoryBytes, b.error));
    }
}

}  // namespace
}  // namespace tallox

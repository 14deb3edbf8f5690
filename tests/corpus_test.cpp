// A corpus run's isolation: codecs that crash or never return cost their own records only.
#include "cli/corpus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "engine/own_codecs.h"
#include "support/temp_folder.h"

namespace tallox {
namespace {

uint32_t Crash(const uint8_t*, uint8_t*, uint32_t, int32_t*) {
    std::signal(SIGSEGV, SIG_DFL);  // past any sanitizer's handler
    std::raise(SIGSEGV);
    return 0;
}

uint32_t Hang(const uint8_t*, uint8_t*, uint32_t, int32_t*) {
    for (;;) {
        pause();
    }
}

TEST(CorpusTest, IsolationTurnsCrashesAndHangsIntoRecords) {
    const test::TempFolder folder("tallox_corpus");
    const std::vector<std::string> files{folder.Write("a.bmp", std::vector<uint8_t>(64, 1)),
                                         folder.Write("b.bmp", std::vector<uint8_t>(64, 2))};
    CodecRegistry codecs;
    codecs.Add(MakeOwnEntry({"crash", "Crash\t\t", &Crash, false, true, nullptr, 1, "Crash"}));
    codecs.Add(MakeOwnEntry({"hang", "Hang\t\t", &Hang, false, true, nullptr, 1, "Hang"}));
    codecs.Add(MakeOwnEntry(*FindOwnCodec("rle")));
    BenchmarkSettings settings;
    settings.codecs = {{"crash", {}}, {"hang", {}}, {"rle", {}}};
    settings.iterations = 2;
    cli::OutputOptions output;
    output.format = ReportFormat::Csv;

    testing::internal::CaptureStdout();
    const int status =
        cli::RunCorpus(settings, files, {false, true, 0.25}, output, PlatformImaging(), codecs);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    // A failed record: the file, the codec, every figure empty, then the error.
    const std::string header = out.substr(0, out.find('\n'));
    const std::string empty(static_cast<size_t>(std::count(header.begin(), header.end(), ',')) - 2,
                            ',');
    for (const std::string& file : files) {
        EXPECT_NE(out.find(file + ",crash," + empty + "crashed (SIGSEGV)\n"), std::string::npos)
            << out;
        EXPECT_NE(out.find(file + ",hang," + empty + "timed out after 0.25 s\n"), std::string::npos)
            << out;
        EXPECT_NE(out.find(file + ",rle,2,64,"), std::string::npos) << out;
    }
    EXPECT_NE(out.find("crash,0,2,"), std::string::npos) << out;  // the summary's failures

    // Stopping at the first failure measures nothing after it.
    testing::internal::CaptureStdout();
    cli::RunCorpus(settings, files, {true, true, 0.25}, output, PlatformImaging(), codecs);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("hang"), std::string::npos);
}

}  // namespace
}  // namespace tallox

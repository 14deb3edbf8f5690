// Runs spread over time and machines, through tallox-cli as a process: a corpus run killed and
// resumed, shards merged, the output written to a file in its format.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/command.h"
#include "support/temp_folder.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a record is, whatever run made it: its file, codec, parameters and output size.
using Identity = std::tuple<std::string, std::string, std::string, int64_t>;

struct Records {
    std::multiset<Identity> records;
    std::vector<Json> summaries;
};

// The records and summaries of a JSON document or of JSON Lines.
Records Read(const std::string& text) {
    Records read;
    const auto add = [&](const Json& record) {
        read.records.emplace(record["file"], record["codec"], record["params"],
                             record["output_bytes"].get<int64_t>());
    };
    const Json document = Json::parse(text, nullptr, false);
    if (document.is_object() && document.contains("results")) {
        for (const Json& record : document["results"]) {
            add(record);
        }
        read.summaries = document["summary"].get<std::vector<Json>>();
        return read;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const Json object = Json::parse(line);
        if (object["type"] == "record") {
            add(object);
        } else if (object["type"] == "summary") {
            read.summaries.push_back(object);
        }
    }
    return read;
}

// What a summary adds up, which the order of the records cannot change.
std::vector<std::tuple<std::string, std::string, int, int, int64_t, int64_t>> Totals(
    const std::vector<Json>& summaries) {
    std::vector<std::tuple<std::string, std::string, int, int, int64_t, int64_t>> totals;
    for (const Json& s : summaries) {
        totals.emplace_back(s["codec"], s["params"], s["files"], s["failed"],
                            s["input_bytes"].get<int64_t>(), s["output_bytes"].get<int64_t>());
    }
    return totals;
}

size_t RecordLines(const fs::path& path) {
    const std::string text = ReadFile(path);
    size_t count = 0;
    for (size_t at = text.find("\"type\":\"record\""); at != std::string::npos;
         at = text.find("\"type\":\"record\"", at + 1)) {
        count += text.find('\n', at) != std::string::npos ? 1 : 0;
    }
    return count;
}

class RunsTest : public ::testing::Test {
protected:
    // Runs tallox-cli with `arguments` (shell words), stdout and stderr captured apart.
    Result Run(const std::string& arguments) {
        const fs::path err = dir / "stderr.txt";
        test::CommandResult ran =
            test::RunCommand(std::string(TALLOX_CLI_PATH) + " " + arguments + " 2>" + err.string());
        return {ran.status, std::move(ran.out), ReadFile(err)};
    }

    // A corpus of `count` different bitmaps: the sample image's lower rows, fewer in each, with
    // their headers saying so (a cut file would be refused as truncated).
    std::string Corpus(int count) {
        const std::string sample = ReadFile(fs::path(TALLOX_SOURCE_DIR) / "data/sample.bmp");
        const fs::path corpus = dir / "corpus";
        fs::create_directory(corpus);
        const auto put = [](std::string& bytes, size_t at, uint32_t value) {
            for (size_t i = 0; i < 4; ++i) {
                bytes[at + i] = static_cast<char>(value >> (8 * i));
            }
        };
        for (int i = 0; i < count; ++i) {
            const auto rows = static_cast<uint32_t>(512 - 60 * i);  // 512 x 512, 24-bit
            std::string bitmap = sample.substr(0, 54 + size_t{rows} * 1536);
            put(bitmap, 2, static_cast<uint32_t>(bitmap.size()));
            put(bitmap, 22, rows);
            put(bitmap, 34, rows * 1536);
            std::string name = "f";
            name += std::to_string(i);
            name += ".bmp";
            std::ofstream(corpus / name, std::ios::binary) << bitmap;
        }
        return corpus.string();
    }

    test::TempFolder m_folder{"tallox_runs"};
    const fs::path dir = m_folder.path();
};

TEST_F(RunsTest, KilledCorpusRunResumesToTheRecordsOfAnUninterruptedRun) {
    const std::string corpus = Corpus(4);
    // Slow enough that the run is killed between records, not after the last.
    const std::string arguments = "--codecs rle,zstd:19 --iterations 2 --no-decode --no-progress ";
    const fs::path output = dir / "killed.jsonl";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(TALLOX_CLI_PATH, TALLOX_CLI_PATH, "--codecs", "rle,zstd:19", "--iterations", "2",
              "--no-decode", "--no-progress", "--output", output.c_str(), corpus.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (RecordLines(output) < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
    const size_t killedAt = RecordLines(output);
    ASSERT_GE(killedAt, 4u);
    ASSERT_LT(killedAt, 12u);

    const Result resumed = Run(arguments + "--resume " + output.string() + " " + corpus);
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(resumed.out, "");
    // The output sizes do not depend on the iterations: one call each is the same run here.
    const Result whole =
        Run("--codecs rle,zstd:19 --iterations 1 --no-decode --format jsonl " + corpus);
    ASSERT_EQ(whole.status, 0) << whole.err;
    const Records expected = Read(whole.out);
    const Records got = Read(ReadFile(output));
    EXPECT_EQ(got.records.size(), 12u);
    EXPECT_EQ(got.records, expected.records);
    EXPECT_EQ(Totals(got.summaries), Totals(expected.summaries));
}

TEST_F(RunsTest, ResumeDropsACutLastLineAndRefusesAnotherRun) {
    const std::string corpus = Corpus(3);
    const std::string arguments = "--codecs rle,huffman --iterations 1 ";
    const Result whole = Run(arguments + "--format jsonl " + corpus);
    ASSERT_EQ(whole.status, 0) << whole.err;
    // The context and two records whole, then half of the third.
    std::vector<size_t> ends;
    for (size_t at = whole.out.find('\n'); at != std::string::npos;
         at = whole.out.find('\n', at + 1)) {
        ends.push_back(at + 1);
    }
    const std::string killed = whole.out.substr(0, ends[2] + (ends[3] - ends[2]) / 2);
    const fs::path corpusPath(corpus);
    const struct {
        std::string change;  // shell commands before the resume
        std::string arguments;
        int status;
        std::string message;
    } kCases[] = {
        {"", arguments, 0, "line 4 is cut short"},
        {"", "--codecs rle,huffman --iterations 2 ", 2, "iterations is 1 in"},
        {"", "--codecs rle --iterations 1 ", 2, "codecs is [\"rle,huffman\"] in"},
        {"printf x >> " + (corpusPath / "f0.bmp").string(), arguments, 2,
         (corpusPath / "f0.bmp").string() + " has changed since it was measured"},
        {"cp " + (corpusPath / "f1.bmp").string() + " " + (corpusPath / "g.bmp").string(),
         arguments, 2, "g.bmp is new"},
    };
    for (const auto& [change, resumeArguments, status, message] : kCases) {
        const fs::path output = dir / "resumed.jsonl";
        std::ofstream(output, std::ios::binary) << killed;
        if (!change.empty()) {
            ASSERT_EQ(std::system(change.c_str()), 0);
        }
        const Result resumed = Run(resumeArguments + "--resume " + output.string() + " " + corpus);
        EXPECT_EQ(resumed.status, status) << change << resumeArguments << resumed.err;
        EXPECT_NE(resumed.err.find(message), std::string::npos) << resumed.err;
        if (status == 0) {
            EXPECT_EQ(Read(ReadFile(output)).records, Read(whole.out).records);
            EXPECT_EQ(Totals(Read(ReadFile(output)).summaries), Totals(Read(whole.out).summaries));
        } else {
            EXPECT_EQ(ReadFile(output), killed);  // a refused resume leaves the file as it was
        }
    }
}

TEST_F(RunsTest, ShardsMergeIntoOneRun) {
    const std::string corpus = Corpus(5);
    const std::string arguments = "--codecs rle,zstd:1 --quality 30,60 --iterations 1 ";
    const Result whole = Run(arguments + "--format json " + corpus);
    ASSERT_EQ(whole.status, 0) << whole.err;
    std::string shards;
    std::multiset<std::string> files;
    for (int k = 1; k <= 3; ++k) {
        // The second shard as a JSON document: merge takes either.
        std::string name = "shard";
        name += std::to_string(k);
        name += k == 2 ? ".json" : ".jsonl";
        const fs::path shard = dir / name;
        const Result part = Run(arguments + "--shard " + std::to_string(k) + "/3 --output " +
                                shard.string() + " " + corpus);
        ASSERT_EQ(part.status, 0) << part.err;
        for (const auto& record : Read(ReadFile(shard)).records) {
            if (std::get<1>(record) == "rle") {
                files.insert(std::get<0>(record));
            }
        }
        shards += ' ';
        shards += shard.string();
    }
    EXPECT_EQ(files.size(), 5u);  // every file in one shard
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()).size(), 5u);

    for (const char* merged : {"all.json", "all.jsonl"}) {
        const Result merge = Run("merge" + shards + " -o " + (dir / merged).string());
        ASSERT_EQ(merge.status, 0) << merge.err;
        const Records got = Read(ReadFile(dir / merged));
        EXPECT_EQ(got.records, Read(whole.out).records) << merged;
        EXPECT_EQ(Totals(got.summaries), Totals(Read(whole.out).summaries)) << merged;
        for (const Json& summary : got.summaries) {
            EXPECT_EQ(summary["mixed_machines"], false);
        }
    }

    const std::string first = (dir / "shard1.jsonl").string();
    const std::string third = (dir / "shard3.jsonl").string();
    const struct {
        std::string inputs;
        std::string message;
    } kFaults[] = {
        {first + " " + first + " " + third, "doubled (2 times): " + corpus + "/f0.bmp rle"},
        {first + " " + third, "shard 2/3 is missing"},
        {first + " " + (dir / "shard2.json").string(), "1 of the corpus's 5 files is in no input"},
    };
    for (const auto& [inputs, message] : kFaults) {
        const Result merge = Run("merge " + inputs + " -o " + (dir / "bad.json").string());
        EXPECT_EQ(merge.status, 1) << inputs;
        EXPECT_NE(merge.err.find(message), std::string::npos) << merge.err;
        EXPECT_FALSE(fs::exists(dir / "bad.json"));
    }
}

TEST_F(RunsTest, OutputGoesToTheFileInTheFormatOfItsName) {
    const std::string sample = (fs::path(TALLOX_SOURCE_DIR) / "data/sample.bmp").string();
    const struct {
        const char* name;
        const char* start;
    } kFiles[] = {
        {"r.txt", "MIROVAN"},
        {"r.csv", "codec,iterations,"},
        {"r.md", "# Tallox"},
        {"r.json", "{\n  \"tallox\""},
        {"r.jsonl", "{\"type\":\"context\",\"schema\":1,"},
    };
    for (const auto& [name, start] : kFiles) {
        const fs::path output = dir / name;
        std::ofstream(output) << "an older, longer file that the run replaces\n\n\n\n\n\n\n\n\n";
        const Result run =
            Run("--codecs rle --iterations 1 --output " + output.string() + " " + sample);
        EXPECT_EQ(run.status, 0) << name << run.err;
        EXPECT_EQ(run.out, "") << name;
        const std::string text = ReadFile(output);
        EXPECT_TRUE(text.starts_with(start)) << name << ": " << text.substr(0, 80);
        EXPECT_EQ(text.find("older"), std::string::npos) << name;
    }
    const std::string unwritable = (dir / "no/such/folder/r.csv").string();
    const Result run =
        Run("--codecs zstd:19 --iterations 50 --output " + unwritable + " " + sample);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("tallox-cli: " + unwritable + ": cannot write the output"), 0u)
        << run.err;
    EXPECT_EQ(Run("--codecs rle --output " + sample + " " + sample).status, 1);
}

TEST_F(RunsTest, GnuParallelRunsTwoShardsThatMerge) {
    if (std::system("command -v parallel >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "GNU parallel is not installed";
    }
    const std::string corpus = Corpus(3);
    const std::string arguments = "--codecs rle,huffman --iterations 1 ";
    const std::string parts = (dir / "part").string();
    const std::string command =
        "parallel --will-cite --halt now,fail=1 " + std::string(TALLOX_CLI_PATH) + " " + arguments +
        "--shard {}/2 --output " + parts + "{}.jsonl " + corpus + " ::: 1 2";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Result merge =
        Run("merge " + parts + "1.jsonl " + parts + "2.jsonl -o " + (dir / "all.jsonl").string());
    ASSERT_EQ(merge.status, 0) << merge.err;
    EXPECT_EQ(Read(ReadFile(dir / "all.jsonl")).records,
              Read(Run(arguments + "--format jsonl " + corpus).out).records);
}

}  // namespace
}  // namespace tallox

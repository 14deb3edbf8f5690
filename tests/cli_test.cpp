// tallox-cli as a user runs it: exit statuses, the report on stdout, messages on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "codecs/huffman.h"
#include "codecs/lz77_fast.h"
#include "codecs/rice.h"
#include "codecs/rle.h"
#include "codecs/working_block.h"
#include "engine/codec_table.h"
#include "engine/input_file.h"
#include "engine/jpeg_measurement.h"
#include "engine/report.h"
#include "engine/run.h"
#include "support/temp_folder.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    // Runs tallox-cli with `arguments` (shell words), stdout and stderr captured apart.
    Result Run(const std::string& arguments) {
        const fs::path err = dir / "stderr.txt";
        const std::string command =
            std::string(TALLOX_CLI_PATH) + " " + arguments + " 2>" + err.string();
        Result result;
        std::FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            result.out.append(buffer, n);
        }
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = ReadFile(err);
        return result;
    }

    static std::string ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        return m_folder.Write(name, bytes);
    }

    static std::vector<uint8_t> Structured(size_t n) {
        std::vector<uint8_t> bytes(n);
        uint32_t state = 12345;
        for (size_t i = 0; i < n; ++i) {
            state = state * 1103515245 + 12345;
            bytes[i] = (i / 50) % 3 == 0 ? 9 : static_cast<uint8_t>((state >> 16) % 5);
        }
        return bytes;
    }

    test::TempFolder m_folder{"tallox_cli"};
    const fs::path dir = m_folder.path();
};

TEST_F(CliTest, HelpVersionAndUsageErrors) {
    const Result help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--codecs"), std::string::npos);
    EXPECT_NE(help.out.find("encode"), std::string::npos);
    const Result version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("1.0.0"), std::string::npos);
    for (const char* bad : {"--codecs png", "--iterations 0", "--quality 101", "--fast --accurate",
                            "--format xml", "--bogus", "encode rle",
                            "encode rice a -o b "
                            "--rice-type 5"}) {
        EXPECT_EQ(Run(bad).status, 2) << bad;
    }
}

TEST_F(CliTest, TextReportWithUnixOrReportLineEnds) {
    const fs::path file = Write("a.bmp", Structured(2000));
    const Result lf = Run("--codecs rice,rle --iterations 2 --no-progress " + file.string());
    ASSERT_EQ(lf.status, 0) << lf.err;
    std::string header = kReportHeader;
    std::string unixHeader;
    for (char c : header) {
        if (c != '\r') {
            unixHeader += c;
        }
    }
    EXPECT_EQ(lf.out.rfind(unixHeader, 0), 0u);
    EXPECT_EQ(lf.out.find('\r'), std::string::npos);
    const size_t rle = lf.out.find("\nRLE\t\t");
    const size_t rice = lf.out.find("\nRice\t\t");
    EXPECT_NE(rle, std::string::npos);
    EXPECT_LT(rle, rice);  // the table's order, not the option's

    const Result crlf = Run("--codecs rle --iterations 1 --crlf " + file.string());
    EXPECT_EQ(crlf.out.rfind(header, 0), 0u);
    EXPECT_NE(crlf.out.find("RLE\t\t"), std::string::npos);
}

TEST_F(CliTest, JsonRecordsAgreeWithTheEncoders) {
    const std::vector<uint8_t> bytes = Structured(3000);
    const fs::path file = Write("a.bmp", bytes);
    const Result result =
        Run("--codecs rle,huffman,rice,lz77fast --iterations 3 --format json " + file.string());
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json json = nlohmann::json::parse(result.out);
    ASSERT_EQ(json["results"].size(), 4u);

    std::vector<uint8_t> work(WorkingBlockSize(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), work.begin());
    std::vector<int32_t> table(WorkTableSize(bytes.size()) / 4);
    const uint32_t len = static_cast<uint32_t>(bytes.size());
    uint8_t* out = work.data() + len;
    const uint32_t expected[] = {EncodeRle(work.data(), out, len),
                                 EncodeHuffman(work.data(), out, len),
                                 EncodeRice(work.data(), out, len, Signed32),
                                 EncodeLz77Fast(work.data(), out, len, table.data())};
    const char* names[] = {"rle", "huffman", "rice", "lz77fast"};
    for (size_t i = 0; i < 4; ++i) {
        const nlohmann::json& record = json["results"][i];
        EXPECT_EQ(record["codec"], names[i]);
        EXPECT_EQ(record["iterations"], 3);
        EXPECT_EQ(record["input_bytes"], 3000);
        EXPECT_EQ(record["output_bytes"], expected[i]);
        EXPECT_TRUE(record["elapsed_seconds"].is_number());
        EXPECT_TRUE(record["mb_per_second"].is_number());
        EXPECT_DOUBLE_EQ(record["ratio"].get<double>(), 3000.0 / expected[i]);
    }
}

TEST_F(CliTest, CsvAndMarkdownHaveAHeaderAndARecordPerCodec) {
    const fs::path file = Write("a.bmp", Structured(500));
    const Result csv = Run("--codecs rle,huffman --iterations 1 --format csv " + file.string());
    ASSERT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out.rfind("codec,iterations,input_bytes,output_bytes,", 0), 0u);
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 3);
    EXPECT_NE(csv.out.find("\nhuffman,1,500,"), std::string::npos);
    const Result md = Run("--codecs rle --iterations 1 --format markdown " + file.string());
    EXPECT_NE(md.out.find("| rle | 1 | 500 |"), std::string::npos);
}

TEST_F(CliTest, FailuresExitOneWithTheMessageAndNoRow) {
    const Result missing = Run("--codecs rle " + (dir / "gone.bmp").string());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(kOpenFailedMessage), std::string::npos);
    EXPECT_EQ(missing.out.find("RLE\t\t"), std::string::npos);

    const fs::path text = dir / "notes.bmp";
    std::ofstream(text) << "not a bitmap at all\n";
    const Result jpeg = Run("--codecs jpeg,rle " + text.string());
    EXPECT_EQ(jpeg.status, 1);
    EXPECT_NE(jpeg.err.find(kSaveFailedMessage), std::string::npos);
    EXPECT_EQ(jpeg.out.find("RLE\t\t"), std::string::npos);
}

TEST_F(CliTest, EncodeWritesTheEncodersExactBytes) {
    const std::vector<uint8_t> bytes = Structured(1234);
    const fs::path file = Write("in.bin", bytes);
    const uint32_t len = static_cast<uint32_t>(bytes.size());
    std::vector<uint8_t> work(WorkingBlockSize(len));
    std::copy(bytes.begin(), bytes.end(), work.begin());
    const uint32_t count = EncodeRice(work.data(), work.data() + len, len, Unsigned16);
    const fs::path out = dir / "out.rice";
    const Result result =
        Run("encode rice " + file.string() + " -o " + out.string() + " --rice-type 4");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string written = ReadFile(out);
    EXPECT_EQ(written, std::string(work.begin() + len, work.begin() + len + count));

    EXPECT_EQ(Run("encode rle " + (dir / "gone").string() + " -o " + out.string()).status, 1);
}

}  // namespace
}  // namespace tallox

// tallox-cli as a user runs it: exit statuses, the report on stdout, messages on stderr.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "codecs/huffman.h"
#include "codecs/lz77_fast.h"
#include "codecs/rice.h"
#include "codecs/rle.h"
#include "codecs/working_block.h"
#include "engine/input_file.h"
#include "engine/jpeg_measurement.h"
#include "engine/own_codecs.h"
#include "engine/report.h"
#include "engine/run.h"
#include "support/command.h"
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
    // Runs tallox-cli with `arguments` (shell words) after the shell commands `prefix`, stdout
    // and stderr captured apart.
    Result Run(const std::string& arguments, const std::string& prefix = "") {
        const fs::path err = dir / "stderr.txt";
        test::CommandResult ran = test::RunCommand(prefix + std::string(TALLOX_CLI_PATH) + " " +
                                                   arguments + " 2>" + err.string());
        return {ran.status, std::move(ran.out), ReadFile(err)};
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
    const std::string sample = TALLOX_SOURCE_DIR "/data/sample.bmp";
    const struct {
        std::string arguments;
        const char* message;
    } kCases[] = {
        {"--codecs bogus", "--codecs: 'bogus' is not a codec: one of jpeg, rle,"},
        {"--codecs zstd:23", "--codecs: zstd: level 23 is out of range (-131072 to 22"},
        {"--codecs zstd:1-19:0", "--codecs: zstd: '1-19:0' is not a level"},
        {"--codecs rle:3", "--codecs: rle takes no parameter"},
        {"--codecs jpeg:50:fast=1", "--codecs: jpeg: 'fast=1' names no parameter"},
        {"encode zstd:99 a -o b", "zstd: level 99 is out of range"},
        {"--codecs , " + sample, "--codecs: the list is empty"},
        {"--codecs= " + sample, "--codecs: the list is empty"},
        {"--codecs jpeg rle", "'rle' is a codec name, not a file"},
        {"--iterations abc", "--iterations: 'abc' is not a whole number"},
        {"--iterations 0x10", "'0x10' is not a whole number"},
        {"--iterations 1e9", "'1e9' is not a whole number"},
        {"--iterations 0", "'0' is out of range"},
        {"--quality 101", "--quality: '101' is out of range (1 to 100)"},
        {"--min-time 1e3", "--min-time: '1e3' is not a number of seconds"},
        {"--quality 90-10", "--quality: '90-10' is not a range such as 10-90:10"},
        {"--quality 30,0", "--quality: '0' is out of range (1 to 100)"},
        {"--subsampling 411", "--subsampling: '411' is not one of 444,422,420"},
        {"--min-time 5000", "--min-time: '5000' is out of range (0 to 3600)"},
        {"encode rice a -o b --rice-type ''", "--rice-type: '' is not a whole number"},
        {"encode rice a -o b --rice-type 5", "--rice-type"},
        {"--fast --accurate", "--fast"},
        {"--format xml", "--format"},
        {"--bogus", "--bogus"},
        {"encode rle", "FILE"},
        {"--timeout 1 " + sample, "--timeout applies to several files or a folder"},
        {"--no-isolate --timeout 1 " + sample + " " + sample, "--timeout"},
    };
    for (const auto& [arguments, message] : kCases) {
        const Result result = Run(arguments);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_NE(result.err.find(message), std::string::npos) << arguments << ": " << result.err;
    }
    // Leading zeros are decimal: 010 is ten, as iterations and as the JPEG quality.
    const auto record = [&](const std::string& options) {  // codec, iterations, input, output
        const std::string csv = Run("--codecs jpeg --format csv " + options + " " + sample).out;
        const size_t start = csv.find("\njpeg,") + 1;
        size_t end = start;
        for (int field = 0; field < 4; ++field) {
            end = csv.find(',', end) + 1;
        }
        return csv.substr(start, end - start);
    };
    const std::string padded = record("--iterations 010 --quality 010");
    EXPECT_EQ(padded.rfind("jpeg,10,786432,", 0), 0u) << padded;
    EXPECT_EQ(padded, record("--iterations 10 --quality 10"));
}

// The completions read the listing's first and fourth columns (name, kind); the threads
// column says which codecs --threads sweeps. Each must agree with the JSON listing.
TEST_F(CliTest, CodecListingColumnsAgreeWithItsJson) {
    const Result text = Run("--list-codecs");
    const Result json = Run("--list-codecs --format json");
    ASSERT_EQ(text.status, 0);
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json codecs = nlohmann::json::parse(json.out);
    std::istringstream lines(text.out);
    std::string line;
    std::getline(lines, line);  // the header
    for (const nlohmann::json& codec : codecs) {
        ASSERT_TRUE(std::getline(lines, line));
        std::istringstream fields(line);
        std::string name, family, input, kind, threads;
        fields >> name >> family >> input >> kind >> threads;
        EXPECT_EQ(name, codec["name"]);
        EXPECT_EQ(kind, codec["yardstick"] ? "yardstick" : codec["lossy"] ? "lossy" : "lossless")
            << name;
        EXPECT_EQ(threads, codec["threads"] ? "yes" : "-") << name;
    }
    EXPECT_FALSE(std::getline(lines, line)) << line;
    EXPECT_TRUE(std::any_of(codecs.begin(), codecs.end(),
                            [](const nlohmann::json& codec) { return codec["threads"] == true; }));
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
    // The documented shape: the context, then the memcpy yardstick and one record per codec.
    for (const char* key : {"tallox", "machine", "build", "timer", "input", "date", "file"}) {
        EXPECT_TRUE(json.contains(key)) << key;
    }
    EXPECT_EQ(json["input"]["bytes"], 3000);
    EXPECT_EQ(json["input"]["sha256"].get<std::string>().size(), 64u);
    EXPECT_TRUE(json["build"]["simd"]["rle"].is_string());
    ASSERT_EQ(json["results"].size(), 5u);
    EXPECT_EQ(json["results"][0]["codec"], "memcpy");

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
        const nlohmann::json& record = json["results"][i + 1];
        EXPECT_EQ(record["codec"], names[i]);
        EXPECT_EQ(record["calls"], 3);
        EXPECT_LE(record["min_ms"].get<double>(), record["median_ms"].get<double>());
        EXPECT_LE(record["median_ms"].get<double>(), record["max_ms"].get<double>());
        EXPECT_TRUE(record["mad_ms"].is_number() && record["mbps_best"].is_number());
        EXPECT_EQ(record["verified"], true);
        EXPECT_EQ(record["verified_bytes"], i == 2 ? 3000 / 4 * 4 : 3000);
        EXPECT_TRUE(record["decode_mbps_median"].is_number());
        EXPECT_GT(record["memory_bytes"].get<uint64_t>(), 3000u);
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
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 4);  // memcpy first
    EXPECT_NE(csv.out.find("\nmemcpy,1,500,500,"), std::string::npos);
    EXPECT_NE(csv.out.find("\nhuffman,1,500,"), std::string::npos);
    const Result md = Run("--codecs rle --iterations 1 --format markdown " + file.string());
    EXPECT_NE(md.out.find("- Input: `" + file.string() + "`, 500 bytes"), std::string::npos);
    EXPECT_NE(md.out.find("| rle | 1 | 500 |"), std::string::npos);
    // The table fits a terminal of 80 columns, memcpy first.
    const Result table = Run(
        "--codecs rle,huffman,rice,lz77,lz77fast --iterations 1 --format table " + file.string());
    ASSERT_EQ(table.status, 0) << table.err;
    std::istringstream lines(table.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        rows.push_back(line.substr(0, line.find(' ')));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"codec", "memcpy", "rle", "huffman", "rice", "lz77",
                                              "lz77fast"}));
}

TEST_F(CliTest, InputFaultsEndWithTheMessageAndNoRow) {
    const std::string gone = (dir / "gone.bmp").string();
    const std::string fifo = (dir / "fifo.bmp").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path text = dir / "notes.bmp";
    std::ofstream(text) << "not a bitmap at all\n";
    const std::string open = std::string(kOpenFailedMessage) + " (" + std::strerror(ENOENT) + ")";
    const struct {
        std::string arguments;
        std::string message;
    } kCases[] = {
        {gone, gone + ": " + open},  // the default codecs, JPEG first
        {"--codecs rle " + gone, gone + ": " + open},
        {"encode rle " + gone + " -o " + (dir / "out").string(), gone + ": " + open},
        {fifo, fifo + ": " + kReadFailedMessage},
        {"encode rle " + fifo + " -o " + (dir / "out").string(), fifo + ": " + kReadFailedMessage},
        {"--codecs jpeg,rle " + text.string(), kSaveFailedMessage},
    };
    for (const auto& [arguments, message] : kCases) {
        // A file that would block must not: the timeout turns a hang into status 124.
        const Result result = Run(arguments, "timeout 10 ");
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_NE(result.err.find(message), std::string::npos) << arguments << ": " << result.err;
        EXPECT_EQ(result.out.find("1 : "), std::string::npos) << arguments;  // no row
    }

    // A name that is not UTF-8 reaches JPEG as the same file, and JSON keeps its bytes.
    const fs::path odd = dir / "a\xff\xfe.bmp";
    fs::copy_file(TALLOX_SOURCE_DIR "/data/sample.bmp", odd);
    const Result json =
        Run("--codecs jpeg,rle --iterations 1 --format json '" + odd.string() + "'");
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document["results"][1]["codec"], "jpeg");
    std::string hex;
    for (const unsigned char byte : odd.string()) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    EXPECT_EQ(document["file_bytes_hex"], hex);
}

TEST_F(CliTest, OutputFaultsExitOneAndLeaveNothingBehind) {
    const std::vector<uint8_t> bytes = Structured(100000);
    const fs::path input = Write("in.bin", bytes);
    fs::create_symlink(input, dir / "link.bin");
    const fs::path old = Write("old.rle", {'o', 'l', 'd'});
    const std::string run = "--codecs rle --iterations 1 " + input.string();
    const std::string encode = "encode rle " + input.string() + " -o ";
    const struct {
        std::string arguments;
        const char* prefix;
        std::string message;
    } kCases[] = {
        {run + " --format json > /dev/full", "", "cannot write the output"},
        {run + " >&-", "", "cannot write the output"},
        {encode + input.string(), "", "the output would overwrite the input"},
        {encode + (dir / "link.bin").string(), "", "the output would overwrite the input"},
        {encode + "/dev/full", "", std::strerror(ENOSPC)},
        // A file size limit fails the write part way: the old output stays as it was.
        {encode + old.string(), "trap '' XFSZ; ulimit -f 8; ", std::strerror(EFBIG)},
    };
    for (const auto& [arguments, prefix, message] : kCases) {
        const Result result = Run(arguments, prefix);
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_NE(result.err.find(message), std::string::npos) << arguments << ": " << result.err;
    }
    EXPECT_EQ(ReadFile(input), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(ReadFile(old), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
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

    // The JPEG as the row saves it: as many bytes as its record counts, at the same quality.
    const std::string sample = TALLOX_SOURCE_DIR "/data/sample.bmp";
    const fs::path jpeg = dir / "out.jpg";
    ASSERT_EQ(Run("encode jpeg " + sample + " -o " + jpeg.string() + " --quality 70").status, 0);
    const nlohmann::json rows = nlohmann::json::parse(
        Run("--codecs jpeg --quality 70 --iterations 1 --format json " + sample).out);
    EXPECT_EQ(rows["results"][1]["output_bytes"], fs::file_size(jpeg));
    EXPECT_EQ(ReadFile(jpeg).substr(0, 2), "\xff\xd8");
}

// The CSV records of a corpus run, by field name, and the summary's after the empty line.
using CsvTable = std::vector<std::map<std::string, std::string>>;
std::pair<CsvTable, CsvTable> ReadCorpusCsv(const std::string& out) {
    std::pair<CsvTable, CsvTable> tables;
    CsvTable* table = &tables.first;
    std::vector<std::string> names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, ',');) {
            cells.push_back(cell);
        }
        if (line.empty()) {
            table = &tables.second;
            names.clear();
        } else if (names.empty()) {
            names = cells;
        } else {
            cells.resize(names.size());
            table->emplace_back();
            for (size_t i = 0; i < names.size(); ++i) {
                table->back()[names[i]] = cells[i];
            }
        }
    }
    return tables;
}

TEST_F(CliTest, CorpusWalksFoldersInNameOrder) {
    for (const char* name : {"b.bmp", "a.bmp", "C.BMP", ".hidden.bmp", "notes.txt"}) {
        Write(name, Structured(300));
    }
    fs::create_directory(dir / "sub");
    Write("sub/d.bmp", Structured(300));
    Write("sub/.e.bmp", Structured(300));
    const std::string d = dir.string() + "/";
    const struct {
        std::string arguments;
        std::vector<std::string> files;
    } kCases[] = {
        {d, {"C.BMP", "a.bmp", "b.bmp"}},
        {"-r " + d, {"C.BMP", "a.bmp", "b.bmp", "sub/d.bmp"}},
        {"--include 'n*.txt' --include 'a*' " + d, {"a.bmp", "notes.txt"}},
        {d + "b.bmp " + d + "sub", {"b.bmp", "sub/d.bmp"}},  // a file given is taken as it is
    };
    for (const auto& [arguments, files] : kCases) {
        const Result result = Run("--codecs rle --iterations 2 --format csv " + arguments);
        EXPECT_EQ(result.status, 0) << arguments << ": " << result.err;
        std::vector<std::string> measured;
        for (const auto& record : ReadCorpusCsv(result.out).first) {
            if (record.at("codec") == "rle") {
                measured.push_back(record.at("file").substr(d.size()));
            }
        }
        EXPECT_EQ(measured, files) << arguments;
    }
    EXPECT_EQ(Run("--include '*.png' " + d).status, 1);  // nothing to measure
}

TEST_F(CliTest, CorpusSummaryAddsUpTheFiles) {
    Write("1.bmp", std::vector<uint8_t>(1000, 7));
    Write("2.bmp", Structured(3000));
    Write("3.bmp", Structured(777));
    const Result result = Run("--codecs rle,huffman --iterations 3 --format csv " + dir.string());
    ASSERT_EQ(result.status, 0) << result.err;
    const auto [records, summaries] = ReadCorpusCsv(result.out);
    ASSERT_EQ(records.size(), 9u);  // memcpy, rle, huffman per file
    ASSERT_EQ(summaries.size(), 2u);
    for (const auto& summary : summaries) {
        double in = 0, out = 0, seconds = 0, logRatio = 0, logMbps = 0;
        int files = 0;
        for (const auto& r : records) {
            if (r.at("codec") == summary.at("codec")) {
                ++files;
                in += std::stod(r.at("input_bytes"));
                out += std::stod(r.at("output_bytes"));
                seconds += std::stod(r.at("median_ms")) / 1e3;
                logRatio += std::log(std::stod(r.at("ratio")));
                logMbps += std::log(std::stod(r.at("mbps_median")));
            }
        }
        const auto near = [](const std::string& text, double value) {
            EXPECT_NEAR(std::stod(text), value, 1e-6 * value) << text;
        };
        EXPECT_EQ(std::stoi(summary.at("files")), files);
        EXPECT_EQ(summary.at("failed"), "0");
        near(summary.at("input_bytes"), in);
        near(summary.at("output_bytes"), out);
        near(summary.at("ratio"), in / out);
        near(summary.at("median_seconds"), seconds);
        near(summary.at("mb_per_second"), in / 1e6 / seconds);
        near(summary.at("geomean_ratio"), std::exp(logRatio / files));
        near(summary.at("geomean_mb_per_second"), std::exp(logMbps / files));
    }
}

TEST_F(CliTest, CorpusSweepIsSummarizedAndDrawnPerSetting) {
    fs::copy_file(TALLOX_SOURCE_DIR "/data/sample.bmp", dir / "a.bmp");
    const fs::path chart = dir / "summary.svg";
    const Result result =
        Run("--codecs jpeg,rle --quality 30,70 --iterations 2 --format json "
            "--plot " +
            chart.string() + " " + dir.string());
    ASSERT_EQ(result.status, 0) << result.err;
    const auto summary = nlohmann::json::parse(result.out)["summary"];
    ASSERT_EQ(summary.size(), 3u);  // one per quality, not the two qualities added up
    EXPECT_EQ(summary[0]["quality"], 30);
    EXPECT_EQ(summary[1]["quality"], 70);
    EXPECT_GT(summary[0]["ratio"].get<double>(), summary[1]["ratio"].get<double>());
    EXPECT_TRUE(summary[2]["quality"].is_null());

    // A marker per summary, JPEG's two as the lossy codecs' diamonds; beside it the
    // rate-distortion charts of the JPEG settings' means, a curve of two points each.
    const auto count = [](const fs::path& path, const std::string& element) {
        std::ifstream in(path);
        const std::string svg{std::istreambuf_iterator<char>(in), {}};
        size_t found = 0;
        for (size_t at = 0; (at = svg.find(element, at)) != std::string::npos; ++at) {
            ++found;
        }
        return found;
    };
    EXPECT_EQ(count(chart, "<circle"), 1u);
    EXPECT_EQ(count(chart, "<path"), 2u);
    for (const char* metric : {"ssimulacra2", "butteraugli-3norm", "psnr", "ssim"}) {
        EXPECT_EQ(count(dir / ("summary-rd-" + std::string(metric) + ".svg"), "<circle"), 2u)
            << metric;
    }
}

TEST_F(CliTest, CorpusFailuresAreRecordsInEveryFormat) {
    // Not bitmaps: JPEG fails on each, RLE measures them.
    Write("a.bmp", Structured(500));
    Write("b.bmp", Structured(500));
    const std::string common = "--codecs jpeg,rle --iterations 2 " + dir.string();
    for (const char* format : {"text", "csv", "json", "markdown", "table"}) {
        const Result result = Run(std::string("--format ") + format + " " + common);
        EXPECT_EQ(result.status, 1) << format;
        EXPECT_NE(result.err.find("2 of "), std::string::npos) << format << ": " << result.err;
        size_t errors = 0;
        for (size_t at = 0; (at = result.out.find(kSaveFailedMessage, at)) != std::string::npos;
             ++at) {
            ++errors;
        }
        EXPECT_EQ(errors, 2u) << format;
        EXPECT_NE(result.out.find("b.bmp"), std::string::npos) << format;
        std::string lower = result.out;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        EXPECT_NE(lower.find("geo"), std::string::npos) << format;  // the summary's means
        // JPEG measured no file: its summary has no figures, not "nan".
        EXPECT_EQ(lower.find("nan"), std::string::npos) << format << ": " << result.out;
    }
    const auto document = nlohmann::json::parse(Run("--format json " + common).out);
    EXPECT_EQ(document["results"].size(), 6u);
    EXPECT_EQ(document["summary"][0]["failed"], 2);
    EXPECT_EQ(document["summary"][1]["files"], 2);

    const Result stopped = Run("--stop-on-error --format csv " + common);
    EXPECT_EQ(stopped.status, 1);
    const CsvTable records = ReadCorpusCsv(stopped.out).first;
    ASSERT_EQ(records.size(), 2u);  // the baseline, then the first failure ends the run
    EXPECT_EQ(records[1].at("error"), kSaveFailedMessage);

    // Real photographs in isolated children: a large image's conversion must not wait for
    // threads the parent had and a forked child lacks.
    fs::copy_file(TALLOX_SOURCE_DIR "/data/sample.bmp", dir / "a.bmp",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(TALLOX_SOURCE_DIR "/data/sample.bmp", dir / "b.bmp",
                  fs::copy_options::overwrite_existing);
    const Result photos = Run("--format csv " + common, "timeout 60 ");
    EXPECT_EQ(photos.status, 0) << photos.err;
}

}  // namespace
}  // namespace tallox

namespace tallox {
namespace {

// What each codec takes of an input: a bitmap's bytes, another image's pixels, a file that is
// no image its bytes; and what is refused before anything is measured.
TEST_F(CliTest, ImagesAreMeasuredByTheirPixelsAndCutOnesRefused) {
    const fs::path images = fs::path(TALLOX_SOURCE_DIR) / "tests/data/images";
    const std::string cut = (dir / "cut.png").string();
    const std::string png = ReadFile(images / "rgba-7x5.png");
    std::ofstream(cut, std::ios::binary) << png.substr(0, png.size() - 20);
    const std::string text = Write("notes.txt", Structured(300)).string();
    const struct {
        std::string arguments;
        int status;
        const char* expected;  // in stdout, or in stderr when the run fails
    } kCases[] = {
        // 7 x 5 RGBA: 140 bytes of samples, whatever the PNG file's length.
        {"--codecs zstd:1 " + (images / "rgba-7x5.png").string(), 0, "\"basis\": \"pixels\""},
        {"--codecs zstd:1 " + (images / "rgba-7x5.png").string(), 0, "\"input_bytes\": 140"},
        {"--codecs zstd:1 --bytes file " + (images / "rgb-7x5.png").string(), 0,
         "\"basis\": \"file\""},
        {"--codecs rle " + (images / "rgb-7x5.bmp").string(), 0, "\"basis\": \"file\""},
        {"--codecs zstd:1 " + text, 0, "\"bpp\": null"},
        // A lossless image codec gives back RGBA exactly; a lossy one is scored.
        {"--codecs png " + (images / "rgba-7x5.png").string(), 0, "\"verified\": true"},
        {"--codecs webp:90 " + (images / "grey-7x5.png").string(), 0, "\"psnr_y\": "},
        {"--codecs rle " + cut, 1, "cut.png: truncated"},
        {"--codecs rle " + (images / "bomb-100000x100000.png").string(), 1, "too large"},
    };
    for (const auto& [arguments, status, expected] : kCases) {
        const Result result = Run("--format json --iterations 1 --no-progress " + arguments);
        EXPECT_EQ(result.status, status) << arguments << ": " << result.err;
        EXPECT_NE((status == 0 ? result.out : result.err).find(expected), std::string::npos)
            << arguments << ": " << result.out << result.err;
    }
}

// The image codecs that take threads get a record per count, each lossless one pixel-exact (the
// lossy one an image of the input's size), libwebp's two threads at most; the table names the
// count, for a codec without parameters too.
TEST_F(CliTest, ThreadCountsGiveTheImageCodecsARecordEach) {
    const std::string image =
        (fs::path(TALLOX_SOURCE_DIR) / "tests/data/images/rgba-7x5.png").string();
    const std::string arguments =
        "--iterations 1 --no-progress --threads 1,3 "
        "--codecs jxlll:1,jxl:1:effort=1,avifll:10,j2kll,webpll:0 " +
        image;
    const Result json = Run("--format json " + arguments);
    ASSERT_EQ(json.status, 0) << json.err;
    using Record = std::tuple<std::string, int, bool>;  // codec, threads, verified
    std::vector<Record> records;
    const nlohmann::json document = nlohmann::json::parse(json.out);
    for (const auto& record : document["results"]) {
        if (record["codec"] != "memcpy") {
            records.emplace_back(record["codec"], record["threads"], record["verified"]);
        }
    }
    EXPECT_EQ(records, (std::vector<Record>{{"jxlll", 1, true},
                                            {"jxlll", 3, true},
                                            {"jxl", 1, true},
                                            {"jxl", 3, true},
                                            {"avifll", 1, true},
                                            {"avifll", 3, true},
                                            {"j2kll", 1, true},
                                            {"j2kll", 3, true},
                                            {"webpll", 1, true},
                                            {"webpll", 2, true}}));
    const Result table = Run("--format table " + arguments);
    ASSERT_EQ(table.status, 0) << table.err;
    for (const char* label :
         {"jxlll -1 \u00d73", "avifll -10 \u00d71", "j2kll \u00d73", "webpll -0 \u00d72"}) {
        EXPECT_NE(table.out.find(label), std::string::npos) << label << "\n" << table.out;
    }
}

// Wrong CPUs and thread counts are usage errors that name the allowed values; threads asked of
// codecs that take none are noted, and those codecs measured once.
TEST_F(CliTest, PinningAndThreadOptionsAreCheckedAndNoted) {
    const std::string input = Write("a.bmp", Structured(2000)).string();
    const struct {
        const char* arguments;
        int status;
        const char* error;  // in stderr; null: no note of codecs without threads
        size_t records;     // memcpy's included
    } kCases[] = {
        {"--cpu 4096 --codecs rle", 2, "--cpu 4096: not a CPU this process may use (allowed: ", 0},
        {"--threads 0 --codecs zstd", 2, "'0' is not a thread count (1 to 256)", 0},
        {"--threads 2,257 --codecs zstd", 2, "'257' is not a thread count (1 to 256)", 0},
        {"--threads 2,4 --codecs rle,zstd:1,lz77", 0,
         "--threads: rle, lz77 take no threads; measured once, on one thread", 5},
        {"--threads 1,2 --codecs lz4", 0, "--threads: lz4 takes no threads", 2},
        {"--threads 2 --codecs zstd:1", 0, nullptr, 2},
    };
    for (const auto& [arguments, status, error, records] : kCases) {
        const Result result = Run(std::string("--format json --iterations 1 --no-progress ") +
                                  arguments + " " + input);
        EXPECT_EQ(result.status, status) << arguments << ": " << result.err;
        EXPECT_EQ(result.err.find(error == nullptr ? "no threads" : error) != std::string::npos,
                  error != nullptr)
            << arguments << ": " << result.err;
        if (status == 0) {
            EXPECT_EQ(nlohmann::json::parse(result.out)["results"].size(), records) << arguments;
        }
    }
}

// The context says how much time the hypervisor stole while the run went on, in every format
// that carries a context: where /proc/stat counts steal, as numbers.
TEST_F(CliTest, TheContextCarriesTheStealOverTheRun) {
    const std::string input = Write("a.bmp", Structured(2000)).string();
    const std::string arguments = " --codecs rle --iterations 1 --no-progress " + input;
    const nlohmann::json document =
        nlohmann::json::parse(Run("--format json" + arguments).out)["conditions"];
    EXPECT_TRUE(document["steal_seconds"].is_number()) << document;
    EXPECT_GE(document["steal_share"].get<double>(), 0.0) << document;

    const std::string lines = Run("--format jsonl" + arguments).out;
    const nlohmann::json last =
        nlohmann::json::parse(lines.substr(lines.rfind('\n', lines.size() - 2) + 1));
    EXPECT_EQ(last["type"], "end") << lines;
    EXPECT_TRUE(last["steal_share"].is_number()) << lines;

    EXPECT_NE(Run("--format markdown" + arguments).out.find("\n- Steal during the run: "),
              std::string::npos);
}

}  // namespace
}  // namespace tallox

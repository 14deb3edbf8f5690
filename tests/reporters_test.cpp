// The reporters as the dialog and the command line choose them: by a file's name, and each
// writing through its sink.
#include "engine/reporters.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace tallox {
namespace {

TEST(ReportersTest, FormatOfAFileIsItsExtensionWhateverItsCase) {
    const struct {
        const char* path;
        std::optional<ReportFormat> format;
    } kCases[] = {
        {"r.txt", ReportFormat::Text},
        {"out/r.CSV", ReportFormat::Csv},
        {"r.json", ReportFormat::Json},
        {"r.Jsonl", ReportFormat::JsonLines},
        {"notes.md", ReportFormat::Markdown},
        {"r.markdown", std::nullopt},  // the format's name is no extension of it
        {"r.table", std::nullopt},
        {"r.text", std::nullopt},
        {"results.csv/report", std::nullopt},  // a folder's extension is not the file's
        {"report", std::nullopt},
    };
    for (const auto& [path, format] : kCases) {
        EXPECT_EQ(ReportFormatOfPath(path), format) << path;
    }
}

TEST(ReportersTest, JsonLinesRecordNamesItsFileBeforeItsFigures) {
    Row row;
    row.file = "images/a.bmp";
    row.codec = "rle";
    row.inputBytes = 10;
    row.outputBytes = 5;
    row.elapsedSeconds = 0.0;  // a ratio of 0 / 0 and MB/s of x / 0 are no JSON numbers
    const FileIdentity file{10, "ab12"};
    const std::string line = JsonLinesRecord(row, &file);
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    const auto record = nlohmann::ordered_json::parse(line);
    std::vector<std::string> keys;
    for (const auto& item : record.items()) {
        keys.push_back(item.key());
    }
    ASSERT_GE(keys.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 5),
              (std::vector<std::string>{"type", "file", "file_bytes", "file_sha256", "codec"}));
    EXPECT_EQ(record["file_bytes"], 10);
    EXPECT_TRUE(record["mb_per_second"].is_null());
    EXPECT_EQ(keys.back(), "error");
}

TEST(ReportersTest, SinksKeepTheirErrorAndDropCarriageReturnsUnlessAsked) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    FileSink sink(full, false);
    sink.Write("text that cannot be written\r\n");
    EXPECT_EQ(sink.Error(), ENOSPC);
    std::fclose(full);

    std::string text;
    StringSink kept(text, true);
    StringSink dropped(text, false);
    kept.Write("a\r\n");
    dropped.Write("b\r\n");
    EXPECT_EQ(text, "a\r\nb\n");
}

}  // namespace
}  // namespace tallox

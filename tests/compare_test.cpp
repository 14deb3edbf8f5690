// Two result files compared: what is flagged, what is noise, and what cannot be read.
#include "cli/compare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/result_file.h"

namespace tallox {
namespace {

// base.json: a JSON document, rle, huffman, jpeg 50 and rice with 12 call times each.
// slower.jsonl: JSON Lines from another processor and Qt; huffman's calls 1.3 times as long,
// jpeg's output and quality changed, rice gone, lz77 new, a summary line and a cut last line.
const std::string kData = TALLOX_SOURCE_DIR "/tests/data/compare/";

struct Output {
    int status;
    std::string out;
    std::string err;
};

Output Compare(const std::string& base, const std::string& next,
               cli::CompareFormat format = cli::CompareFormat::Text,
               std::optional<double> failAbove = std::nullopt) {
    cli::CompareOptions options;
    options.base = base;
    options.next = next;
    options.format = format;
    options.failAbovePercent = failAbove;
    Output output{};
    output.status = cli::RunCompare(options, output.out, output.err);
    return output;
}

// The text table's line for `name`.
std::string Line(const std::string& text, const std::string& name) {
    const size_t start = text.find("\n" + name + " ");
    if (start == std::string::npos) {
        return {};
    }
    return text.substr(start + 1, text.find('\n', start + 1) - start - 1);
}

TEST(CompareTest, AFileAgainstItselfHasNothingSignificant) {
    const Output same = Compare(kData + "base.json", kData + "base.json");
    EXPECT_EQ(same.status, 0) << same.err;
    for (const char* codec : {"rle", "huffman", "jpeg 50", "rice"}) {
        const std::string line = Line(same.out, codec);
        EXPECT_NE(line.find("+0.0% ~"), std::string::npos) << line;
        EXPECT_NE(line.find("1.000"), std::string::npos) << line;  // p
    }
    EXPECT_EQ(same.out.find("note:"), std::string::npos) << same.out;
    EXPECT_NE(same.out.find("4 compared: 0 slower, 0 faster"), std::string::npos) << same.out;
}

TEST(CompareTest, FindsTheSlowerCodecAndTheChangedOutput) {
    const Output text = Compare(kData + "base.json", kData + "slower.jsonl");
    EXPECT_EQ(text.status, 0) << text.err;
    const std::string huffman = Line(text.out, "huffman");
    EXPECT_NE(huffman.find("+30.0%  [+"), std::string::npos) << huffman;  // significant: no ~
    EXPECT_NE(huffman.find("0.000"), std::string::npos) << huffman;
    EXPECT_NE(Line(text.out, "rle").find("+0.0% ~"), std::string::npos) << text.out;
    // Output bytes, bpp, PSNR-Y and SSIM as exact changes.
    const std::string jpeg = Line(text.out, "jpeg 50");
    for (const char* change : {" -23 ", " -0.0002 ", " +0.25 ", " ="}) {
        EXPECT_NE(jpeg.find(change), std::string::npos) << change << " in " << jpeg;
    }
    EXPECT_NE(text.out.find(":\n  rice\n"), std::string::npos) << text.out;  // base only
    EXPECT_NE(text.out.find(":\n  lz77\n"), std::string::npos) << text.out;  // new only
    for (const char* note :
         {"different machines: \"AMD EPYC\" and \"Intel Xeon\"",
          "different library versions: qt 6.4.2 and 6.5.0", "slower.jsonl: line 7 is cut short"}) {
        EXPECT_NE(text.out.find(note), std::string::npos) << note << " in " << text.out;
    }
    EXPECT_NE(text.out.find("3 compared: 1 slower, 0 faster"), std::string::npos) << text.out;

    // --fail-above: only a significant slowdown past the limit fails.
    EXPECT_EQ(
        Compare(kData + "base.json", kData + "slower.jsonl", cli::CompareFormat::Text, 35).status,
        0);
    const Output failed =
        Compare(kData + "base.json", kData + "slower.jsonl", cli::CompareFormat::Text, 25);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("1 significantly slower by more than 25%: huffman (+30.0%)"),
              std::string::npos)
        << failed.err;
}

// The record formats hold the same rows; CSV's and JSON's fields are the figures as numbers.
TEST(CompareTest, RecordFormatsHoldOneRowPerRecord) {
    const Output csv =
        Compare(kData + "base.json", kData + "slower.jsonl", cli::CompareFormat::Csv);
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1 + 5) << csv.out;
    EXPECT_EQ(csv.out.substr(0, csv.out.find(',', csv.out.find(',') + 1)), "file,codec");
    EXPECT_NE(csv.out.find("\n,huffman,,both,2.1126,2.74638,1.3,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("\n,lz77,,new,"), std::string::npos) << csv.out;

    const Output json =
        Compare(kData + "base.json", kData + "slower.jsonl", cli::CompareFormat::Json);
    EXPECT_NE(json.out.find("\"codec\": \"rice\",\n      \"params\": \"\",\n      \"present\": "
                            "\"base\""),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"significant\": true"), std::string::npos) << json.out;

    const Output markdown =
        Compare(kData + "base.json", kData + "slower.jsonl", cli::CompareFormat::Markdown);
    EXPECT_NE(markdown.out.find("\n| huffman | 2.113 | 2.746 | +30.0% |"), std::string::npos)
        << markdown.out;
}

TEST(CompareTest, RefusesFilesThatAreNoResults) {
    struct Case {
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {kData + "not_results.json",
         kData + "not_results.json: not a Tallox result file: no \"tallox\" version"},
        {kData + "schema2.json",
         kData + "schema2.json: result schema version 2, but this program reads version 1"},
        {kData + "missing.json", kData + "missing.json: cannot read it (No such file"},
        {kData, kData + ": cannot read it (Is a directory"},
    };
    for (const Case& c : cases) {
        const Output output = Compare(kData + "base.json", c.file);
        EXPECT_EQ(output.status, 2) << c.file;
        EXPECT_TRUE(output.out.empty()) << output.out;
        EXPECT_EQ(output.err.find("tallox-cli: compare: " + c.message), 0u) << output.err;
    }
}

// Records from before "params" take their JPEG settings as parameters; a cut line in the middle
// of JSON Lines is an error, a record repeated is kept once.
TEST(ResultFileTest, ReadsBothLayouts) {
    const std::string context = R"({"tallox": "1.0.0", "machine": {"cpu": "X"}})";
    const ResultFileRead lines = ParseResultFile(
        context + "\n" +
        R"({"type": "record", "codec": "jpeg", "quality": 75, "subsampling": "444", "optimize": true})"
        "\n"
        R"({"type": "record", "codec": "rle", "median_ms": 1.5, "samples_ms": [1, 2]})"
        "\n"
        R"({"type": "record", "codec": "rle", "median_ms": 9})"
        "\n");
    ASSERT_TRUE(lines.file) << lines.error;
    ASSERT_EQ(lines.file->records.size(), 2u);
    EXPECT_EQ(lines.file->records[0].params, "q75 444 optimize");
    EXPECT_EQ(lines.file->records[1].medianMs, 1.5);
    EXPECT_EQ(lines.file->records[1].samplesMs, (std::vector<double>{1, 2}));
    EXPECT_EQ(lines.file->notes,
              std::vector<std::string>{"line 4 repeats rle; the first one is kept"});

    const ResultFileRead broken = ParseResultFile(context + "\n{\"type\": \"rec\n{}\n");
    EXPECT_EQ(broken.error, "line 2 is not JSON");
    const ResultFileRead badSamples = ParseResultFile(
        context + "\n" + R"({"type": "record", "codec": "rle", "samples_ms": [1, "2"]})");
    EXPECT_EQ(badSamples.error,
              "line 2: the record \"samples_ms\" holds something other than numbers");
    const ResultFileRead onlyContext = ParseResultFile(context + "\n");
    ASSERT_TRUE(onlyContext.file) << onlyContext.error;
    EXPECT_TRUE(onlyContext.file->records.empty());
    EXPECT_EQ(ParseResultFile("").error.find("not a Tallox result file: "), 0u);
}

}  // namespace
}  // namespace tallox

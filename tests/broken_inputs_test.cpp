// Broken and lying files through the whole run, with the real image loader and every codec:
// each gives either a full report whose numbers hold, or the JPEG row's documented message and
// a report of header lines only; never a crash. The lossless sizes of the handmade files are
// checked against tallox-cli encode, which reads the file by another path.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "codecs/working_block.h"
#include "engine/input_file.h"
#include "engine/jpeg_measurement.h"
#include "engine/own_codecs.h"
#include "engine/report.h"
#include "engine/run.h"
#include "platform/image_input.h"
#include "platform/imaging.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"
#include "support/test_data.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLosslessCodecs[] = {"rle", "huffman", "rice", "lz77", "lz77fast"};

enum class Loads { kNo, kYes, kEither };

struct BrokenFile {
    std::string name;
    std::vector<uint8_t> bytes;  // written to a temporary file.bmp
    std::string path;            // or an existing file, used as it is
    Loads loads = Loads::kEither;
    // Sizes checked against direct calls and the command line, which reads the file by its
    // own path. The handmade files are enough for that: the suite's are all plainly readable,
    // and their LZ77 passes would double a long test.
    bool checkSizes = true;
};

void Put16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct BitmapHeader {
    int32_t width = 16;
    int32_t height = 16;
    uint16_t bitCount = 24;
    uint32_t compression = 0;   // 1: RLE8, 2: RLE4
    uint32_t colorsUsed = 0;    // palette entries the header claims
    uint32_t paletteBytes = 0;  // palette bytes actually written
};

// A file header and a 40-byte information header, the palette bytes, then `pixels`. The
// pixel offset follows the claimed palette, wherever the file really ends.
std::vector<uint8_t> Bitmap(const BitmapHeader& header, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> bytes(54 + header.paletteBytes, 0x40);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put32(bytes, 2, static_cast<uint32_t>(bytes.size() + pixels.size()));
    Put32(bytes, 6, 0);
    Put32(bytes, 10, 54 + 4 * header.colorsUsed);
    Put32(bytes, 14, 40);
    Put32(bytes, 18, static_cast<uint32_t>(header.width));
    Put32(bytes, 22, static_cast<uint32_t>(header.height));
    Put16(bytes, 26, 1);
    Put16(bytes, 28, header.bitCount);
    Put32(bytes, 30, header.compression);
    Put32(bytes, 34, static_cast<uint32_t>(pixels.size()));
    Put32(bytes, 38, 2835);
    Put32(bytes, 42, 2835);
    Put32(bytes, 46, header.colorsUsed);
    Put32(bytes, 50, 0);
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return bytes;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

std::vector<BrokenFile> BrokenFiles() {
    const std::vector<uint8_t> pixels16 = test::RandomBytes(16 * 16 * 3, 1);
    const std::vector<uint8_t> valid = Bitmap({}, pixels16);
    BitmapHeader topDown;
    topDown.height = -16;
    BitmapHeader heightMin;
    heightMin.height = std::numeric_limits<int32_t>::min();
    BitmapHeader negativeWidth;
    negativeWidth.width = -16;
    BitmapHeader zeroWidth;
    zeroWidth.width = 0;
    BitmapHeader huge;
    huge.width = huge.height = 100'000;
    // 19,000 x 19,000 pixels take more than 1 GiB even at 3 bytes a pixel.
    BitmapHeader overLimit;
    overLimit.width = overLimit.height = 19'000;
    BitmapHeader paletteCut;
    paletteCut.bitCount = 8;
    paletteCut.colorsUsed = 256;
    paletteCut.paletteBytes = 40;
    BitmapHeader paletteHuge = paletteCut;
    paletteHuge.colorsUsed = 0x7FFF'FFFF;
    paletteHuge.paletteBytes = 1024;
    BitmapHeader rle8;
    rle8.width = 8;
    rle8.height = 2;
    rle8.bitCount = 8;
    rle8.compression = 1;
    rle8.colorsUsed = 2;
    rle8.paletteBytes = 8;
    BitmapHeader rle4 = rle8;
    rle4.bitCount = 4;
    rle4.compression = 2;
    BitmapHeader badBits;
    badBits.bitCount = 7;
    std::vector<uint8_t> offsetPastEnd = valid;
    Put32(offsetPastEnd, 10, 1'000'000);
    const std::string text = "Dear user,\nthis is a letter, not a picture.\n";

    std::vector<BrokenFile> files = {
        {"valid", valid, "", Loads::kYes},
        {"empty", {}, "", Loads::kNo},
        {"one_byte", {'B'}, "", Loads::kNo},
        {"signature_only", {'B', 'M'}, "", Loads::kNo},
        {"file_header_cut", Cut(valid, 10), "", Loads::kNo},
        {"info_header_cut", Cut(valid, 34), "", Loads::kNo},
        {"header_without_pixels", Cut(valid, 54), "", Loads::kEither},
        {"pixels_cut_short", Cut(valid, 54 + 300), "", Loads::kEither},
        {"top_down", Bitmap(topDown, pixels16), "", Loads::kYes},
        {"height_int_min", Bitmap(heightMin, pixels16), "", Loads::kEither},
        {"negative_width", Bitmap(negativeWidth, pixels16), "", Loads::kEither},
        {"zero_width", Bitmap(zeroWidth, pixels16), "", Loads::kEither},
        {"bit_count_7", Bitmap(badBits, pixels16), "", Loads::kEither},
        {"pixel_offset_past_end", offsetPastEnd, "", Loads::kEither},
        {"claims_100000_by_100000", Bitmap(huge, test::RandomBytes(4096, 2)), "", Loads::kNo},
        {"decoded_size_over_1_gib", Bitmap(overLimit, test::RandomBytes(65'536, 3)), "",
         Loads::kNo},
        {"palette_past_end", Bitmap(paletteCut, {}), "", Loads::kEither},
        {"palette_count_huge", Bitmap(paletteHuge, test::RandomBytes(64, 4)), "", Loads::kEither},
        // Runs of 100 pixels in an 8 x 2 image, and no end-of-line or end-of-bitmap marker.
        {"rle8_runs_past_image", Bitmap(rle8, {100, 1, 100, 1, 100, 0, 100, 1}), "",
         Loads::kEither},
        // A delta that moves 200 pixels right and 200 rows up, then a run.
        {"rle8_delta_past_image", Bitmap(rle8, {0, 2, 200, 200, 5, 1, 0, 1}), "", Loads::kEither},
        {"rle8_absolute_past_end", Bitmap(rle8, {0, 250, 1, 0}), "", Loads::kEither},
        {"rle4_runs_past_image", Bitmap(rle4, {100, 0x10, 100, 0x01, 0, 0, 0, 1}), "",
         Loads::kEither},
        {"text", std::vector<uint8_t>(text.begin(), text.end()), "", Loads::kNo},
    };
    for (const char* folder : {"b", "q"}) {
        const fs::path suite = fs::path(TALLOX_SHARED_DIR) / "bmpsuite" / folder;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(suite, error)) {
            if (entry.path().extension() == ".bmp") {
                std::string name = std::string(folder) + "_" + entry.path().stem().string();
                for (char& c : name) {
                    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                }
                files.push_back({name, {}, entry.path().string(), Loads::kEither, false});
            }
        }
    }
    return files;
}

class BrokenInputTest : public ::testing::TestWithParam<BrokenFile> {
protected:
    static void SetUpTestSuite() { s_session = std::make_unique<ImagingSession>(); }
    static void TearDownTestSuite() { s_session.reset(); }

    void SetUp() override {
        m_path = GetParam().path;
        if (m_path.empty()) {
            m_path = (m_dir / "file.bmp").string();
            std::ofstream(m_path, std::ios::binary)
                .write(reinterpret_cast<const char*>(GetParam().bytes.data()),
                       static_cast<std::streamsize>(GetParam().bytes.size()));
        }
    }

    BenchmarkSettings Settings(bool jpeg) const {
        BenchmarkSettings settings;
        settings.filePath = m_path;
        settings.fileName = fs::path(m_path).filename().string();
        settings.Select("jpeg", jpeg);
        settings.Select("rle", true);
        settings.Select("huffman", true);
        settings.Select("rice", true);
        settings.Select("lz77", true);
        settings.Select("lz77fast", true);
        settings.iterations = 1;
        settings.jpegQuality = 75;
        return settings;
    }

    // The size of what `tallox-cli encode` writes for the codec, or -1 when it fails.
    int64_t CliEncodedSize(const std::string& codec) const {
        const fs::path out = m_dir / (codec + ".out");
        const std::string command = std::string(TALLOX_CLI_PATH) + " encode " + codec + " '" +
                                    m_path + "' -o '" + out.string() + "' 2>/dev/null";
        const int status = std::system(command.c_str());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
        return static_cast<int64_t>(fs::file_size(out));
    }

    void CheckLosslessRows(const test::RecordingHost& host) const;

    // The codec called once on the file's bytes in a block of its own.
    uint32_t DirectCount(const OwnCodec& codec) const {
        const std::vector<uint8_t> input = test::ReadFileBytes(m_path);
        const uint32_t len = static_cast<uint32_t>(input.size());
        std::vector<uint8_t> block(WorkingBlockSize(len));
        std::copy(input.begin(), input.end(), block.begin());
        std::vector<int32_t> table(WorkTableSize(len) / sizeof(int32_t));
        return codec.encode(block.data(), block.data() + len, len, table.data());
    }

    // The ratio of every row as the report prints it, in row order.
    static std::vector<std::string> PrintedRatios(const std::string& report) {
        std::vector<std::string> ratios;
        size_t at = std::string(kReportHeader).size();
        while (at < report.size()) {
            const size_t end = report.find("\r\n", at);
            const size_t mark = report.rfind("\t\t1 : ", end);
            ratios.push_back(report.substr(mark + 6, end - mark - 6));
            at = end + 2;
        }
        return ratios;
    }

    static std::string Ratio(double reference, double compressed) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", reference / compressed);
        return text;
    }

    static std::unique_ptr<ImagingSession> s_session;
    test::TempFolder m_folder{"tallox_broken"};
    const fs::path m_dir = m_folder.path();
    std::string m_path;
};

std::unique_ptr<ImagingSession> BrokenInputTest::s_session;

// Every lossless row of a run that reached them: in order, over the whole file, with the count
// a direct call gives (handmade files: and tallox-cli encode) and the ratio printed from it.
void BrokenInputTest::CheckLosslessRows(const test::RecordingHost& host) const {
    ASSERT_GE(host.rows.size(), std::size(kLosslessCodecs));
    const size_t first = host.rows.size() - std::size(kLosslessCodecs);
    const std::vector<std::string> ratios = PrintedRatios(host.LastReport());
    ASSERT_EQ(ratios.size(), host.rows.size());
    const uint64_t length = fs::file_size(m_path);
    for (size_t i = 0; i < std::size(kLosslessCodecs); ++i) {
        SCOPED_TRACE(kLosslessCodecs[i]);
        const Row& result = host.rows[first + i];
        EXPECT_EQ(result.codec, kLosslessCodecs[i]);
        EXPECT_EQ(result.inputBytes, length);
        if (GetParam().checkSizes) {
            EXPECT_EQ(result.outputBytes, DirectCount(OwnCodecs()[i]));
            EXPECT_EQ(int64_t{result.outputBytes}, CliEncodedSize(kLosslessCodecs[i]));
        }
        // 0 / 0 for the empty file: whatever the formatting library prints for NaN.
        EXPECT_EQ(ratios[first + i], Ratio(static_cast<double>(length), result.outputBytes));
    }
}

TEST_P(BrokenInputTest, FullReportOrJpegMessage) {
    const std::optional<Image> image = PlatformImaging().Load(m_path);
    if (GetParam().loads == Loads::kYes) {
        ASSERT_TRUE(image.has_value());
    }
    if (GetParam().loads == Loads::kNo) {
        ASSERT_FALSE(image.has_value());
    }

    test::RecordingHost host;
    RunBenchmark(Settings(true), host);
    // A bitmap that ends before the pixels its header declares is refused whatever the codecs,
    // with the decoder's word for it, never measured as if whole.
    const ImageResult decoded = DecodeImageFile(m_path);
    if (const auto* error = std::get_if<ImageError>(&decoded);
        error != nullptr && error->message.starts_with("truncated")) {
        EXPECT_EQ(host.messages, std::vector<std::string>{error->message});
        EXPECT_TRUE(host.rows.empty());
        test::RecordingHost lossless;
        RunBenchmark(Settings(false), lossless);
        EXPECT_EQ(lossless.messages, std::vector<std::string>{error->message});
        EXPECT_TRUE(lossless.rows.empty());
        return;
    }
    if (!image) {
        EXPECT_EQ(host.messages, std::vector<std::string>{kSaveFailedMessage});
        EXPECT_EQ(host.LastReport(), kReportHeader);
        EXPECT_TRUE(host.rows.empty());
        // Without the JPEG row the same file runs every lossless codec to the end.
        test::RecordingHost lossless;
        RunBenchmark(Settings(false), lossless);
        EXPECT_TRUE(lossless.messages.empty());
        ASSERT_EQ(lossless.rows.size(), std::size(kLosslessCodecs));
        CheckLosslessRows(lossless);
        return;
    }
    EXPECT_TRUE(host.messages.empty());
    ASSERT_EQ(host.rows.size(), 1 + std::size(kLosslessCodecs));
    const Row& jpeg = host.rows[0];
    EXPECT_EQ(jpeg.codec, "jpeg");
    EXPECT_EQ(jpeg.inputBytes, image->width * image->height * 3);
    EXPECT_GT(jpeg.outputBytes, 0u);
    EXPECT_EQ(PrintedRatios(host.LastReport())[0], Ratio(jpeg.inputBytes, jpeg.outputBytes));
    CheckLosslessRows(host);
}

INSTANTIATE_TEST_SUITE_P(Bmp, BrokenInputTest, ::testing::ValuesIn(BrokenFiles()),
                         [](const ::testing::TestParamInfo<BrokenFile>& param) {
                             return param.param.name;
                         });

// What tallox-cli encode refuses, as the run does, with exit status 1 and the message on stderr:
// a directory, and a file longer than 32 bits (sparse, refused before anything is read or
// allocated).
TEST(BrokenInputCommandLine, EncodeRefusesWhatTheRunRefuses) {
    const fs::path dir =
        fs::path(::testing::TempDir()) / ("tallox_broken_cli_" + std::to_string(getpid()));
    fs::create_directories(dir / "folder.bmp");
    const fs::path sparse = dir / "sparse.bmp";
    std::ofstream(sparse, std::ios::binary).put('B');
    fs::resize_file(sparse, uint64_t{1} << 32);
    const struct {
        fs::path input;
        const char* message;
    } cases[] = {{dir / "folder.bmp", kReadFailedMessage}, {sparse, kTooLargeMessage}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.string());
        const fs::path out = dir / "out";
        const fs::path err = dir / "err";
        const std::string command = std::string(TALLOX_CLI_PATH) + " encode huffman '" +
                                    c.input.string() + "' -o '" + out.string() + "' 2>'" +
                                    err.string() + "'";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
        std::ifstream in(err);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        // The path, the message, and the system's reason when there is one.
        EXPECT_EQ(text.rfind("tallox-cli: " + c.input.string() + ": " + c.message, 0), 0u) << text;
        EXPECT_FALSE(fs::exists(out));
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tallox

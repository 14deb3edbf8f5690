// JPEG XL, AVIF and JPEG 2000 through the registry, as the run drives them: created from a
// --codecs setting, laid out, prepared for the image's shape, encoding twice into the same
// area and decoding into the run's room of the input's size plus one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/codec.h"
#include "engine/input_file.h"
#include "support/guarded_area.h"
#include "support/test_data.h"

namespace tallox {
namespace {

constexpr uint8_t kFill = test::kAreaFill;
constexpr size_t kGuard = 64;

struct Case {
    const char* setting;  // as --codecs takes it
    const char* label;    // the report's label, without its tabs
    double psnrFloor;     // lossy: the least PSNR of the 33x17 images, in dB
};

// Fast settings where the defaults are slow; the named parameters through the grammar.
const Case kCases[] = {
    {"jxlll:3", "jxlll -3", 0},
    {"jxl:1.5:effort=3", "jxl d1.5 effort=3", 35},
    {"avifll:9", "avifll -9", 0},
    {"avif:30:speed=9:yuv=444", "avif q30 speed=9 yuv=444", 35},
    {"avif:24:speed=9", "avif q24 speed=9", 30},
    {"j2kll", "j2kll", 0},
    {"j2k:20", "j2k r20", 25},
};

struct Shape {
    uint32_t width, height, channels;
};

// A gradient with a little texture, so that a lossless coder cannot predict every sample and
// a lossy one has something to keep; the channels differ.
std::vector<uint8_t> Pattern(const Shape& shape) {
    std::vector<uint8_t> pixels;
    for (uint32_t y = 0; y < shape.height; ++y) {
        for (uint32_t x = 0; x < shape.width; ++x) {
            for (uint32_t c = 0; c < shape.channels; ++c) {
                pixels.push_back(static_cast<uint8_t>(20 + x * 120 / shape.width +
                                                      y * 60 / shape.height + c * 15 +
                                                      (x * 31 + y * 17 + c * 7) % 5));
            }
        }
    }
    return pixels;
}

double Psnr(const std::vector<uint8_t>& a, std::span<const uint8_t> b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

CodecSetting SettingOf(const char* text) {
    const Result<std::vector<CodecSetting>> parsed = ParseCodecList(text, DefaultRegistry());
    EXPECT_TRUE(parsed.ok()) << text << ": " << (parsed ? "" : parsed.error().message);
    return parsed && parsed->size() == 1 ? parsed->front() : CodecSetting{};
}

// One codec prepared for one image, its output area in a block as the run lays it out.
struct Prepared {
    std::unique_ptr<CodecInstance> codec;
    WorkingBlock block;
    Status status = Ok{};
};

Prepared Prepare(const CodecSetting& setting, const Shape& shape, uint64_t bytes) {
    Prepared prepared;
    const CodecEntry& entry = *DefaultRegistry().Find(setting.name);
    Result<std::unique_ptr<CodecInstance>> made = entry.create(ValuesOf(entry, setting), {});
    if (!made) {
        prepared.status = made.error();
        return prepared;
    }
    prepared.codec = std::move(*made);
    if (!FillBlock({}, prepared.codec->Layout(bytes), prepared.block)) {
        prepared.status = Error{"no block"};
        return prepared;
    }
    prepared.status = prepared.codec->Prepare(
        {bytes, nullptr, shape.width, shape.height, shape.channels}, prepared.block);
    return prepared;
}

// Encodes `pixels` twice into an area prefilled with kFill: the two streams must be the same
// and every byte past them untouched.
std::vector<uint8_t> EncodeTwice(Prepared& prepared, const std::vector<uint8_t>& pixels) {
    const std::span<uint8_t> output(prepared.block.Output(), prepared.block.OutputBytes());
    std::vector<uint8_t> first;
    for (int call = 0; call < 2; ++call) {
        std::memset(output.data(), kFill, output.size());
        const Result<std::span<const uint8_t>> encoded = prepared.codec->Encode(pixels, output);
        if (!encoded) {
            ADD_FAILURE() << encoded.error().message;
            return {};
        }
        const std::vector<uint8_t> stream(encoded->begin(), encoded->end());
        EXPECT_EQ(encoded->data(), output.data());
        EXPECT_TRUE(test::UntouchedFrom({output.begin(), output.end()}, stream.size()));
        EXPECT_TRUE(call == 0 || stream == first) << "the second call wrote another stream";
        first = stream;
    }
    return first;
}

// Decodes into the run's room (the input's bytes plus one) with guard bytes behind it.
Result<size_t> DecodeGuarded(CodecInstance& codec, const std::vector<uint8_t>& stream,
                             size_t inputBytes, std::vector<uint8_t>& decoded) {
    decoded.assign(inputBytes + 1 + kGuard, kFill);
    const Result<size_t> size = codec.Decode(stream, {decoded.data(), inputBytes + 1});
    EXPECT_TRUE(test::UntouchedFrom(decoded, inputBytes + 1)) << "written past the room";
    return size;
}

// `pixels` of `shape` through `setting`: prepared, encoded twice (EncodeTwice) and decoded into
// the guarded room. The decoded samples, or nothing, the fault reported, when a step fails or
// gives other than the input's size.
std::optional<std::vector<uint8_t>> RoundTrip(const CodecSetting& setting, const Shape& shape,
                                              const std::vector<uint8_t>& pixels) {
    Prepared prepared = Prepare(setting, shape, pixels.size());
    if (!prepared.status) {
        ADD_FAILURE() << prepared.status.error().message;
        return std::nullopt;
    }
    const std::vector<uint8_t> stream = EncodeTwice(prepared, pixels);
    if (stream.empty()) {
        ADD_FAILURE() << "no stream";
        return std::nullopt;
    }
    std::vector<uint8_t> decoded;
    const Result<size_t> size = DecodeGuarded(*prepared.codec, stream, pixels.size(), decoded);
    if (!size) {
        ADD_FAILURE() << size.error().message;
        return std::nullopt;
    }
    EXPECT_EQ(*size, pixels.size());
    if (*size != pixels.size()) {
        return std::nullopt;
    }
    decoded.resize(*size);
    return decoded;
}

TEST(ImageCodecsB, RoundTripEveryShapeAndChannelCount) {
    const Shape kShapes[] = {{1, 1, 1}, {1, 1, 3},   {1, 1, 4},   {7, 5, 1},  {7, 5, 3},
                             {7, 5, 4}, {33, 17, 1}, {33, 17, 3}, {33, 17, 4}};
    for (const Case& c : kCases) {
        const CodecSetting setting = SettingOf(c.setting);
        const CodecEntry* entry = DefaultRegistry().Find(setting.name);
        ASSERT_NE(entry, nullptr) << c.setting;
        EXPECT_EQ(entry->info.input, CodecInput::Pixels) << c.setting;
        EXPECT_EQ(entry->info.lossy, c.psnrFloor > 0) << c.setting;
        EXPECT_EQ(LabelOf(*entry, ValuesOf(*entry, setting)), TabbedLabel(c.label));
        for (const Shape& shape : kShapes) {
            const std::string what = std::string(c.setting) + " " + std::to_string(shape.width) +
                                     "x" + std::to_string(shape.height) + "x" +
                                     std::to_string(shape.channels);
            SCOPED_TRACE(what);
            const std::vector<uint8_t> pixels = Pattern(shape);
            const std::optional<std::vector<uint8_t>> decoded = RoundTrip(setting, shape, pixels);
            ASSERT_TRUE(decoded.has_value());
            const std::span<const uint8_t> image(*decoded);
            if (!entry->info.lossy) {
                EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), image.begin()));
            } else if (shape.width == 33) {
                EXPECT_GE(Psnr(pixels, image), c.psnrFloor);
            }
        }
    }
}

TEST(ImageCodecsB, RefusesOtherChannelCountsAndDamagedStreams) {
    const Shape shape{33, 17, 3};
    const std::vector<uint8_t> pixels = Pattern(shape);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.setting);
        const CodecSetting setting = SettingOf(c.setting);
        const Prepared twoChannels = Prepare(setting, {33, 17, 2}, 33 * 17 * 2);
        ASSERT_FALSE(twoChannels.status.ok());
        EXPECT_NE(twoChannels.status.error().message.find("not 2 channels"), std::string::npos);

        Prepared prepared = Prepare(setting, shape, pixels.size());
        ASSERT_TRUE(prepared.status.ok()) << prepared.status.error().message;
        const std::vector<uint8_t> stream = EncodeTwice(prepared, pixels);
        ASSERT_GT(stream.size(), 64u);
        std::vector<uint8_t> decoded;
        // Bytes that are no stream of the codec's at all, and a stream whose head is lost.
        for (const std::vector<uint8_t>& junk :
             {test::RandomBytes(stream.size(), 7), std::vector<uint8_t>(stream.size(), 0),
              std::vector<uint8_t>(stream.begin() + 16, stream.end())}) {
            EXPECT_FALSE(DecodeGuarded(*prepared.codec, junk, pixels.size(), decoded).ok());
        }
        // Streams cut short or with bytes changed: a decoder may still make an image of them
        // (JPEG 2000 decodes what layers it has), but never of another size.
        std::vector<uint8_t> flipped = stream;
        for (size_t i = stream.size() / 3; i < stream.size(); i += 7) {
            flipped[i] ^= 0x5A;
        }
        for (const std::vector<uint8_t>& damaged :
             {std::vector<uint8_t>(stream.begin(), stream.begin() + stream.size() / 2),
              std::vector<uint8_t>(stream.begin(), stream.end() - 1), flipped}) {
            const Result<size_t> size =
                DecodeGuarded(*prepared.codec, damaged, pixels.size(), decoded);
            EXPECT_TRUE(!size.ok() || *size == pixels.size());
        }
        // The decoder is whole after refusing: the good stream decodes again.
        const Result<size_t> again = DecodeGuarded(*prepared.codec, stream, pixels.size(), decoded);
        ASSERT_TRUE(again.ok()) << again.error().message;
        EXPECT_EQ(*again, pixels.size());
    }
}

// Uniform noise, the least compressible image, at each codec's most expanding setting: the
// stream fits the output area the layout asked for, and a lossless one still decodes exactly.
TEST(ImageCodecsB, NoiseFitsTheOutputArea) {
    for (const char* text : {"jxlll:1", "jxl:0.1:effort=3", "avifll:10", "avif:0:speed=10:yuv=444",
                             "j2kll", "j2k:1"}) {
        for (const uint32_t channels : {1u, 3u, 4u}) {
            SCOPED_TRACE(std::string(text) + " " + std::to_string(channels) + " channels");
            const std::vector<uint8_t> pixels = test::RandomBytes(96 * 64 * channels, channels);
            const std::optional<std::vector<uint8_t>> decoded =
                RoundTrip(SettingOf(text), {96, 64, channels}, pixels);
            ASSERT_TRUE(decoded.has_value());
            if (!DefaultRegistry().Find(SettingOf(text).name)->info.lossy) {
                EXPECT_EQ(*decoded, pixels);
            }
        }
    }
}

}  // namespace
}  // namespace tallox

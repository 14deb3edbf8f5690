// The image codecs through the registry, as the run drives them: made by name, laid out,
// prepared for the image's shape, encoded into the output area and decoded back; and once
// through tallox-cli on the sample image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/codec.h"
#include "engine/input_file.h"
#include "support/command.h"
#include "support/guarded_area.h"
#include "support/test_data.h"

namespace tallox {
namespace {

struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;
    std::vector<uint8_t> samples;
};

// Gradients with a little texture; every fifth pixel of an RGBA image fully transparent, so
// that a coder that drops the colour under it shows.
Pixels Pattern(uint32_t width, uint32_t height, uint32_t channels) {
    Pixels pixels{width, height, channels, {}};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < channels; ++c) {
                const uint32_t value = c == 3 ? ((x + y) % 5 == 0 ? 0 : 128 + x * 3)
                                              : x * 5 + y * 3 + c * 60 + (x * y) % 7;
                pixels.samples.push_back(static_cast<uint8_t>(value));
            }
        }
    }
    return pixels;
}

// Smooth gradients, what a lossy coder is made for: its chroma subsampling loses little.
Pixels Smooth(uint32_t width, uint32_t height, uint32_t channels) {
    Pixels pixels{width, height, channels, {}};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < channels; ++c) {
                pixels.samples.push_back(
                    static_cast<uint8_t>(c == 3 ? 255 - x : 40 + x * 2 + y + c * 20));
            }
        }
    }
    return pixels;
}

Pixels Noise(uint32_t width, uint32_t height, uint32_t channels) {
    return {width, height, channels, test::RandomBytes(size_t{width} * height * channels, 7)};
}

// One codec at one setting, prepared for one image as the run prepares it.
class Driver {
public:
    Driver(const std::string& name, const std::vector<double>& values, const Pixels& pixels)
        : pixels_(pixels) {
        const CodecEntry* entry = DefaultRegistry().Find(name);
        if (entry == nullptr) {
            status_ = Error{"no codec " + name};
            return;
        }
        Result<std::unique_ptr<CodecInstance>> made = entry->create(values, {});
        if (!made) {
            status_ = made.error();
            return;
        }
        codec_ = std::move(*made);
        if (!FillBlock({}, codec_->Layout(pixels.samples.size()), block_)) {
            status_ = Error{"no block"};
            return;
        }
        const InputShape shape{pixels.samples.size(), nullptr, pixels.width, pixels.height,
                               pixels.channels};
        status_ = codec_->Prepare(shape, block_);
    }

    const Status& Prepared() const { return status_; }

    Result<std::vector<uint8_t>> Encode() {
        const Result<std::span<const uint8_t>> encoded =
            codec_->Encode(pixels_.samples, {block_.Output(), block_.OutputBytes()});
        if (!encoded) {
            return encoded.error();
        }
        return std::vector<uint8_t>(encoded->begin(), encoded->end());
    }

    // Decodes into room for `room` samples and one more, behind which guard bytes must stay
    // untouched; the decoded samples.
    Result<std::vector<uint8_t>> Decode(const std::vector<uint8_t>& stream, size_t room) {
        std::vector<uint8_t> area(room + 1 + 64, test::kAreaFill);
        const Result<size_t> count = codec_->Decode(stream, {area.data(), room + 1});
        EXPECT_TRUE(test::UntouchedFrom(area, room + 1)) << "decoding wrote past its room";
        if (!count) {
            return count.error();
        }
        EXPECT_LE(*count, room + 1);
        area.resize(std::min(*count, room + 1));
        return area;
    }

private:
    Pixels pixels_;
    std::unique_ptr<CodecInstance> codec_;
    WorkingBlock block_;
    Status status_ = Ok{};
};

struct Setting {
    std::string name;
    std::vector<double> values;
};

std::string Describe(const Setting& setting, const Pixels& pixels) {
    std::string text = setting.name;
    for (const double value : setting.values) {
        text.append(":").append(FormatValue(value));
    }
    text.append(" ").append(std::to_string(pixels.width)).append("x");
    text.append(std::to_string(pixels.height)).append("x").append(std::to_string(pixels.channels));
    return text;
}

const std::vector<Setting> kLossless{
    {"png", {6, 5}}, {"png", {0, 0}}, {"png", {9, 4}}, {"qoi", {}},
    {"webpll", {0}}, {"webpll", {9}}, {"jpegls", {}},
};

TEST(ImageCodecs, LosslessGiveBackEverySampleOfGreyRgbAndRgba) {
    std::vector<Pixels> images;
    for (const uint32_t channels : {1u, 3u, 4u}) {
        for (const auto& [width, height] : {std::pair{1u, 1u}, {7u, 5u}, {33u, 17u}}) {
            images.push_back(Pattern(width, height, channels));
        }
        // Noise is the encoders' worst case: it must fit the layout's output area.
        images.push_back(Noise(96, 64, channels));
    }
    for (const Setting& setting : kLossless) {
        for (const Pixels& pixels : images) {
            SCOPED_TRACE(Describe(setting, pixels));
            Driver driver(setting.name, setting.values, pixels);
            ASSERT_TRUE(driver.Prepared()) << driver.Prepared().error().message;
            // Twice, as the timed calls reuse what Prepare made.
            for (int call = 0; call < 2; ++call) {
                const Result<std::vector<uint8_t>> stream = driver.Encode();
                ASSERT_TRUE(stream) << stream.error().message;
                const Result<std::vector<uint8_t>> decoded =
                    driver.Decode(*stream, pixels.samples.size());
                ASSERT_TRUE(decoded) << decoded.error().message;
                EXPECT_EQ(*decoded, pixels.samples);
            }
        }
    }
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double difference = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += difference * difference;
    }
    return sum == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

TEST(ImageCodecs, LossyDecodesToTheImagesSizeAndCloseToIt) {
    struct Case {
        std::vector<double> values;
        double floor;  // dB, over every sample
    };
    for (const Case& c : {Case{{75, 4}, 30.0}, Case{{100, 0}, 38.0}, Case{{5, 6}, 20.0}}) {
        for (const uint32_t channels : {1u, 3u, 4u}) {
            for (const auto& [width, height] : {std::pair{1u, 1u}, {33u, 17u}, {64u, 48u}}) {
                const Pixels pixels = Smooth(width, height, channels);
                SCOPED_TRACE(Describe({"webp", c.values}, pixels));
                Driver driver("webp", c.values, pixels);
                ASSERT_TRUE(driver.Prepared()) << driver.Prepared().error().message;
                const Result<std::vector<uint8_t>> stream = driver.Encode();
                ASSERT_TRUE(stream) << stream.error().message;
                const Result<std::vector<uint8_t>> decoded =
                    driver.Decode(*stream, pixels.samples.size());
                ASSERT_TRUE(decoded) << decoded.error().message;
                ASSERT_EQ(decoded->size(), pixels.samples.size());
                EXPECT_GT(Psnr(*decoded, pixels.samples), c.floor);
            }
        }
    }
}

TEST(ImageCodecs, DamagedStreamsAreRefusedAndNeverWritePastTheRoom) {
    std::vector<Setting> settings = kLossless;
    settings.push_back({"webp", {75, 4}});
    for (const Setting& setting : settings) {
        for (const uint32_t channels : {1u, 3u, 4u}) {
            const Pixels pixels = Pattern(33, 17, channels);
            SCOPED_TRACE(Describe(setting, pixels));
            Driver driver(setting.name, setting.values, pixels);
            ASSERT_TRUE(driver.Prepared());
            const Result<std::vector<uint8_t>> stream = driver.Encode();
            ASSERT_TRUE(stream);
            const size_t room = pixels.samples.size();
            // A whole stream of this image into the room of a smaller one.
            EXPECT_FALSE(driver.Decode(*stream, room / 3));
            // Bytes that are no stream at all, and nothing.
            EXPECT_FALSE(driver.Decode(test::RandomBytes(300, 11), room));
            EXPECT_FALSE(driver.Decode({}, room));
            // Cut short, or a byte changed in its middle: refused or not the image (QOI and
            // WebP keep what they decoded), but never more than the room.
            std::vector<uint8_t> cut(stream->begin(), stream->begin() + stream->size() / 2);
            std::vector<uint8_t> changed = *stream;
            changed[changed.size() / 2] ^= 0x5A;
            for (const std::vector<uint8_t>& damaged : {cut, changed}) {
                const Result<std::vector<uint8_t>> decoded = driver.Decode(damaged, room);
                if (decoded && setting.name == "webp") {
                    continue;  // lossy: a damaged stream may still decode to a close image
                }
                EXPECT_TRUE(!decoded || *decoded != pixels.samples);
            }
        }
    }
}

TEST(ImageCodecs, OtherChannelCountsAreRefusedByName) {
    const Pixels two{5, 4, 2, std::vector<uint8_t>(40, 9)};
    for (const char* name : {"png", "qoi", "webpll", "webp", "jpegls"}) {
        Driver driver(name, ValuesOf(*DefaultRegistry().Find(name), {name, {}}), two);
        ASSERT_FALSE(driver.Prepared()) << name;
        EXPECT_EQ(
            driver.Prepared().error().message,
            std::string(name).append(": takes 1 (grey), 3 (RGB) or 4 (RGBA) channels, not 2"));
    }
}

// The five through the real command line on the sample image: every row verified or, for the
// lossy one, measured for quality, each with its bits per pixel.
TEST(ImageCodecs, CommandLineMeasuresAndVerifiesEveryOne) {
    const std::string command = std::string(TALLOX_CLI_PATH) +
                                " --codecs png:6,qoi,webpll:6,webp:75,jpegls --iterations 2"
                                " --format json " +
                                test::SampleImagePath() + " 2>/dev/null";
    const auto [status, out] = test::RunCommand(command);
    ASSERT_EQ(status, 0) << out;
    const nlohmann::json records = nlohmann::json::parse(out);
    std::vector<std::string> codecs;
    for (const nlohmann::json& row : records["results"]) {
        if (row["codec"] == "memcpy") {
            continue;
        }
        const std::string codec = row["codec"];
        codecs.push_back(codec);
        SCOPED_TRACE(codec);
        EXPECT_EQ(row["verified"], true);
        EXPECT_EQ(row["verified_bytes"], row["input_bytes"]);
        EXPECT_GT(row["bpp"].get<double>(), 0.0);
        EXPECT_LT(row["bpp"].get<double>(), 24.0);
        EXPECT_GT(row["decode_mbps_median"].get<double>(), 0.0);
        EXPECT_EQ(row["psnr_rgb"].is_null(), codec != "webp");
    }
    EXPECT_EQ(codecs, (std::vector<std::string>{"png", "qoi", "webpll", "webp", "jpegls"}));
}

}  // namespace
}  // namespace tallox

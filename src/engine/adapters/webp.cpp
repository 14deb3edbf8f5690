// WebP through libwebp, lossless (webpll) and lossy (webp). The configuration and the picture
// are made in Prepare; each call imports the pixels into the picture (the library allocates its
// ARGB or YUV planes there) and runs WebPEncode, which builds its encoder inside the call, as
// cwebp does per image; the bytes go through a writer straight into the output area. WebP has
// no grey: a grey image is spread to RGB before each encoding and decoded to RGB, of which the
// green samples are the grey.
//
// libwebp's threads are a switch, not a count: the encoder's thread_level and the decoder's
// use_threads each add one worker beside the calling thread (the lossy encoder analyses and
// codes the alpha plane there, the lossless one tries a second set of transforms there at its
// higher efforts, the lossy decoder filters there), so the codecs take at most two threads.
#include <webp/decode.h>
#include <webp/encode.h>

#include <cstring>
#include <vector>

#include "engine/adapters/library_codecs.h"
#include "engine/adapters/pixel_input.h"
#include "engine/codec.h"
#include "engine/input_file.h"

namespace tallox {
namespace {

// Neither coder has a documented bound. On noise, their worst case, lossless writes the
// samples and a few hundred bytes, lossy at quality 100 under a byte a sample; half again plus
// 64 KiB for headers and the alpha plane leaves room to spare, and the writer refuses to go
// past the area in any case.
uint64_t WebpBound(uint64_t bytes) { return bytes + bytes / 2 + 65536; }

std::string VersionText(int version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xff) + "." +
           std::to_string(version & 0xff);
}

// The encoder's bytes at the area's next bytes; 0, which fails the encoding, when it is full.
struct Sink {
    std::span<uint8_t> area;
    size_t written = 0;

    static int Write(const uint8_t* bytes, size_t length, const WebPPicture* picture) {
        auto& sink = *static_cast<Sink*>(picture->custom_ptr);
        if (length > sink.area.size() - sink.written) {
            return 0;
        }
        if (length > 0) {
            std::memcpy(sink.area.data() + sink.written, bytes, length);
        }
        sink.written += length;
        return 1;
    }
};

class WebpInstance final : public CodecInstance {
public:
    // `level` is the lossless effort or the lossy quality.
    WebpInstance(bool lossless, float level, int method, int threads)
        : lossless_(lossless), level_(level), method_(method), threads_(threads) {}
    ~WebpInstance() override { WebPPictureFree(&picture_); }

    BlockLayout Layout(uint64_t inputBytes) const override {
        return {WebpBound(inputBytes), false, false};
    }
    Status Prepare(const InputShape& shape, WorkingBlock& block) override {
        const std::string name = lossless_ ? "webpll" : "webp";
        if (Status checked = CheckPixels(name, shape); !checked) {
            return checked;
        }
        if (shape.width > WEBP_MAX_DIMENSION || shape.height > WEBP_MAX_DIMENSION) {
            return Error{name + ": at most 16383 pixels across and down"};
        }
        const bool made = lossless_
                              ? WebPConfigInit(&config_) &&
                                    WebPConfigLosslessPreset(&config_, static_cast<int>(level_))
                              : WebPConfigInit(&config_);
        if (!made) {
            return Error{name + ": the library's configuration does not match its header"};
        }
        if (!lossless_) {
            config_.quality = level_;
            config_.method = method_;
        }
        // Colour under transparent pixels kept, so that lossless is lossless and lossy is
        // measured on every sample; the worker thread only when two threads are asked for.
        config_.exact = 1;
        config_.thread_level = threads_ > 1 ? 1 : 0;
        if (!WebPValidateConfig(&config_) || !WebPPictureInit(&picture_) ||
            !WebPInitDecoderConfig(&decoding_)) {
            return Error{name + ": the configuration is refused"};
        }
        channels_ = shape.channels;
        picture_.width = static_cast<int>(shape.width);
        picture_.height = static_cast<int>(shape.height);
        picture_.use_argb = lossless_ ? 1 : 0;
        picture_.writer = &Sink::Write;
        picture_.custom_ptr = &sink_;
        if (channels_ == 1) {
            spread_.resize(uint64_t{shape.width} * shape.height * 3);
        }
        // The layout's area suffices for every shape; the check keeps that true.
        if (WebpBound(shape.bytes) > block.OutputBytes()) {
            return Error{name + ": the output area is smaller than the bound"};
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        const std::string name = lossless_ ? "webpll" : "webp";
        if (channels_ == 1) {
            SpreadGrey(input, spread_.data());
            input = spread_;
        }
        const int stride = picture_.width * (channels_ == 4 ? 4 : 3);
        const bool imported = channels_ == 4
                                  ? WebPPictureImportRGBA(&picture_, input.data(), stride)
                                  : WebPPictureImportRGB(&picture_, input.data(), stride);
        if (!imported) {
            return Error{name + ": cannot import the pixels (out of memory)"};
        }
        sink_ = {output, 0};
        if (!WebPEncode(&config_, &picture_)) {
            return Error{name + ": encoding failed, error " + std::to_string(picture_.error_code)};
        }
        return std::span<const uint8_t>(output.first(sink_.written));
    }
    // Decodes to the channels the image had; a stream that is no WebP, is cut short or holds
    // more pixels than `decoded` has room for is refused.
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        const std::string name = lossless_ ? "webpll" : "webp";
        int width = 0;
        int height = 0;
        if (!WebPGetInfo(encoded.data(), encoded.size(), &width, &height)) {
            return Error{name + ": the stream is no WebP image"};
        }
        const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
        const int channels = channels_ == 4 ? 4 : 3;
        const std::span<uint8_t> target = channels_ == 1 ? std::span<uint8_t>(spread_) : decoded;
        if (pixels * channels > target.size() ||
            pixels * (channels_ == 1 ? 1 : channels) > decoded.size()) {
            return Error{name + ": the stream holds more pixels than the image had"};
        }
        decoding_.options.use_threads = threads_ > 1 ? 1 : 0;
        decoding_.output.colorspace = channels == 4 ? MODE_RGBA : MODE_RGB;
        decoding_.output.is_external_memory = 1;
        decoding_.output.u.RGBA = {target.data(), width * channels, pixels * channels};
        if (WebPDecode(encoded.data(), encoded.size(), &decoding_) != VP8_STATUS_OK) {
            return Error{name + ": the stream does not decode"};
        }
        if (channels_ == 1) {
            TakeGreen(spread_.data(), decoded.first(pixels));
            return pixels;
        }
        return pixels * channels;
    }

private:
    bool lossless_;
    float level_;
    int method_;
    int threads_;
    uint32_t channels_ = 0;
    WebPConfig config_{};
    WebPDecoderConfig decoding_{};  // the decoder's output is the caller's buffer
    WebPPicture picture_{};
    Sink sink_;
    std::vector<uint8_t> spread_;  // a grey image as RGB, both ways
};

}  // namespace

void AddWebpCodecs(CodecRegistry& registry) {
    const std::string library = "libwebp " + VersionText(WebPGetEncoderVersion());
    CodecEntry lossless;
    lossless.info.name = "webpll";
    lossless.info.displayName = "webpll";
    lossless.info.family = "webp";
    lossless.info.input = CodecInput::Pixels;
    lossless.info.parameters = {{"effort", 0, 9, 6, true, "-", {}}};
    lossless.info.library = library;
    lossless.info.description =
        "WebP lossless (WebPConfigLosslessPreset), exact, one thread or two with --threads; grey "
        "spread to RGB; the library allocates its planes and encoder per call";
    lossless.info.threads = true;
    lossless.info.maxThreads = 2;
    lossless.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new WebpInstance(true, static_cast<float>(values[0]), 0, environment.threads));
    };
    registry.Add(std::move(lossless));

    CodecEntry lossy;
    lossy.info.name = "webp";
    lossy.info.displayName = "webp";
    lossy.info.family = "webp";
    lossy.info.input = CodecInput::Pixels;
    lossy.info.lossy = true;
    lossy.info.parameters = {{"quality", 0, 100, 75, false, "q", {}},
                             {"method", 0, 6, 4, true, "", {}}};
    lossy.info.library = library;
    lossy.info.description =
        "WebP lossy (VP8, 4:2:0), exact, one thread or two with --threads; grey spread to RGB, "
        "decoded grey is the green channel; the library allocates its planes and encoder per "
        "call";
    lossy.info.threads = true;
    lossy.info.maxThreads = 2;
    lossy.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new WebpInstance(false, static_cast<float>(values[0]),
                                                               static_cast<int>(values[1]),
                                                               environment.threads));
    };
    registry.Add(std::move(lossy));
}

}  // namespace tallox

// AVIF through libavif with libaom: `avifll` (AV1 lossless: quantizer 0, 4:4:4, identity matrix,
// full range) and `avif` (lossy at an AV1 quantizer, BT.601 full range, 4:2:0 or 4:4:4). Grey
// images are coded as 4:0:0, their samples the luma plane as they are.
//
// What each timed call makes: libavif 0.11 cannot reuse an encoder once it has written an
// image, so every Encode creates an avifEncoder, which creates the aom encoder context, and
// destroys both; libavif writes into a buffer of its own, copied into the output area. The YUV
// image is allocated once in Prepare and converted into on every call. Every Decode parses the
// file afresh, which makes a new AV1 decoder context in the avifDecoder made in Prepare, and
// converts into the caller's buffer. The library takes no allocator hooks: the run measures
// the resident set.
#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "engine/adapters/library_codecs.h"
#include "engine/adapters/pixel_shape.h"
#include "engine/codec.h"

namespace tallox {
namespace {

// The output area. AV1 codes the residuals of uniform noise, the worst image, in up to 1.49
// times the input's bytes (lossless or quantizer 0, grey, RGB and RGBA, at any speed): twice
// the input covers it with a margin, the fixed part the file's boxes. libavif writes into a
// buffer of its own; a file larger than the area fails the call when it is copied.
uint64_t OutputBound(uint64_t inputBytes) { return 2 * inputBytes + 16384; }

std::string ResultText(avifResult result, const avifDiagnostics& diagnostics) {
    std::string text = std::string("AVIF: ") + avifResultToString(result);
    if (diagnostics.error[0] != '\0') {
        text.append(" (").append(diagnostics.error).append(")");
    }
    return text;
}

struct EncoderDelete {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};

class AvifInstance final : public CodecInstance {
public:
    AvifInstance(bool lossless, int quantizer, int speed, bool full444, int threads)
        : lossless_(lossless),
          quantizer_(quantizer),
          speed_(speed),
          full444_(full444),
          threads_(threads) {}
    ~AvifInstance() override {
        if (image_ != nullptr) {
            avifImageDestroy(image_);
        }
        if (decoder_ != nullptr) {
            avifDecoderDestroy(decoder_);
        }
    }

    BlockLayout Layout(uint64_t inputBytes) const override {
        return {OutputBound(inputBytes), false, false};
    }
    Status Prepare(const InputShape& shape, WorkingBlock&) override {
        if (Status checked = CheckPixelShape(shape, "AVIF"); !checked) {
            return checked;
        }
        channels_ = shape.channels;
        const avifPixelFormat format = channels_ == 1          ? AVIF_PIXEL_FORMAT_YUV400
                                       : lossless_ || full444_ ? AVIF_PIXEL_FORMAT_YUV444
                                                               : AVIF_PIXEL_FORMAT_YUV420;
        image_ = avifImageCreate(shape.width, shape.height, 8, format);
        decoder_ = avifDecoderCreate();
        if (image_ == nullptr || decoder_ == nullptr) {
            return Error{"AVIF: cannot create an image or decoder (out of memory)"};
        }
        image_->yuvRange = AVIF_RANGE_FULL;
        image_->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
        image_->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
        // The identity matrix keeps G, B and R as the three planes, exactly; AV1 allows it for
        // 4:4:4 alone, and a grey image has no matrix to apply.
        image_->matrixCoefficients = lossless_ && channels_ != 1 ? AVIF_MATRIX_COEFFICIENTS_IDENTITY
                                                                 : AVIF_MATRIX_COEFFICIENTS_BT601;
        avifImageAllocatePlanes(image_, channels_ == 4 ? AVIF_PLANES_ALL : AVIF_PLANES_YUV);
        if (image_->yuvPlanes[AVIF_CHAN_Y] == nullptr ||
            (channels_ == 4 && image_->alphaPlane == nullptr)) {
            return Error{"AVIF: cannot allocate the image's planes (out of memory)"};
        }
        decoder_->maxThreads = threads_;
        decoder_->ignoreExif = AVIF_TRUE;
        decoder_->ignoreXMP = AVIF_TRUE;
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        if (channels_ == 1) {
            for (uint32_t y = 0; y < image_->height; ++y) {
                std::memcpy(image_->yuvPlanes[AVIF_CHAN_Y] + size_t{y} * image_->yuvRowBytes[0],
                            input.data() + size_t{y} * image_->width, image_->width);
            }
        } else {
            avifRGBImage rgb;
            avifRGBImageSetDefaults(&rgb, image_);
            rgb.format = channels_ == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
            rgb.pixels = const_cast<uint8_t*>(input.data());  // read, never written
            rgb.rowBytes = image_->width * channels_;
            if (const avifResult result = avifImageRGBToYUV(image_, &rgb);
                result != AVIF_RESULT_OK) {
                return Error{std::string("AVIF: ") + avifResultToString(result)};
            }
        }
        const std::unique_ptr<avifEncoder, EncoderDelete> encoder(avifEncoderCreate());
        if (!encoder) {
            return Error{"AVIF: cannot create an encoder (out of memory)"};
        }
        encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
        encoder->maxThreads = threads_;
        encoder->speed = speed_;
        const int quantizer = lossless_ ? AVIF_QUANTIZER_LOSSLESS : quantizer_;
        encoder->minQuantizer = encoder->maxQuantizer = quantizer;
        encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = quantizer;
        avifRWData file = AVIF_DATA_EMPTY;
        const avifResult result = avifEncoderWrite(encoder.get(), image_, &file);
        if (result != AVIF_RESULT_OK) {
            return Error{ResultText(result, encoder->diag)};
        }
        const size_t size = file.size;
        if (size <= output.size()) {
            std::memcpy(output.data(), file.data, size);
        }
        avifRWDataFree(&file);
        if (size > output.size()) {
            return Error{"AVIF: the file does not fit the output area"};
        }
        return std::span<const uint8_t>(output.first(size));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        // A file may claim any size: no more pixels are decoded than the room could hold.
        decoder_->imageSizeLimit = static_cast<uint32_t>(
            std::min<uint64_t>(AVIF_DEFAULT_IMAGE_SIZE_LIMIT, decoded.size()));
        avifResult result = avifDecoderSetIOMemory(decoder_, encoded.data(), encoded.size());
        if (result == AVIF_RESULT_OK) {
            result = avifDecoderParse(decoder_);
        }
        if (result == AVIF_RESULT_OK) {
            result = avifDecoderNextImage(decoder_);
        }
        if (result != AVIF_RESULT_OK) {
            return Error{ResultText(result, decoder_->diag)};
        }
        const avifImage& image = *decoder_->image;
        const bool grey = image.yuvFormat == AVIF_PIXEL_FORMAT_YUV400;
        const uint32_t channels = grey ? 1 : image.alphaPlane != nullptr ? 4 : 3;
        const uint64_t size = uint64_t{image.width} * image.height * channels;
        if (image.depth != 8 || (grey && image.yuvRange != AVIF_RANGE_FULL)) {
            return Error{"AVIF: the image is not 8-bit RGB, RGBA or full-range grey"};
        }
        if (size > decoded.size()) {
            return Error{"AVIF: the image is larger than the input was"};
        }
        if (grey) {
            for (uint32_t y = 0; y < image.height; ++y) {
                std::memcpy(decoded.data() + size_t{y} * image.width,
                            image.yuvPlanes[AVIF_CHAN_Y] + size_t{y} * image.yuvRowBytes[0],
                            image.width);
            }
            return static_cast<size_t>(size);
        }
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, &image);
        rgb.format = channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
        rgb.pixels = decoded.data();
        rgb.rowBytes = image.width * channels;
        if (const avifResult converted = avifImageYUVToRGB(&image, &rgb);
            converted != AVIF_RESULT_OK) {
            return Error{std::string("AVIF: ") + avifResultToString(converted)};
        }
        return static_cast<size_t>(size);
    }

private:
    bool lossless_;
    int quantizer_;
    int speed_;
    bool full444_;
    int threads_;
    uint32_t channels_ = 0;
    avifImage* image_ = nullptr;
    avifDecoder* decoder_ = nullptr;
};

// "v3.6.0" for "aom", from libavif's list of the codecs it was built with
// ("dav1d [dec]:1.0.0, aom [enc/dec]:v3.6.0, ...").
std::string CodecVersion(const std::string& codecs, const std::string& name) {
    const size_t at = (", " + codecs).find(", " + name + " [");
    const size_t colon = at == std::string::npos ? at : codecs.find(':', at);
    if (colon == std::string::npos) {
        return "";
    }
    const size_t end = codecs.find_first_of(" ,", colon);
    return codecs.substr(colon + 1, end == std::string::npos ? end : end - colon - 1);
}

// The library, and the AV1 codecs it uses: aom to encode, its own choice to decode.
std::string LibraryText() {
    char codecs[256];
    avifCodecVersions(codecs);
    const char* decoder = avifCodecName(AVIF_CODEC_CHOICE_AUTO, AVIF_CODEC_FLAG_CAN_DECODE);
    const std::string decoderName = decoder == nullptr ? "none" : decoder;
    return std::string("libavif ") + avifVersion() + " (aom " + CodecVersion(codecs, "aom") +
           " encoder, " + decoderName + " " + CodecVersion(codecs, decoderName) + " decoder)";
}

CodecEntry AvifEntry(const char* name, bool lossy, std::vector<CodecParameter> parameters,
                     const std::string& description) {
    CodecEntry entry;
    entry.info.name = name;
    entry.info.displayName = name;
    entry.info.family = "avif";
    entry.info.input = CodecInput::Pixels;
    entry.info.lossy = lossy;
    entry.info.parameters = std::move(parameters);
    entry.info.library = LibraryText();
    entry.info.description = description;
    return entry;
}

// maxThreads bounds the threads at work at once, in aom's encoder and in the decoder alike;
// 1 keeps both on the calling thread.
const char kPerCall[] = "; one thread or maxThreads with --threads, an aom encoder made per call";

}  // namespace

void AddAvifCodecs(CodecRegistry& registry) {
    CodecEntry lossless =
        AvifEntry("avifll", false, {{"speed", 0, 10, 6, true, "-", {}}},
                  std::string("AVIF file (.avif), AV1 lossless, 4:4:4 identity; speed 0 (slow) "
                              "to 10") +
                      kPerCall);
    lossless.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new AvifInstance(true, 0, static_cast<int>(values[0]), true, environment.threads));
    };
    lossless.info.threads = true;
    registry.Add(std::move(lossless));

    CodecEntry lossy = AvifEntry("avif", true,
                                 {{"quantizer", 0, 63, 24, true, "q", {}},
                                  {"speed", 0, 10, 6, true, "", {}},
                                  {"yuv", 420, 444, 420, true, "", {420, 444}}},
                                 std::string("AVIF file (.avif) at AV1 quantizer 0 (best) to 63 "
                                             "(colour and alpha), speed=0..10, yuv=420|444") +
                                     kPerCall);
    lossy.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new AvifInstance(false, static_cast<int>(values[0]), static_cast<int>(values[1]),
                             values[2] == 444, environment.threads));
    };
    lossy.info.threads = true;
    registry.Add(std::move(lossy));
}

}  // namespace tallox

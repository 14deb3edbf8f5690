// JPEG XL through libjxl: `jxlll` (modular, mathematically lossless) and `jxl` (VarDCT at a
// Butteraugli distance). One encoder and one decoder, made in Prepare and reset before every
// call, so that a timed call makes no object of its own. One thread: no parallel runner, the
// library works on the calling thread alone; N threads: a runner of N workers made in Prepare,
// which the encoder and the decoder share (never at once), handed to them again after every
// reset, which forgets it. libjxl 0.7 takes allocator hooks but passes only its
// top-level objects through them (8 KB of the several megabytes an encode uses): the run
// measures the resident set instead.
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <string>

#include "engine/adapters/library_codecs.h"
#include "engine/adapters/pixel_shape.h"
#include "engine/codec.h"

namespace tallox {
namespace {

// The output area. A lossless stream codes each sample as a predicted residual, up to 9 bits
// for 8-bit samples before the entropy coder's token overhead; uniform noise, the worst image,
// measured 1.12 times the input at effort 1 (grey, RGB and RGBA), a lossy one at distance 0.1
// 1.11. Half the input again covers both with a margin, the fixed part the headers of tiny
// images. Should an image ever need more, the encoder stops at the end of the area and the
// call fails; it never writes past it.
uint64_t OutputBound(uint64_t inputBytes) { return inputBytes + inputBytes / 2 + 16384; }

std::string VersionText(uint32_t version) {
    return std::to_string(version / 1000000) + "." + std::to_string(version / 1000 % 1000) + "." +
           std::to_string(version % 1000);
}

const char* EncoderErrorText(JxlEncoderError error) {
    switch (error) {
        case JXL_ENC_ERR_OOM:
            return "out of memory";
        case JXL_ENC_ERR_BAD_INPUT:
            return "the image is not valid input";
        case JXL_ENC_ERR_NOT_SUPPORTED:
            return "the settings are not supported";
        case JXL_ENC_ERR_API_USAGE:
            return "the library was called wrongly";
        default:
            return "the encoder failed";
    }
}

class JxlInstance final : public CodecInstance {
public:
    JxlInstance(bool lossless, float distance, int effort, int threads)
        : lossless_(lossless), distance_(distance), effort_(effort), threads_(threads) {}
    ~JxlInstance() override {
        JxlEncoderDestroy(encoder_);
        JxlDecoderDestroy(decoder_);
        if (runner_ != nullptr) {
            JxlThreadParallelRunnerDestroy(runner_);
        }
    }

    BlockLayout Layout(uint64_t inputBytes) const override {
        return {OutputBound(inputBytes), false, false};
    }
    Status Prepare(const InputShape& shape, WorkingBlock&) override {
        if (Status checked = CheckPixelShape(shape, "JPEG XL"); !checked) {
            return checked;
        }
        width_ = shape.width;
        height_ = shape.height;
        channels_ = shape.channels;
        encoder_ = JxlEncoderCreate(nullptr);
        decoder_ = JxlDecoderCreate(nullptr);
        if (encoder_ == nullptr || decoder_ == nullptr) {
            return Error{"JPEG XL: cannot create an encoder or decoder (out of memory)"};
        }
        if (threads_ > 1) {
            runner_ = JxlThreadParallelRunnerCreate(nullptr, static_cast<size_t>(threads_));
            if (runner_ == nullptr) {
                return Error{"JPEG XL: cannot start " + std::to_string(threads_) + " threads"};
            }
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        // A reset forgets every setting, the frame settings included: all are set again.
        JxlEncoderReset(encoder_);
        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = width_;
        info.ysize = height_;
        info.bits_per_sample = 8;
        info.num_color_channels = channels_ == 1 ? 1 : 3;
        info.num_extra_channels = channels_ == 4 ? 1 : 0;
        info.alpha_bits = channels_ == 4 ? 8 : 0;
        // Lossless keeps the samples as they are; lossy codes them in XYB.
        info.uses_original_profile = lossless_ ? JXL_TRUE : JXL_FALSE;
        JxlColorEncoding color;
        JxlColorEncodingSetToSRGB(&color, channels_ == 1 ? JXL_TRUE : JXL_FALSE);
        const JxlPixelFormat format{channels_, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        JxlEncoderFrameSettings* frame = nullptr;
        const bool set =
            (runner_ == nullptr || JxlEncoderSetParallelRunner(encoder_, JxlThreadParallelRunner,
                                                               runner_) == JXL_ENC_SUCCESS) &&
            JxlEncoderSetBasicInfo(encoder_, &info) == JXL_ENC_SUCCESS &&
            JxlEncoderSetColorEncoding(encoder_, &color) == JXL_ENC_SUCCESS &&
            (frame = JxlEncoderFrameSettingsCreate(encoder_, nullptr)) != nullptr &&
            JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, effort_) ==
                JXL_ENC_SUCCESS &&
            JxlEncoderSetFrameDistance(frame, lossless_ ? 0.0f : distance_) == JXL_ENC_SUCCESS &&
            JxlEncoderSetFrameLossless(frame, lossless_ ? JXL_TRUE : JXL_FALSE) ==
                JXL_ENC_SUCCESS &&
            JxlEncoderAddImageFrame(frame, &format, input.data(), input.size()) == JXL_ENC_SUCCESS;
        if (!set) {
            return Error{std::string("JPEG XL: ") + EncoderErrorText(JxlEncoderGetError(encoder_))};
        }
        JxlEncoderCloseInput(encoder_);
        uint8_t* next = output.data();
        size_t room = output.size();
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder_, &next, &room);
        if (status == JXL_ENC_NEED_MORE_OUTPUT) {
            return Error{"JPEG XL: the stream does not fit the output area"};
        }
        if (status != JXL_ENC_SUCCESS) {
            return Error{std::string("JPEG XL: ") + EncoderErrorText(JxlEncoderGetError(encoder_))};
        }
        return std::span<const uint8_t>(output.first(output.size() - room));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        JxlDecoderReset(decoder_);
        if ((runner_ != nullptr && JxlDecoderSetParallelRunner(decoder_, JxlThreadParallelRunner,
                                                               runner_) != JXL_DEC_SUCCESS) ||
            JxlDecoderSubscribeEvents(decoder_, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) !=
                JXL_DEC_SUCCESS ||
            JxlDecoderSetInput(decoder_, encoded.data(), encoded.size()) != JXL_DEC_SUCCESS) {
            return Error{"JPEG XL: cannot start the decoder"};
        }
        JxlDecoderCloseInput(decoder_);
        JxlPixelFormat format{0, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        size_t size = 0;
        for (;;) {
            switch (JxlDecoderProcessInput(decoder_)) {
                case JXL_DEC_BASIC_INFO: {
                    JxlBasicInfo info;
                    if (JxlDecoderGetBasicInfo(decoder_, &info) != JXL_DEC_SUCCESS) {
                        return Error{"JPEG XL: the stream's header does not read"};
                    }
                    format.num_channels = info.num_color_channels + (info.alpha_bits > 0 ? 1 : 0);
                    break;
                }
                case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                    // The image's bytes as the decoder will write them, checked against the
                    // room before it is handed over: a stream may claim any size.
                    if (JxlDecoderImageOutBufferSize(decoder_, &format, &size) != JXL_DEC_SUCCESS ||
                        size > decoded.size() ||
                        JxlDecoderSetImageOutBuffer(decoder_, &format, decoded.data(), size) !=
                            JXL_DEC_SUCCESS) {
                        return Error{"JPEG XL: the image is larger than the input was"};
                    }
                    break;
                case JXL_DEC_FULL_IMAGE:
                    break;
                case JXL_DEC_SUCCESS:
                    if (size == 0) {
                        return Error{"JPEG XL: the stream holds no image"};
                    }
                    return size;
                case JXL_DEC_NEED_MORE_INPUT:
                    return Error{"JPEG XL: the stream ends early"};
                default:
                    return Error{"JPEG XL: the stream does not decode"};
            }
        }
    }

private:
    bool lossless_;
    float distance_;
    int effort_;
    int threads_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t channels_ = 0;
    JxlEncoder* encoder_ = nullptr;
    JxlDecoder* decoder_ = nullptr;
    void* runner_ = nullptr;  // nothing for one thread
};

// A named second parameter of the lossy codec, and the first of the lossless one.
CodecParameter Effort(const char* labelPrefix) {
    return {"effort", 1, 9, 7, true, labelPrefix, {}};
}

CodecEntry JxlEntry(const char* name, bool lossy, std::vector<CodecParameter> parameters,
                    const char* description) {
    CodecEntry entry;
    entry.info.name = name;
    entry.info.displayName = name;
    entry.info.family = "jxl";
    entry.info.input = CodecInput::Pixels;
    entry.info.lossy = lossy;
    entry.info.parameters = std::move(parameters);
    entry.info.library = "libjxl " + VersionText(JxlEncoderVersion());
    entry.info.description = description;
    entry.info.threads = true;
    return entry;
}

}  // namespace

void AddJxlCodecs(CodecRegistry& registry) {
    CodecEntry lossless =
        JxlEntry("jxlll", false, {Effort("-")},
                 "JPEG XL codestream (.jxl), modular lossless; effort 1 (fast) to 9; one thread "
                 "or a runner of N with --threads");
    lossless.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new JxlInstance(true, 0.0f, static_cast<int>(values[0]), environment.threads));
    };
    registry.Add(std::move(lossless));

    CodecEntry lossy = JxlEntry("jxl", true, {{"distance", 0.1, 15, 1, false, "d", {}}, Effort("")},
                                "JPEG XL codestream (.jxl), VarDCT at a Butteraugli distance "
                                "(1 visually lossless, lower is better), effort=1..9; one "
                                "thread or a runner of N with --threads");
    lossy.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new JxlInstance(false, static_cast<float>(values[0]),
                                                              static_cast<int>(values[1]),
                                                              environment.threads));
    };
    registry.Add(std::move(lossy));
}

}  // namespace tallox

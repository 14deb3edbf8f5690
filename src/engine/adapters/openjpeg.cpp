// JPEG 2000 through OpenJPEG: `j2kll` (reversible 5/3 wavelet and colour transform, lossless)
// and `j2k` (irreversible 9/7 at a target compression ratio, one quality layer), as JP2 files
// so that opj_decompress and image viewers open them.
//
// The streams are the library's, over the caller's buffers through our own callbacks. What
// each timed call makes: OpenJPEG's codec objects serve one image each, so every Encode and
// Decode creates its codec and stream and destroys them, and every Encode the image the
// encoder reads (a plane of 32-bit samples per channel), which the library takes over.
// The threads asked for whatever OPJ_NUM_THREADS says: one is the calling thread alone; more
// start a pool in each call's codec, which codes the code-blocks in parallel. The library's
// messages are collected, not printed: its last error becomes the call's Error.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "engine/adapters/library_codecs.h"
#include "engine/adapters/pixel_shape.h"
#include "engine/codec.h"

namespace tallox {
namespace {

// The output area. A code-block's bit planes code its samples' bits plus the reversible
// transforms' growth and the MQ coder's overhead: uniform noise, the worst image, measured 1.15
// times the input (lossless, or ratio 1), grey, RGB and RGBA. Half the input again covers it
// with a margin, the fixed part the JP2 boxes and the packet headers of tiny images. A larger
// stream fails the call (the stream's writer stops at the area's end) and is never written
// past it.
uint64_t OutputBound(uint64_t inputBytes) { return inputBytes + inputBytes / 2 + 16384; }

// The stream's own buffer, between the library and our callbacks.
constexpr OPJ_SIZE_T kStreamChunk = 64 * 1024;
// The wavelet's levels plus one, OpenJPEG's default; fewer for images too small for them.
constexpr int kResolutions = 6;

// A window over a caller's buffer that a stream reads from or writes into. `end` is the
// furthest byte written: the JP2 writer seeks back to fill in its box lengths.
struct MemoryWindow {
    uint8_t* data;
    OPJ_SIZE_T size;
    OPJ_SIZE_T position = 0;
    OPJ_SIZE_T end = 0;
    bool overflow = false;

    static OPJ_SIZE_T Read(void* buffer, OPJ_SIZE_T count, void* self) {
        auto& window = *static_cast<MemoryWindow*>(self);
        if (window.position >= window.size) {
            return static_cast<OPJ_SIZE_T>(-1);  // the end of the stream
        }
        count = std::min(count, window.size - window.position);
        std::memcpy(buffer, window.data + window.position, count);
        window.position += count;
        return count;
    }
    static OPJ_SIZE_T Write(void* buffer, OPJ_SIZE_T count, void* self) {
        auto& window = *static_cast<MemoryWindow*>(self);
        if (count > window.size - window.position) {
            window.overflow = true;
            return static_cast<OPJ_SIZE_T>(-1);
        }
        std::memcpy(window.data + window.position, buffer, count);
        window.position += count;
        window.end = std::max(window.end, window.position);
        return count;
    }
    static OPJ_OFF_T Skip(OPJ_OFF_T count, void* self) {
        auto& window = *static_cast<MemoryWindow*>(self);
        if (count < 0 ? static_cast<OPJ_SIZE_T>(-count) > window.position
                      : static_cast<OPJ_SIZE_T>(count) > window.size - window.position) {
            window.overflow = count > 0;
            return -1;
        }
        window.position += count;
        return count;
    }
    static OPJ_BOOL Seek(OPJ_OFF_T offset, void* self) {
        auto& window = *static_cast<MemoryWindow*>(self);
        if (offset < 0 || static_cast<OPJ_SIZE_T>(offset) > window.size) {
            return OPJ_FALSE;
        }
        window.position = static_cast<OPJ_SIZE_T>(offset);
        return OPJ_TRUE;
    }
};

struct CodecDelete {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDelete {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDelete {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using CodecPointer = std::unique_ptr<opj_codec_t, CodecDelete>;
using StreamPointer = std::unique_ptr<opj_stream_t, StreamDelete>;
using ImagePointer = std::unique_ptr<opj_image_t, ImageDelete>;

class OpenJpegInstance final : public CodecInstance {
public:
    OpenJpegInstance(bool lossless, float ratio, int threads)
        : lossless_(lossless), ratio_(ratio), threads_(threads) {}

    BlockLayout Layout(uint64_t inputBytes) const override {
        return {OutputBound(inputBytes), false, false};
    }
    Status Prepare(const InputShape& shape, WorkingBlock&) override {
        if (Status checked = CheckPixelShape(shape, "JPEG 2000"); !checked) {
            return checked;
        }
        channels_ = shape.channels;
        width_ = shape.width;
        height_ = shape.height;
        opj_set_default_encoder_parameters(&parameters_);
        parameters_.tcp_numlayers = 1;
        parameters_.cp_disto_alloc = 1;
        parameters_.tcp_rates[0] = lossless_ ? 0.0f : ratio_;  // 0: every bit plane
        parameters_.irreversible = lossless_ ? 0 : 1;
        parameters_.tcp_mct = channels_ >= 3 ? 1 : 0;
        // The smallest resolution must keep a pixel: 2^(levels) no larger than the image.
        const uint32_t side = std::min(shape.width, shape.height);
        parameters_.numresolution = kResolutions;
        while (parameters_.numresolution > 1 && (1u << (parameters_.numresolution - 1)) > side) {
            --parameters_.numresolution;
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        const ImagePointer image = MakeImage(input);
        if (!image) {
            return Error{"JPEG 2000: cannot allocate the image (out of memory)"};
        }
        message_.clear();
        const CodecPointer codec(opj_create_compress(OPJ_CODEC_JP2));
        const StreamPointer stream(opj_stream_create(kStreamChunk, OPJ_FALSE));
        if (!codec || !stream) {
            return Error{"JPEG 2000: cannot create an encoder (out of memory)"};
        }
        Route(codec.get());
        MemoryWindow window{output.data(), output.size()};
        opj_stream_set_write_function(stream.get(), &MemoryWindow::Write);
        opj_stream_set_skip_function(stream.get(), &MemoryWindow::Skip);
        opj_stream_set_seek_function(stream.get(), &MemoryWindow::Seek);
        opj_stream_set_user_data(stream.get(), &window, nullptr);
        const bool done = opj_setup_encoder(codec.get(), &parameters_, image.get()) &&
                          opj_codec_set_threads(codec.get(), threads_) &&
                          opj_start_compress(codec.get(), image.get(), stream.get()) &&
                          opj_encode(codec.get(), stream.get()) &&
                          opj_end_compress(codec.get(), stream.get());
        if (window.overflow) {
            return Error{"JPEG 2000: the file does not fit the output area"};
        }
        if (!done) {
            return Failure("the encoder failed");
        }
        return std::span<const uint8_t>(output.first(window.end));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        message_.clear();
        const CodecPointer codec(opj_create_decompress(OPJ_CODEC_JP2));
        const StreamPointer stream(opj_stream_create(kStreamChunk, OPJ_TRUE));
        if (!codec || !stream) {
            return Error{"JPEG 2000: cannot create a decoder (out of memory)"};
        }
        Route(codec.get());
        MemoryWindow window{const_cast<uint8_t*>(encoded.data()), encoded.size()};  // read only
        opj_stream_set_read_function(stream.get(), &MemoryWindow::Read);
        opj_stream_set_skip_function(stream.get(), &MemoryWindow::Skip);
        opj_stream_set_seek_function(stream.get(), &MemoryWindow::Seek);
        opj_stream_set_user_data(stream.get(), &window, nullptr);
        opj_stream_set_user_data_length(stream.get(), encoded.size());
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        opj_image_t* header = nullptr;
        const bool read = opj_setup_decoder(codec.get(), &parameters) &&
                          opj_codec_set_threads(codec.get(), threads_) &&
                          opj_read_header(stream.get(), codec.get(), &header);
        const ImagePointer image(header);
        if (!read) {
            return Failure("the file's header does not read");
        }
        // A file may claim any size: it is checked against the room before any pixel is
        // decoded, and each plane once more after.
        const uint32_t channels = image->numcomps;
        const uint32_t width = image->x1 - image->x0;
        const uint32_t height = image->y1 - image->y0;
        const uint64_t size = uint64_t{width} * height * channels;
        if (channels != 1 && channels != 3 && channels != 4) {
            return Error{"JPEG 2000: the image is not grey, RGB or RGBA"};
        }
        if (image->x1 < image->x0 || image->y1 < image->y0 || size > decoded.size()) {
            return Error{"JPEG 2000: the image is larger than the input was"};
        }
        if (!opj_decode(codec.get(), stream.get(), image.get()) ||
            !opj_end_decompress(codec.get(), stream.get())) {
            return Failure("the file does not decode");
        }
        if (image->numcomps != channels) {  // a palette expands into planes of its own
            return Error{"JPEG 2000: the image is not grey, RGB or RGBA"};
        }
        for (uint32_t c = 0; c < channels; ++c) {
            const opj_image_comp_t& plane = image->comps[c];
            if (plane.w != width || plane.h != height || plane.prec != 8 || plane.sgnd != 0 ||
                plane.data == nullptr) {
                return Error{"JPEG 2000: the image's planes are not 8-bit and full size"};
            }
            const size_t pixels = size_t{width} * height;
            for (size_t i = 0; i < pixels; ++i) {
                decoded[i * channels + c] = static_cast<uint8_t>(std::clamp(plane.data[i], 0, 255));
            }
        }
        return static_cast<size_t>(size);
    }

private:
    // The planes the encoder reads, one 32-bit sample per pixel and channel. Made on every
    // call: the encoder takes them over and frees them with its codec.
    ImagePointer MakeImage(std::span<const uint8_t> input) const {
        opj_image_cmptparm_t planes[4];
        for (opj_image_cmptparm_t& plane : planes) {
            plane = {};
            plane.dx = plane.dy = 1;
            plane.w = width_;
            plane.h = height_;
            plane.prec = 8;
        }
        ImagePointer image(opj_image_create(channels_, planes,
                                            channels_ == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
        if (!image) {
            return image;
        }
        image->x1 = width_;
        image->y1 = height_;
        if (channels_ == 4) {
            image->comps[3].alpha = 1;  // the JP2 file's channel definition says so
        }
        const size_t pixels = input.size() / channels_;
        for (uint32_t c = 0; c < channels_; ++c) {
            OPJ_INT32* plane = image->comps[c].data;
            for (size_t i = 0; i < pixels; ++i) {
                plane[i] = input[i * channels_ + c];
            }
        }
        return image;
    }
    static void Collect(const char* text, void* self) {
        std::string& message = static_cast<OpenJpegInstance*>(self)->message_;
        message = text;
        while (!message.empty() && message.back() == '\n') {
            message.pop_back();
        }
    }
    static void Ignore(const char*, void*) {}
    void Route(opj_codec_t* codec) {
        opj_set_error_handler(codec, &Collect, this);
        opj_set_warning_handler(codec, &Ignore, nullptr);
        opj_set_info_handler(codec, &Ignore, nullptr);
    }
    Error Failure(const char* what) const {
        return Error{std::string("JPEG 2000: ") + (message_.empty() ? what : message_)};
    }

    bool lossless_;
    float ratio_;
    int threads_;
    uint32_t channels_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    opj_cparameters_t parameters_{};
    std::string message_;  // the library's last error
};

CodecEntry OpenJpegEntry(const char* name, bool lossy, std::vector<CodecParameter> parameters,
                         const char* description) {
    CodecEntry entry;
    entry.info.name = name;
    entry.info.displayName = name;
    entry.info.family = "jpeg2000";
    entry.info.input = CodecInput::Pixels;
    entry.info.lossy = lossy;
    entry.info.parameters = std::move(parameters);
    entry.info.library = std::string("OpenJPEG ") + opj_version();
    entry.info.description = description;
    return entry;
}

}  // namespace

void AddOpenJpegCodecs(CodecRegistry& registry) {
    CodecEntry lossless = OpenJpegEntry(
        "j2kll", false, {},
        "JPEG 2000 in a JP2 file (.jp2), reversible 5/3 lossless; one thread or a pool with "
        "--threads, codec made per call");
    lossless.create =
        [](const std::vector<double>&,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new OpenJpegInstance(true, 0.0f, environment.threads));
    };
    lossless.info.threads = true;
    registry.Add(std::move(lossless));

    CodecEntry lossy = OpenJpegEntry("j2k", true, {{"ratio", 1, 1000, 20, false, "r", {}}},
                                     "JPEG 2000 in a JP2 file (.jp2), irreversible 9/7 at a target "
                                     "compression ratio; one thread or a pool with --threads, "
                                     "codec made per call");
    lossy.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new OpenJpegInstance(false, static_cast<float>(values[0]), environment.threads));
    };
    lossy.info.threads = true;
    registry.Add(std::move(lossy));
}

}  // namespace tallox

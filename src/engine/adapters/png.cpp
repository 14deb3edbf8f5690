// PNG through libspng. An spng context codes one image and is then spent (the library has no
// reset), so every encoding makes its encoder context, and with it zlib's deflate state, and
// every decoding its decoder: that is the cost a program pays per image. The encoder writes
// through a stream callback straight into the output area, so no buffer of the library's is
// grown or copied.
#include <spng.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/adapters/library_codecs.h"
#include "engine/adapters/pixel_input.h"
#include "engine/codec.h"
#include "engine/input_file.h"

namespace tallox {
namespace {

// The filter parameter's values as spng's choice masks: none, sub, up, average, Paeth, and
// the library's default, the best of all five per row.
constexpr std::array<int, 6> kFilterChoices{SPNG_FILTER_CHOICE_NONE,  SPNG_FILTER_CHOICE_SUB,
                                            SPNG_FILTER_CHOICE_UP,    SPNG_FILTER_CHOICE_AVG,
                                            SPNG_FILTER_CHOICE_PAETH, SPNG_FILTER_CHOICE_ALL};

// The most a PNG of `filtered` bytes of filtered rows (a filter byte before each row) takes:
// zlib's bound for any deflate setting (stored blocks and their headers at level 0), the zlib
// wrapper, one 12-byte chunk frame for every 4 KiB of IDAT (spng writes larger ones), and the
// signature, IHDR and IEND.
uint64_t PngBound(uint64_t filtered) {
    const uint64_t deflated = filtered + ((filtered + 7) >> 3) + ((filtered + 63) >> 6) + 5 + 6;
    return deflated + (deflated / 4096 + 1) * 12 + 8 + 25 + 12;
}

std::string SpngError(int error) { return std::string("png: ") + spng_strerror(error); }

struct ContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

// The encoder's stream: what it writes goes to the area's next bytes, or fails the encoding
// when the area is full.
struct Sink {
    std::span<uint8_t> area;
    size_t written = 0;

    static int Write(spng_ctx*, void* user, void* bytes, size_t length) {
        auto& sink = *static_cast<Sink*>(user);
        if (length > sink.area.size() - sink.written) {
            return SPNG_IO_ERROR;
        }
        std::memcpy(sink.area.data() + sink.written, bytes, length);
        sink.written += length;
        return SPNG_OK;
    }
};

class PngInstance final : public CodecInstance {
public:
    PngInstance(int level, int filter) : level_(level), filter_(filter) {}

    // Rows of at least three bytes, as every RGB or RGBA image and grey ones three pixels
    // wide have, add at most a third to the samples.
    BlockLayout Layout(uint64_t inputBytes) const override {
        return {PngBound(inputBytes + inputBytes / 3 + 1), false, false};
    }
    Status Prepare(const InputShape& shape, WorkingBlock& block) override {
        if (Status checked = CheckPixels("png", shape); !checked) {
            return checked;
        }
        constexpr std::array<uint8_t, 5> kColourTypes{0, SPNG_COLOR_TYPE_GRAYSCALE, 0,
                                                      SPNG_COLOR_TYPE_TRUECOLOR,
                                                      SPNG_COLOR_TYPE_TRUECOLOR_ALPHA};
        header_ = {shape.width, shape.height, 8, kColourTypes[shape.channels], 0, 0, 0};
        // A grey image narrower than the layout could know gets an area of the instance's own.
        const uint64_t bound =
            PngBound(uint64_t{shape.height} * (1 + uint64_t{shape.width} * shape.channels));
        if (bound > block.OutputBytes()) {
            own_.resize(bound);
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        const Context context(spng_ctx_new(SPNG_CTX_ENCODER));
        if (context == nullptr) {
            return Error{"png: cannot create an encoder (out of memory)"};
        }
        Sink sink{own_.empty() ? output : std::span<uint8_t>(own_)};
        int error = spng_set_png_stream(context.get(), &Sink::Write, &sink);
        error = error != 0 ? error : spng_set_ihdr(context.get(), &header_);
        error =
            error != 0 ? error : spng_set_option(context.get(), SPNG_IMG_COMPRESSION_LEVEL, level_);
        error = error != 0 ? error
                           : spng_set_option(context.get(), SPNG_FILTER_CHOICE,
                                             kFilterChoices[static_cast<size_t>(filter_)]);
        error = error != 0 ? error
                           : spng_encode_image(context.get(), input.data(), input.size(),
                                               SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
        if (error != 0) {
            return Error{SpngError(error)};
        }
        return std::span<const uint8_t>(sink.area.first(sink.written));
    }
    // Any 8-bit grey, RGB or RGBA PNG decodes, in its own sample layout; a stream that is no
    // PNG, fails a checksum, is cut short or holds more samples than `decoded` has room for
    // is refused.
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        const Context context(spng_ctx_new(0));
        if (context == nullptr) {
            return Error{"png: cannot create a decoder (out of memory)"};
        }
        spng_ihdr header{};
        size_t size = 0;
        int error = spng_set_png_buffer(context.get(), encoded.data(), encoded.size());
        // No chunk is longer than the stream it is in.
        error = error != 0 ? error
                           : spng_set_chunk_limits(context.get(), encoded.size(), encoded.size());
        error = error != 0 ? error : spng_get_ihdr(context.get(), &header);
        if (error != 0) {
            return Error{SpngError(error)};
        }
        if (header.bit_depth != 8 || (header.color_type != SPNG_COLOR_TYPE_GRAYSCALE &&
                                      header.color_type != SPNG_COLOR_TYPE_TRUECOLOR &&
                                      header.color_type != SPNG_COLOR_TYPE_TRUECOLOR_ALPHA)) {
            return Error{"png: the stream is no 8-bit grey, RGB or RGBA image"};
        }
        error = spng_decoded_image_size(context.get(), SPNG_FMT_PNG, &size);
        if (error != 0) {
            return Error{SpngError(error)};
        }
        if (size > decoded.size()) {
            return Error{"png: the stream holds more samples than the image had"};
        }
        error = spng_decode_image(context.get(), decoded.data(), size, SPNG_FMT_PNG, 0);
        if (error != 0) {
            return Error{SpngError(error)};
        }
        return size;
    }

private:
    int level_;
    int filter_;
    spng_ihdr header_{};
    std::vector<uint8_t> own_;
};

}  // namespace

void AddPngCodecs(CodecRegistry& registry) {
    CodecEntry entry;
    entry.info.name = "png";
    entry.info.displayName = "png";
    entry.info.family = "png";
    entry.info.input = CodecInput::Pixels;
    entry.info.parameters = {{"level", 0, 9, 6, true, "-", {}}, {"filter", 0, 5, 5, true, "", {}}};
    entry.info.library = std::string("libspng ") + spng_version_string();
    entry.info.description =
        "PNG, 8-bit grey/RGB/RGBA; filter 0-4 none/sub/up/avg/paeth, 5 the best per row; an "
        "encoder context (and zlib state) made per call, as spng cannot reset one";
    entry.create = [](const std::vector<double>& values,
                      const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new PngInstance(static_cast<int>(values[0]), static_cast<int>(values[1])));
    };
    registry.Add(std::move(entry));
}

}  // namespace tallox

// QOI through its single-header library, whose implementation this file alone holds. The
// library allocates one block per call (the encoder its worst-case output, the decoder the
// pixels) through QOI_MALLOC: that hook hands it the caller's area instead, so that nothing is
// allocated or copied per call, and a stream whose pixels would not fit gets no memory and is
// refused. QOI has no grey: a grey image is spread to RGB before each encoding (timed, as a
// program must do it) and decoded to RGB, of which the green samples are the grey.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/adapters/library_codecs.h"
#include "engine/adapters/pixel_input.h"
#include "engine/codec.h"
#include "engine/input_file.h"

namespace tallox {
namespace {

// The memory the library's next allocation gets: all of it or, when it asks for more, none.
thread_local std::span<uint8_t> qoiArea;

void* TakeQoiArea(size_t size) {
    if (size > qoiArea.size()) {
        return nullptr;
    }
    void* area = qoiArea.data();
    qoiArea = {};
    return area;
}

}  // namespace
}  // namespace tallox

#define QOI_NO_STDIO
#define QOI_MALLOC(size) tallox::TakeQoiArea(size)
#define QOI_FREE(pointer) static_cast<void>(pointer)
#define QOI_IMPLEMENTATION
#include <qoi.h>

namespace tallox {
namespace {

// The encoder's own worst case: five bytes a pixel (an RGBA op), the header and the end
// marker. Layout knows bytes only: RGB's four bytes a pixel and RGBA's five are at most a
// third more than the samples; grey, four bytes a pixel once spread, gets a larger area in
// Prepare.
uint64_t QoiBound(uint64_t pixels, uint32_t channels) {
    return pixels * (channels + 1) + QOI_HEADER_SIZE + sizeof qoi_padding;
}

class QoiInstance final : public CodecInstance {
public:
    BlockLayout Layout(uint64_t inputBytes) const override {
        return {QoiBound(inputBytes / 3 + 1, 3), false, false};
    }
    Status Prepare(const InputShape& shape, WorkingBlock& block) override {
        if (Status checked = CheckPixels("qoi", shape); !checked) {
            return checked;
        }
        const uint64_t pixels = uint64_t{shape.width} * shape.height;
        if (shape.height >= QOI_PIXELS_MAX / shape.width) {
            return Error{"qoi: at most 400 million pixels"};
        }
        grey_ = shape.channels == 1;
        desc_ = {shape.width, shape.height, static_cast<unsigned char>(grey_ ? 3 : shape.channels),
                 QOI_SRGB};
        if (grey_) {
            spread_.resize(pixels * 3);
            own_.resize(QoiBound(pixels, 3));
        } else if (QoiBound(pixels, desc_.channels) > block.OutputBytes()) {
            own_.resize(QoiBound(pixels, desc_.channels));
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        if (grey_) {
            SpreadGrey(input, spread_.data());
            input = spread_;
        }
        const std::span<uint8_t> area = own_.empty() ? output : std::span<uint8_t>(own_);
        qoiArea = area;
        int size = 0;
        const void* encoded = qoi_encode(input.data(), &desc_, &size);
        qoiArea = {};
        if (encoded == nullptr) {
            return Error{"qoi: the output area is smaller than the encoder's worst case"};
        }
        return std::span<const uint8_t>(area.first(static_cast<size_t>(size)));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        if (encoded.size() > INT_MAX) {
            return Error{"qoi: the stream is longer than the library reads"};
        }
        // Grey decodes as RGB, three samples for each one `decoded` has room for.
        qoiArea =
            grey_ ? std::span<uint8_t>(spread_).first(std::min(spread_.size(), decoded.size() * 3))
                  : decoded;
        qoi_desc desc{};
        const void* pixels =
            qoi_decode(encoded.data(), static_cast<int>(encoded.size()), &desc, desc_.channels);
        qoiArea = {};
        if (pixels == nullptr) {
            return Error{"qoi: the stream is malformed or holds more pixels than the image"};
        }
        const size_t count = size_t{desc.width} * desc.height;
        if (grey_) {
            TakeGreen(spread_.data(), decoded.first(count));
            return count;
        }
        return count * desc_.channels;
    }

private:
    qoi_desc desc_{};
    bool grey_ = false;
    std::vector<uint8_t> spread_;  // a grey image as RGB, both ways
    std::vector<uint8_t> own_;     // the output when the layout's area is too small
};

}  // namespace

void AddQoiCodecs(CodecRegistry& registry) {
    CodecEntry entry;
    entry.info.name = "qoi";
    entry.info.displayName = "qoi";
    entry.info.family = "qoi";
    entry.info.input = CodecInput::Pixels;
    entry.info.library = "qoi.h (the header has no version)";
    entry.info.description =
        "QOI, RGB/RGBA (grey spread to RGB per call); no allocation per call: the library's "
        "one block is the output area";
    entry.create = [](const std::vector<double>&,
                      const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new QoiInstance);
    };
    registry.Add(std::move(entry));
}

}  // namespace tallox

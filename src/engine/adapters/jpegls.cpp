// Lossless JPEG-LS through CharLS (its C interface), 8-bit grey, RGB or RGBA, the samples of a
// pixel interleaved. The encoder is made and configured in Prepare for the output area and
// rewound before each call; a decoder reads one stream and cannot be reset, so each decoding
// makes its own.
#include <charls/charls.h>

#include <memory>

#include "engine/adapters/library_codecs.h"
#include "engine/adapters/pixel_input.h"
#include "engine/codec.h"
#include "engine/input_file.h"

namespace tallox {
namespace {

// JPEG-LS has no tight worst case (a sample's code may reach 32 bits); on noise CharLS writes
// about 6% more than the samples, so half again plus 4 KiB of markers is room to spare, and
// the encoder refuses to pass the area's end in any case.
uint64_t JpeglsBound(uint64_t bytes) { return bytes + bytes / 2 + 4096; }

Error CharlsError(charls_jpegls_errc error) {
    return Error{std::string("jpegls: ") + charls_get_error_message(error)};
}

struct EncoderFree {
    void operator()(charls_jpegls_encoder* encoder) const {
        charls_jpegls_encoder_destroy(encoder);
    }
};
struct DecoderFree {
    void operator()(charls_jpegls_decoder* decoder) const {
        charls_jpegls_decoder_destroy(decoder);
    }
};

class JpeglsInstance final : public CodecInstance {
public:
    BlockLayout Layout(uint64_t inputBytes) const override {
        return {JpeglsBound(inputBytes), false, false};
    }
    Status Prepare(const InputShape& shape, WorkingBlock& block) override {
        if (Status checked = CheckPixels("jpegls", shape); !checked) {
            return checked;
        }
        if (shape.width > 65535 || shape.height > 65535) {
            return Error{"jpegls: at most 65535 pixels across and down"};
        }
        frame_ = {shape.width, shape.height, 8, static_cast<int32_t>(shape.channels)};
        return Configure({block.Output(), block.OutputBytes()});
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        // The encoder writes where Prepare pointed it; another area needs another encoder.
        if (output.data() != area_.data() || output.size() != area_.size()) {
            if (Status configured = Configure(output); !configured) {
                return configured.error();
            }
        } else if (const charls_jpegls_errc error = charls_jpegls_encoder_rewind(encoder_.get());
                   error != charls::jpegls_errc::success) {
            return CharlsError(error);
        }
        size_t written = 0;
        charls_jpegls_errc error =
            charls_jpegls_encoder_encode_from_buffer(encoder_.get(), input.data(), input.size(), 0);
        if (error == charls::jpegls_errc::success) {
            error = charls_jpegls_encoder_get_bytes_written(encoder_.get(), &written);
        }
        if (error != charls::jpegls_errc::success) {
            return CharlsError(error);
        }
        return std::span<const uint8_t>(output.first(written));
    }
    // Any 8-bit JPEG-LS stream decodes in its own layout; one that is malformed, cut short or
    // holds more samples than `decoded` has room for is refused.
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        // CharLS 2.4.1 spends seconds on a stream cut short (half of a 1 MB image: 6 s) before
        // it gives up; the end-of-image marker a whole stream closes with shows the cut at once.
        if (encoded.size() < 2 || encoded[encoded.size() - 2] != 0xFF ||
            encoded[encoded.size() - 1] != 0xD9) {
            return Error{"jpegls: the stream does not end with an end-of-image marker"};
        }
        const std::unique_ptr<charls_jpegls_decoder, DecoderFree> decoder(
            charls_jpegls_decoder_create());
        if (decoder == nullptr) {
            return Error{"jpegls: cannot create a decoder (out of memory)"};
        }
        charls_frame_info frame{};
        size_t size = 0;
        charls_jpegls_errc error =
            charls_jpegls_decoder_set_source_buffer(decoder.get(), encoded.data(), encoded.size());
        if (error == charls::jpegls_errc::success) {
            error = charls_jpegls_decoder_read_header(decoder.get());
        }
        if (error == charls::jpegls_errc::success) {
            error = charls_jpegls_decoder_get_frame_info(decoder.get(), &frame);
        }
        if (error == charls::jpegls_errc::success) {
            error = charls_jpegls_decoder_get_destination_size(decoder.get(), 0, &size);
        }
        if (error != charls::jpegls_errc::success) {
            return CharlsError(error);
        }
        if (frame.bits_per_sample != 8) {
            return Error{"jpegls: the stream's samples are not 8-bit"};
        }
        if (size > decoded.size()) {
            return Error{"jpegls: the stream holds more samples than the image had"};
        }
        error = charls_jpegls_decoder_decode_to_buffer(decoder.get(), decoded.data(), size, 0);
        if (error != charls::jpegls_errc::success) {
            return CharlsError(error);
        }
        return size;
    }

private:
    // A new encoder for the frame, lossless, writing into `area`.
    Status Configure(std::span<uint8_t> area) {
        encoder_.reset(charls_jpegls_encoder_create());
        if (encoder_ == nullptr) {
            return Error{"jpegls: cannot create an encoder (out of memory)"};
        }
        charls_jpegls_errc error = charls_jpegls_encoder_set_frame_info(encoder_.get(), &frame_);
        if (error == charls::jpegls_errc::success) {
            error = charls_jpegls_encoder_set_near_lossless(encoder_.get(), 0);
        }
        if (error == charls::jpegls_errc::success && frame_.component_count > 1) {
            error = charls_jpegls_encoder_set_interleave_mode(encoder_.get(),
                                                              charls::interleave_mode::sample);
        }
        if (error == charls::jpegls_errc::success) {
            error = charls_jpegls_encoder_set_destination_buffer(encoder_.get(), area.data(),
                                                                 area.size());
        }
        if (error != charls::jpegls_errc::success) {
            return CharlsError(error);
        }
        area_ = area;
        return Ok{};
    }

    charls_frame_info frame_{};
    std::unique_ptr<charls_jpegls_encoder, EncoderFree> encoder_;
    std::span<uint8_t> area_;
};

}  // namespace

void AddJpeglsCodecs(CodecRegistry& registry) {
    CodecEntry entry;
    entry.info.name = "jpegls";
    entry.info.displayName = "jpegls";
    entry.info.family = "jpegls";
    entry.info.input = CodecInput::Pixels;
    entry.info.library = std::string("CharLS ") + charls_get_version_string();
    entry.info.description =
        "JPEG-LS lossless, 8-bit grey/RGB/RGBA, sample-interleaved; the encoder made in Prepare "
        "and rewound per call, a decoder made per call";
    entry.create = [](const std::vector<double>&,
                      const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new JpeglsInstance);
    };
    registry.Add(std::move(entry));
}

}  // namespace tallox

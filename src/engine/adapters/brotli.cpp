// Brotli through libbrotli: a raw Brotli stream (.br), as the brotli tool writes it, at a
// quality and the library's default window. Brotli 1.0.9 can neither reset an encoder nor a
// decoder for a new stream, so each call makes its instance and the timed call includes that;
// the instance is the streaming one, made with the library's allocator hooks and told the
// input's size, as the one-call API would tell it.
#include <brotli/decode.h>
#include <brotli/encode.h>

#include <algorithm>
#include <memory>
#include <string>

#include "engine/adapters/heap_counter.h"
#include "engine/adapters/library_codecs.h"
#include "engine/codec.h"

namespace tallox {
namespace {

class BrotliInstance final : public CodecInstance {
public:
    explicit BrotliInstance(uint32_t quality) : quality_(quality) {}

    BlockLayout Layout(uint64_t inputBytes) const override {
        // The worst case of the library's own: the input in stored meta-blocks.
        return {BrotliEncoderMaxCompressedSize(inputBytes), false, false};
    }
    Status Prepare(const InputShape&, WorkingBlock&) override { return Ok{}; }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        const std::unique_ptr<BrotliEncoderState, Release> state(
            BrotliEncoderCreateInstance(&HeapCounter::Allocate, &HeapCounter::Free, &heap_));
        if (state == nullptr ||
            !BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_QUALITY, quality_) ||
            !BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_LGWIN, BROTLI_DEFAULT_WINDOW) ||
            !BrotliEncoderSetParameter(
                state.get(), BROTLI_PARAM_SIZE_HINT,
                static_cast<uint32_t>(std::min<size_t>(input.size(), uint32_t{1} << 30)))) {
            return Error{"brotli: cannot create an encoder (out of memory)"};
        }
        size_t inBytes = input.size();
        const uint8_t* in = input.data();
        size_t outBytes = output.size();
        uint8_t* out = output.data();
        // The encoder returns after each meta-block it emits; it finishes or the room is full.
        while (!BrotliEncoderIsFinished(state.get())) {
            if (outBytes == 0 ||
                !BrotliEncoderCompressStream(state.get(), BROTLI_OPERATION_FINISH, &inBytes, &in,
                                             &outBytes, &out, nullptr)) {
                return Error{outBytes == 0 ? "brotli: the stream outgrows its bound"
                                           : "brotli: the encoder failed"};
            }
        }
        return std::span<const uint8_t>(output.first(output.size() - outBytes));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        const std::unique_ptr<BrotliDecoderState, Release> state(
            BrotliDecoderCreateInstance(&HeapCounter::Allocate, &HeapCounter::Free, &heap_));
        if (state == nullptr) {
            return Error{"brotli: cannot create a decoder (out of memory)"};
        }
        size_t inBytes = encoded.size();
        const uint8_t* in = encoded.data();
        size_t outBytes = decoded.size();
        uint8_t* out = decoded.data();
        const BrotliDecoderResult result =
            BrotliDecoderDecompressStream(state.get(), &inBytes, &in, &outBytes, &out, nullptr);
        switch (result) {
            case BROTLI_DECODER_RESULT_SUCCESS:
                if (inBytes != 0) {
                    return Error{"brotli: bytes follow the stream"};
                }
                return decoded.size() - outBytes;
            case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
                return Error{"brotli: the stream decodes past its room"};
            case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
                return Error{"brotli: the stream is cut short"};
            default:
                return Error{std::string("brotli: ") +
                             BrotliDecoderErrorString(BrotliDecoderGetErrorCode(state.get()))};
        }
    }
    std::optional<uint64_t> HeapPeak() const override { return heap_.Peak(); }
    void ResetHeapPeak() override { heap_.ResetPeak(); }

private:
    struct Release {
        void operator()(BrotliEncoderState* state) const { BrotliEncoderDestroyInstance(state); }
        void operator()(BrotliDecoderState* state) const { BrotliDecoderDestroyInstance(state); }
    };
    uint32_t quality_;
    HeapCounter heap_;
};

}  // namespace

void AddBrotliCodecs(CodecRegistry& registry) {
    CodecEntry entry;
    entry.info.name = "brotli";
    entry.info.displayName = "brotli";
    entry.info.family = "brotli";
    entry.info.parameters = {
        {"quality", BROTLI_MIN_QUALITY, BROTLI_MAX_QUALITY, BROTLI_DEFAULT_QUALITY, true, "-", {}}};
    // BrotliEncoderVersion: 0xMMMNNNPPP in hex digits, major, minor and patch.
    const uint32_t version = BrotliEncoderVersion();
    entry.info.library = "libbrotli " + std::to_string(version >> 24) + "." +
                         std::to_string((version >> 12) & 0xFFF) + "." +
                         std::to_string(version & 0xFFF);
    entry.info.description =
        "Brotli streams (.br), default window; one thread, the encoder and decoder made in each "
        "timed call (the library cannot reuse them), heap counted through the library's hooks";
    entry.create = [](const std::vector<double>& values,
                      const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new BrotliInstance(static_cast<uint32_t>(values[0])));
    };
    registry.Add(std::move(entry));
}

}  // namespace tallox

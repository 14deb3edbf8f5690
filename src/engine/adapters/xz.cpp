// xz through liblzma: one .xz stream with a CRC64 check, as the xz tool writes it, at a preset
// 0 to 9 and, with extreme=1, the preset's slower variant (`xz -6e`). liblzma bounds the output
// of its single-call encoder alone, which makes its encoder state in every call: the timed
// call includes that, and so does the single-call decoder's. Both allocate through the
// library's allocator hooks.
#include <lzma.h>

#include <cstdint>
#include <string>

#include "engine/adapters/heap_counter.h"
#include "engine/adapters/library_codecs.h"
#include "engine/codec.h"

namespace tallox {
namespace {

void* LzmaAllocate(void* self, size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) {
        return nullptr;
    }
    return HeapCounter::Allocate(self, count * size);
}

std::string LzmaError(lzma_ret result) {
    switch (result) {
        case LZMA_MEM_ERROR:
            return "xz: out of memory";
        case LZMA_MEMLIMIT_ERROR:
            return "xz: the stream needs more memory than any preset";
        case LZMA_FORMAT_ERROR:
            return "xz: not an .xz stream";
        case LZMA_OPTIONS_ERROR:
            return "xz: the stream's options are not supported";
        case LZMA_DATA_ERROR:
            return "xz: the stream is damaged";
        case LZMA_BUF_ERROR:
            return "xz: the stream is cut short or decodes past its room";
        default:
            return "xz: liblzma error " + std::to_string(static_cast<int>(result));
    }
}

class XzInstance final : public CodecInstance {
public:
    explicit XzInstance(uint32_t preset) : preset_(preset) {}

    BlockLayout Layout(uint64_t inputBytes) const override {
        return {lzma_stream_buffer_bound(inputBytes), false, false};
    }
    Status Prepare(const InputShape&, WorkingBlock&) override { return Ok{}; }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        size_t written = 0;
        const lzma_ret result =
            lzma_easy_buffer_encode(preset_, LZMA_CHECK_CRC64, &allocator_, input.data(),
                                    input.size(), output.data(), &written, output.size());
        if (result != LZMA_OK) {
            return Error{LzmaError(result)};
        }
        return std::span<const uint8_t>(output.first(written));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        // Enough for every preset's dictionary; a stream that asks for more is refused before
        // anything is allocated.
        uint64_t limit = lzma_easy_decoder_memusage(9);
        size_t read = 0;
        size_t written = 0;
        const lzma_ret result =
            lzma_stream_buffer_decode(&limit, 0, &allocator_, encoded.data(), &read, encoded.size(),
                                      decoded.data(), &written, decoded.size());
        if (result != LZMA_OK) {
            return Error{LzmaError(result)};
        }
        if (read != encoded.size()) {
            return Error{"xz: bytes follow the stream"};
        }
        return written;
    }
    std::optional<uint64_t> HeapPeak() const override { return heap_.Peak(); }
    void ResetHeapPeak() override { heap_.ResetPeak(); }

private:
    uint32_t preset_;
    HeapCounter heap_;
    const lzma_allocator allocator_{&LzmaAllocate, &HeapCounter::Free, &heap_};
};

}  // namespace

void AddXzCodecs(CodecRegistry& registry) {
    CodecEntry entry;
    // One string copied thrice: gcc 12 misreads three two-letter literal assignments as reads
    // of uninitialised bytes.
    const std::string name = "xz";
    entry.info.name = name;
    entry.info.displayName = name;
    entry.info.family = name;
    entry.info.parameters = {{"preset", 0, 9, LZMA_PRESET_DEFAULT, true, "-", {}},
                             {"extreme", 0, 1, 0, true, "", {}}};
    entry.info.library = std::string("liblzma ") + lzma_version_string();
    entry.info.description =
        "xz streams (.xz, CRC64); one thread, the single-call encoder and decoder, which make "
        "their state in each timed call; heap counted through the library's hooks";
    entry.create = [](const std::vector<double>& values,
                      const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        const uint32_t preset =
            static_cast<uint32_t>(values[0]) | (values[1] != 0 ? LZMA_PRESET_EXTREME : 0);
        return std::unique_ptr<CodecInstance>(new XzInstance(preset));
    };
    // "xz -6", "xz -6e": the tool's own options.
    entry.label = [](const std::vector<double>& values) {
        return TabbedLabel("xz -" + FormatValue(values[0]) + (values[1] != 0 ? "e" : ""));
    };
    registry.Add(std::move(entry));
}

}  // namespace tallox

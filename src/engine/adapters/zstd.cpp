// zstd through libzstd: one compression and one decompression context, made before the timed
// calls with the library's allocator hooks, and reused by every call.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_customMem and the contexts made with it
#include <zstd.h>

#include "engine/adapters/heap_counter.h"
#include "engine/adapters/library_codecs.h"
#include "engine/codec.h"
#include "engine/input_file.h"

namespace tallox {
namespace {

class ZstdInstance final : public CodecInstance {
public:
    ZstdInstance(int level, int threads) : level_(level), threads_(threads) {}
    ~ZstdInstance() override {
        ZSTD_freeCCtx(compress_);
        ZSTD_freeDCtx(decompress_);
    }

    BlockLayout Layout(uint64_t inputBytes) const override {
        return {ZSTD_compressBound(inputBytes), false, false};
    }
    Status Prepare(const InputShape&, WorkingBlock&) override {
        const ZSTD_customMem hooks{&HeapCounter::Allocate, &HeapCounter::Free, &heap_};
        compress_ = ZSTD_createCCtx_advanced(hooks);
        decompress_ = ZSTD_createDCtx_advanced(hooks);
        if (compress_ == nullptr || decompress_ == nullptr) {
            return Error{"zstd: cannot create a context (out of memory)"};
        }
        // The threads asked for (one: no worker at all), whatever the library was built with;
        // the frame carries its content size and, as in the library's own benchmark mode, no
        // checksum.
        for (const auto& [parameter, value] :
             {std::pair{ZSTD_c_compressionLevel, level_},
              std::pair{ZSTD_c_nbWorkers, threads_ > 1 ? threads_ : 0},
              std::pair{ZSTD_c_checksumFlag, 0}, std::pair{ZSTD_c_contentSizeFlag, 1}}) {
            const size_t result = ZSTD_CCtx_setParameter(compress_, parameter, value);
            if (ZSTD_isError(result)) {
                return Error{std::string("zstd: ") + ZSTD_getErrorName(result)};
            }
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        const size_t size =
            ZSTD_compress2(compress_, output.data(), output.size(), input.data(), input.size());
        if (ZSTD_isError(size)) {
            return Error{std::string("zstd: ") + ZSTD_getErrorName(size)};
        }
        return std::span<const uint8_t>(output.first(size));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        const size_t size = ZSTD_decompressDCtx(decompress_, decoded.data(), decoded.size(),
                                                encoded.data(), encoded.size());
        if (ZSTD_isError(size)) {
            return Error{std::string("zstd: ") + ZSTD_getErrorName(size)};
        }
        return size;
    }
    std::optional<uint64_t> HeapPeak() const override { return heap_.Peak(); }
    void ResetHeapPeak() override { heap_.ResetPeak(); }

private:
    int level_;
    int threads_;
    HeapCounter heap_;
    ZSTD_CCtx* compress_ = nullptr;
    ZSTD_DCtx* decompress_ = nullptr;
};

}  // namespace

void AddZstdCodecs(CodecRegistry& registry) {
    CodecEntry entry;
    entry.info.name = "zstd";
    entry.info.displayName = "zstd";
    entry.info.family = "zstd";
    entry.info.parameters = {{"level",
                              static_cast<double>(ZSTD_minCLevel()),
                              static_cast<double>(ZSTD_maxCLevel()),
                              ZSTD_CLEVEL_DEFAULT,
                              true,
                              "-",
                              {}}};
    entry.info.library = std::string("libzstd ") + ZSTD_versionString();
    entry.info.description =
        "Zstandard frames (.zst); one thread, or ZSTD_c_nbWorkers workers with --threads";
    entry.info.threads = true;
    entry.create =
        [](const std::vector<double>& values,
           const CodecEnvironment& environment) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(
            new ZstdInstance(static_cast<int>(values[0]), environment.threads));
    };
    registry.Add(std::move(entry));
}

}  // namespace tallox

// LZ4 through liblz4's frame format (.lz4), the stream the lz4 tool reads: its fast coder with
// an acceleration, and its high-compression coder with a level. One compression and one
// decompression context, made before the timed calls with the library's allocator hooks and
// reused by every call; the fast and the HC coder's tables live in the compression context,
// made at its first call and kept.
#define LZ4F_STATIC_LINKING_ONLY  // LZ4F_CustomMem, the contexts made with it, and the
                                  // one-call frame compression into a reused context
#include <lz4.h>
#include <lz4frame.h>
#include <lz4hc.h>

#include <string>

#include "engine/adapters/heap_counter.h"
#include "engine/adapters/library_codecs.h"
#include "engine/codec.h"

namespace tallox {
namespace {

// lz4.h: accelerations above it count as it.
constexpr double kMaxAcceleration = 65537;

std::string Lz4Error(size_t code) { return std::string("lz4: ") + LZ4F_getErrorName(code); }

class Lz4Instance final : public CodecInstance {
public:
    explicit Lz4Instance(int frameLevel) {
        // As the tool writes a frame: independent blocks of up to 4 MiB, the content size in
        // the header, so that `lz4 -d` knows it; no checksum, as zstd's frames here have none.
        preferences_.frameInfo.blockSizeID = LZ4F_max4MB;
        preferences_.frameInfo.blockMode = LZ4F_blockIndependent;
        preferences_.compressionLevel = frameLevel;
    }
    ~Lz4Instance() override {
        LZ4F_freeCompressionContext(compress_);
        LZ4F_freeDecompressionContext(decompress_);
    }

    BlockLayout Layout(uint64_t inputBytes) const override {
        LZ4F_preferences_t preferences = preferences_;
        preferences.frameInfo.contentSize = inputBytes;
        return {LZ4F_compressFrameBound(inputBytes, &preferences), false, false};
    }
    Status Prepare(const InputShape&, WorkingBlock&) override {
        const LZ4F_CustomMem hooks{&HeapCounter::Allocate, nullptr, &HeapCounter::Free, &heap_};
        compress_ = LZ4F_createCompressionContext_advanced(hooks, LZ4F_VERSION);
        decompress_ = LZ4F_createDecompressionContext_advanced(hooks, LZ4F_VERSION);
        if (compress_ == nullptr || decompress_ == nullptr) {
            return Error{"lz4: cannot create a context (out of memory)"};
        }
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        preferences_.frameInfo.contentSize = input.size();
        const size_t size =
            LZ4F_compressFrame_usingCDict(compress_, output.data(), output.size(), input.data(),
                                          input.size(), nullptr, &preferences_);
        if (LZ4F_isError(size)) {
            return Error{Lz4Error(size)};
        }
        return std::span<const uint8_t>(output.first(size));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        // A context left mid-frame by a damaged stream starts afresh.
        LZ4F_resetDecompressionContext(decompress_);
        size_t read = 0;
        size_t written = 0;
        for (;;) {
            size_t inBytes = encoded.size() - read;
            size_t outBytes = decoded.size() - written;
            const size_t next = LZ4F_decompress(decompress_, decoded.data() + written, &outBytes,
                                                encoded.data() + read, &inBytes, nullptr);
            if (LZ4F_isError(next)) {
                return Error{Lz4Error(next)};
            }
            read += inBytes;
            written += outBytes;
            if (next == 0) {
                break;  // the frame's end, its content size checked by the library
            }
            if (inBytes == 0 && outBytes == 0) {
                return Error{written == decoded.size() ? "lz4: the frame decodes past its room"
                                                       : "lz4: the frame is cut short"};
            }
        }
        if (read != encoded.size()) {
            return Error{"lz4: bytes follow the frame"};
        }
        return written;
    }
    std::optional<uint64_t> HeapPeak() const override { return heap_.Peak(); }
    void ResetHeapPeak() override { heap_.ResetPeak(); }

private:
    LZ4F_preferences_t preferences_ = LZ4F_INIT_PREFERENCES;
    HeapCounter heap_;
    LZ4F_cctx* compress_ = nullptr;
    LZ4F_dctx* decompress_ = nullptr;
};

std::string Lz4Library() { return std::string("liblz4 ") + LZ4_versionString(); }

}  // namespace

void AddLz4Codecs(CodecRegistry& registry) {
    CodecEntry fast;
    fast.info.name = "lz4";
    fast.info.displayName = "lz4";
    fast.info.family = "lz4";
    // Acceleration a trades ratio for speed: the frame API's level 1 - a (level 0 is a = 1).
    fast.info.parameters = {{"acceleration", 1, kMaxAcceleration, 1, true, "a", {}}};
    fast.info.library = Lz4Library();
    fast.info.description =
        "LZ4 frames (.lz4), the fast coder at acceleration a; one thread, contexts reused, "
        "heap counted through the library's hooks";
    fast.create = [](const std::vector<double>& values,
                     const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new Lz4Instance(1 - static_cast<int>(values[0])));
    };
    registry.Add(std::move(fast));

    CodecEntry high;
    high.info.name = "lz4hc";
    high.info.displayName = "lz4hc";
    high.info.family = "lz4";
    // Below LZ4HC_CLEVEL_MIN the frame API runs the fast coder, which lz4 measures already.
    high.info.parameters = {
        {"level", LZ4HC_CLEVEL_MIN, LZ4HC_CLEVEL_MAX, LZ4HC_CLEVEL_DEFAULT, true, "-", {}}};
    high.info.library = Lz4Library();
    high.info.description =
        "LZ4 frames (.lz4), the high-compression coder; one thread, contexts reused, heap "
        "counted through the library's hooks";
    high.create = [](const std::vector<double>& values,
                     const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
        return std::unique_ptr<CodecInstance>(new Lz4Instance(static_cast<int>(values[0])));
    };
    registry.Add(std::move(high));
}

}  // namespace tallox

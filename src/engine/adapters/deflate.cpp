// DEFLATE through libdeflate, in its three framings: raw (RFC 1951), zlib (RFC 1950, Adler-32)
// and gzip (RFC 1952, CRC-32, what `gzip -d` reads). The compressor and the decompressor are
// made before the timed calls and reused; libdeflate's whole-buffer calls allocate nothing
// themselves.
//
// libdeflate 1.14 takes one allocator for the whole process, with no pointer of the caller's,
// and asks that no compressor exist when it is set: it is set once, when the registry is made,
// to malloc and free that count the bytes each thread holds. Blocks stay plain malloc blocks,
// so one allocated before the hook, or by another user of the library, is freed correctly.
#include <libdeflate.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>

#include "engine/adapters/library_codecs.h"
#include "engine/codec.h"

namespace tallox {
namespace {

// The bytes libdeflate holds for this thread's callers.
thread_local uint64_t heldBytes = 0;

void* CountedMalloc(size_t size) {
    void* block = std::malloc(size);
    if (block != nullptr) {
        heldBytes += malloc_usable_size(block);
    }
    return block;
}

void CountedFree(void* block) {
    if (block != nullptr) {
        heldBytes -= std::min<uint64_t>(heldBytes, malloc_usable_size(block));
    }
    std::free(block);
}

struct FramingCalls {
    const char* name;
    const char* description;
    size_t (*compress)(libdeflate_compressor*, const void*, size_t, void*, size_t);
    size_t (*bound)(libdeflate_compressor*, size_t);
    libdeflate_result (*decompress)(libdeflate_decompressor*, const void*, size_t, void*, size_t,
                                    size_t*, size_t*);
};

const FramingCalls kFramings[] = {
    {"deflate", "raw DEFLATE (RFC 1951), no check", &libdeflate_deflate_compress,
     &libdeflate_deflate_compress_bound, &libdeflate_deflate_decompress_ex},
    {"zlib", "zlib streams (RFC 1950, Adler-32)", &libdeflate_zlib_compress,
     &libdeflate_zlib_compress_bound, &libdeflate_zlib_decompress_ex},
    {"gzip", "gzip members (.gz, CRC-32)", &libdeflate_gzip_compress,
     &libdeflate_gzip_compress_bound, &libdeflate_gzip_decompress_ex},
};

class DeflateInstance final : public CodecInstance {
public:
    DeflateInstance(const FramingCalls& calls, int level) : calls_(calls), level_(level) {}
    ~DeflateInstance() override {
        libdeflate_free_compressor(compress_);
        libdeflate_free_decompressor(decompress_);
    }

    BlockLayout Layout(uint64_t inputBytes) const override {
        // The bound over every compressor this build of the library can make.
        return {calls_.bound(nullptr, inputBytes), false, false};
    }
    Status Prepare(const InputShape&, WorkingBlock&) override {
        const uint64_t before = heldBytes;
        compress_ = libdeflate_alloc_compressor(level_);
        decompress_ = libdeflate_alloc_decompressor();
        if (compress_ == nullptr || decompress_ == nullptr) {
            return Error{std::string(calls_.name) + ": cannot make a compressor (out of memory)"};
        }
        heap_ = heldBytes - before;
        return Ok{};
    }
    Result<std::span<const uint8_t>> Encode(std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
        const size_t size =
            calls_.compress(compress_, input.data(), input.size(), output.data(), output.size());
        if (size == 0) {
            return Error{std::string(calls_.name) + ": the output outgrows its bound"};
        }
        return std::span<const uint8_t>(output.first(size));
    }
    Result<size_t> Decode(std::span<const uint8_t> encoded, std::span<uint8_t> decoded) override {
        size_t read = 0;
        size_t written = 0;
        const libdeflate_result result =
            calls_.decompress(decompress_, encoded.data(), encoded.size(), decoded.data(),
                              decoded.size(), &read, &written);
        switch (result) {
            case LIBDEFLATE_SUCCESS:
                if (read != encoded.size()) {
                    return Error{std::string(calls_.name) + ": bytes follow the stream"};
                }
                return written;
            case LIBDEFLATE_INSUFFICIENT_SPACE:
                return Error{std::string(calls_.name) + ": the stream decodes past its room"};
            default:
                return Error{std::string(calls_.name) + ": the stream is damaged"};
        }
    }
    // Made in Prepare and never grown: the compressor's and decompressor's own bytes.
    std::optional<uint64_t> HeapPeak() const override { return heap_; }

private:
    const FramingCalls& calls_;
    int level_;
    uint64_t heap_ = 0;
    libdeflate_compressor* compress_ = nullptr;
    libdeflate_decompressor* decompress_ = nullptr;
};

}  // namespace

void AddDeflateCodecs(CodecRegistry& registry) {
    static const bool hooked = [] {
        libdeflate_set_memory_allocator(&CountedMalloc, &CountedFree);
        return true;
    }();
    static_cast<void>(hooked);
    for (const FramingCalls& calls : kFramings) {
        CodecEntry entry;
        entry.info.name = calls.name;
        entry.info.displayName = calls.name;
        entry.info.family = "deflate";
        // Level 0 stores the input; 10 to 12 are the near-optimal parser.
        entry.info.parameters = {{"level", 0, 12, 6, true, "-", {}}};
        entry.info.library = std::string("libdeflate ") + LIBDEFLATE_VERSION_STRING;
        entry.info.description = std::string(calls.description) +
                                 " through libdeflate; one thread, compressor and decompressor "
                                 "reused, heap counted through the library's process-wide hook";
        entry.create = [&calls](const std::vector<double>& values,
                                const CodecEnvironment&) -> Result<std::unique_ptr<CodecInstance>> {
            return std::unique_ptr<CodecInstance>(
                new DeflateInstance(calls, static_cast<int>(values[0])));
        };
        registry.Add(std::move(entry));
    }
}

}  // namespace tallox

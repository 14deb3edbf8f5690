// The peak heap a library allocates through its allocator hooks: each block carries its size
// in a header, so that a release can be counted without a lookup. The counts are atomic, since
// a library with worker threads allocates from them too.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tallox {

class HeapCounter {
public:
    // The hooks' signatures as zstd, Brotli, liblzma and libdeflate take them, the counter as
    // the opaque pointer.
    static void* Allocate(void* self, size_t size) {
        return static_cast<HeapCounter*>(self)->Take(size);
    }
    static void Free(void* self, void* block) { static_cast<HeapCounter*>(self)->Give(block); }

    uint64_t Peak() const { return peak_.load(); }
    void ResetPeak() { peak_.store(current_.load()); }

    void* Take(size_t size) {
        // The header keeps the block's alignment that of max_align_t.
        if (size > SIZE_MAX - kHeader) {
            return nullptr;
        }
        auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
        if (block == nullptr) {
            return nullptr;
        }
        std::memcpy(block, &size, sizeof size);
        const uint64_t now = current_ += size;
        uint64_t peak = peak_.load();
        while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
        }
        return block + kHeader;
    }
    void Give(void* memory) {
        if (memory == nullptr) {
            return;
        }
        auto* block = static_cast<unsigned char*>(memory) - kHeader;
        size_t size = 0;
        std::memcpy(&size, block, sizeof size);
        current_ -= size;
        std::free(block);
    }

private:
    static constexpr size_t kHeader = alignof(std::max_align_t);
    std::atomic<uint64_t> current_ = 0;
    std::atomic<uint64_t> peak_ = 0;
};

}  // namespace tallox

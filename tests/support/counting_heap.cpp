#include "support/counting_heap.h"

#include <cstdlib>

#include "platform/memory.h"

namespace tallox::test {
namespace {

CountingHeap* g_heap = nullptr;

void* Allocate(size_t size) {
    CountingHeap& heap = *g_heap;
    if (heap.failFrom >= 0 && heap.allocations >= heap.failFrom) {
        return nullptr;
    }
    void* memory = std::malloc(size);
    ++heap.allocations;
    ++heap.live;
    if (heap.keep) {
        heap.kept.push_back({memory, size});
    }
    return memory;
}

void Release(void* memory) {
    if (memory == nullptr) {
        return;
    }
    --g_heap->live;
    if (!g_heap->keep) {
        std::free(memory);
    }
}

uint64_t Available() { return g_heap->available; }

constexpr MemorySource kCounting{&Allocate, &Release, &Available};

}  // namespace

CountingHeap::CountingHeap() {
    g_heap = this;
    SetMemorySource(&kCounting);
}

CountingHeap::~CountingHeap() {
    SetMemorySource(nullptr);
    for (const Block& block : kept) {
        std::free(block.memory);
    }
    g_heap = nullptr;
}

}  // namespace tallox::test

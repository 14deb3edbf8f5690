// Heap blocks for the working buffers, and how much memory a process can have at most.
// Tests may replace both.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tallox {

struct MemorySource {
    void* (*allocate)(size_t size);  // null on failure
    void (*release)(void* block);
    uint64_t (*available)();  // physical memory and swap together, in bytes
};

void* AllocateBlock(size_t size);
void ReleaseBlock(void* block);
uint64_t AvailableMemory();

// Replaces the heap until called again; null restores malloc and free.
void SetMemorySource(const MemorySource* source);

}  // namespace tallox

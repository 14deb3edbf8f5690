#include "platform/memory.h"

#include <sys/sysinfo.h>

#include <cstdlib>
#include <limits>

namespace tallox {
namespace {

uint64_t SystemMemory() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) {
        return std::numeric_limits<uint64_t>::max();  // unknown: let malloc decide
    }
    return (static_cast<uint64_t>(info.totalram) + info.totalswap) * info.mem_unit;
}

constexpr MemorySource kHeap{&std::malloc, &std::free, &SystemMemory};
const MemorySource* g_source = &kHeap;

}  // namespace

void* AllocateBlock(size_t size) { return g_source->allocate(size); }

void ReleaseBlock(void* block) { g_source->release(block); }

uint64_t AvailableMemory() { return g_source->available(); }

void SetMemorySource(const MemorySource* source) { g_source = source != nullptr ? source : &kHeap; }

}  // namespace tallox

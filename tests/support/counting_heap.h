// The working blocks' heap, replaced for the life of the object by one that counts what it
// hands out, can refuse allocations, can claim a machine of any size, and can keep the blocks
// given back so that a test can read what the encoders left in them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tallox::test {

class CountingHeap {
public:
    CountingHeap();
    ~CountingHeap();  // frees every kept block and puts the real heap back
    CountingHeap(const CountingHeap&) = delete;
    CountingHeap& operator=(const CountingHeap&) = delete;

    int allocations = 0;  // blocks handed out
    int live = 0;         // handed out and not given back
    int failFrom = -1;    // allocations from this one (0-based) on fail; -1: none fails
    uint64_t available = ~uint64_t{0};  // the machine's memory, as the run is told
    bool keep = false;                  // keep released blocks until destruction

    struct Block {
        void* memory;
        size_t size;
    };
    std::vector<Block> kept;  // with `keep`, every block handed out, in order
};

}  // namespace tallox::test

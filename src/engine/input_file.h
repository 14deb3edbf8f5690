// The input of a lossless measurement: the whole file, read afresh into a working block.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/codec.h"
#include "engine/result.h"

namespace tallox {

extern const char kOpenFailedMessage[];
extern const char kReadFailedMessage[];
extern const char kAllocationFailedMessage[];
extern const char kTooLargeMessage[];

// The input at the start of the block and the codec's output area: for Tallox's own encoders
// right after the input, in the same block, with the LZ77 Fast work table when one was asked
// for; for every other codec in a block of its own, both 64-byte aligned. The memory comes from
// the platform heap.
class WorkingBlock {
public:
    uint32_t Length() const { return len_; }
    uint8_t* Input() { return input_; }
    uint8_t* Output() { return output_; }
    uint64_t OutputBytes() const { return outputBytes_; }
    int32_t* WorkTable() { return reinterpret_cast<int32_t*>(table_.get()); }
    // The bytes a codec is handed: the input, the output area and the work table.
    uint64_t Size() const { return size_; }

private:
    friend Status ReadInput(const std::string&, const std::function<BlockLayout(uint64_t)>&,
                            WorkingBlock&);
    friend Status FillBlock(std::span<const uint8_t>, const BlockLayout&, WorkingBlock&);
    // Allocates the block for an input of `length` bytes laid out as `layout` says.
    Status Allocate(uint64_t length, const BlockLayout& layout);
    struct Release {
        void operator()(void* memory) const;
    };
    std::unique_ptr<uint8_t, Release> block_;
    std::unique_ptr<uint8_t, Release> outputBlock_;
    std::unique_ptr<uint8_t, Release> table_;
    uint8_t* input_ = nullptr;
    uint8_t* output_ = nullptr;
    uint64_t outputBytes_ = 0;
    uint64_t size_ = 0;
    uint32_t len_ = 0;
};

// Whether the file at `path` can be measured at all: it exists, is a regular file (a FIFO or a
// device would block or never end) and opens for reading. Nothing is read.
Status CheckInput(const std::string& path);

// Reads the whole file at `path` into `block`, with a work table when `withWorkTable`. What
// cannot be measured is refused before anything is allocated: anything but a regular file, a
// file longer than 32-bit lengths count, and memory the machine could never hold.
Status ReadInput(const std::string& path, bool withWorkTable, WorkingBlock& block);

// The same for a codec that lays out its block as `layoutFor` says for the input's length.
Status ReadInput(const std::string& path, const std::function<BlockLayout(uint64_t)>& layoutFor,
                 WorkingBlock& block);

// The whole file at `path` into `bytes`, refused as ReadInput refuses it.
Status ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);

// Copies `bytes` (an image's samples) into `block`, laid out as `layout` says.
Status FillBlock(std::span<const uint8_t> bytes, const BlockLayout& layout, WorkingBlock& block);

}  // namespace tallox

// The input of a lossless measurement: the whole file, read afresh into a working block.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tallox {

extern const char kOpenFailedMessage[];
extern const char kReadFailedMessage[];
extern const char kAllocationFailedMessage[];
extern const char kTooLargeMessage[];

// Why an input could not be had: the message to show, and the system's error number when a
// system call gave one (0 otherwise).
struct InputError {
    const char* message;
    int systemError;
};

// The file at the start of the block, the encoders' output area right after it, and the LZ77
// Fast work table when one was asked for. The memory comes from the platform heap.
class WorkingBlock {
public:
    uint32_t Length() const { return len_; }
    uint8_t* Input() { return block_.get(); }
    uint8_t* Output() { return block_.get() + len_; }
    int32_t* WorkTable() { return reinterpret_cast<int32_t*>(table_.get()); }

private:
    friend std::optional<InputError> ReadInput(const std::string&, bool, WorkingBlock&);
    struct Release {
        void operator()(void* memory) const;
    };
    std::unique_ptr<uint8_t, Release> block_;
    std::unique_ptr<uint8_t, Release> table_;
    uint32_t len_ = 0;
};

// Whether the file at `path` can be measured at all: it exists, is a regular file (a FIFO or a
// device would block or never end) and opens for reading. Nothing is read.
std::optional<InputError> CheckInput(const std::string& path);

// Reads the whole file at `path` into `block`, with a work table when `withWorkTable`. What
// cannot be measured is refused before anything is allocated: anything but a regular file, a
// file longer than 32-bit lengths count, and memory the machine could never hold.
std::optional<InputError> ReadInput(const std::string& path, bool withWorkTable,
                                    WorkingBlock& block);

}  // namespace tallox

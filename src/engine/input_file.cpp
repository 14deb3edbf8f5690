#include "engine/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "codecs/working_block.h"
#include "platform/memory.h"

namespace tallox {

const char kOpenFailedMessage[] = "Failed to open the input file!";
const char kReadFailedMessage[] = "Failed to read the input file!";
const char kAllocationFailedMessage[] = "Failed to allocate memory!";
const char kTooLargeMessage[] =
    "The input file is too large: at most 4,294,967,295 bytes can be measured!";

namespace {

// A file descriptor, closed with the object.
class Descriptor {
public:
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }
    void Open(const std::string& path, int flags) { fd_ = open(path.c_str(), flags); }

private:
    int fd_ = -1;
};

// Opens a regular file for reading without ever blocking: anything else is refused before it
// is read (opening a FIFO for reading would wait for a writer; O_NONBLOCK makes it return).
Status OpenRegular(const std::string& path, Descriptor& file, uint64_t& length) {
    file.Open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.get() < 0) {
        return Error{kOpenFailedMessage, errno};
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0) {
        return Error{kReadFailedMessage, errno};
    }
    if (!S_ISREG(info.st_mode)) {
        return Error{kReadFailedMessage, S_ISDIR(info.st_mode) ? EISDIR : 0};
    }
    length = static_cast<uint64_t>(info.st_size);
    return Ok{};
}

// Opens a file to be read whole: a regular file, as above, no longer than 32-bit lengths count.
Status OpenMeasurable(const std::string& path, Descriptor& file, uint64_t& length) {
    if (Status status = OpenRegular(path, file, length); !status) {
        return status;
    }
    if (length > std::numeric_limits<uint32_t>::max()) {
        return Error{kTooLargeMessage, 0};
    }
    return Ok{};
}

// Reads `length` bytes of `file` into `into`; a file that shrank since its length was taken
// gives a short read, which fails.
Status ReadWhole(const Descriptor& file, uint8_t* into, uint64_t length) {
    while (length > 0) {
        const ssize_t n = read(file.get(), into, std::min<uint64_t>(length, 1u << 30));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Error{kReadFailedMessage, n < 0 ? errno : 0};
        }
        into += n;
        length -= static_cast<uint64_t>(n);
    }
    return Ok{};
}

}  // namespace

Status CheckInput(const std::string& path) {
    Descriptor file;
    uint64_t length = 0;
    return OpenRegular(path, file, length);
}

void WorkingBlock::Release::operator()(void* memory) const { ReleaseBlock(memory); }

Status WorkingBlock::Allocate(uint64_t length, const BlockLayout& layout) {
    *this = WorkingBlock();
    // Refused when the machine could never hold it: an overcommitting heap would hand out the
    // block and fail later, inside the timed loop.
    const uint64_t tableSize = layout.workTable ? WorkTableSize(length) : 0;
    // A separate block is over-allocated by its alignment.
    constexpr uint64_t kAlign = 64;
    const uint64_t blockSize =
        layout.behindInput ? length + layout.outputBytes : length + (length > 0 ? kAlign : 0);
    const uint64_t outputSize = layout.behindInput ? 0 : layout.outputBytes + kAlign;
    if (blockSize + outputSize + tableSize > AvailableMemory() ||
        blockSize > std::numeric_limits<size_t>::max() - outputSize) {
        return Error{kAllocationFailedMessage, 0};
    }
    const auto aligned = [](uint8_t* memory) {
        return memory + (kAlign - reinterpret_cast<uintptr_t>(memory) % kAlign) % kAlign;
    };
    if (blockSize > 0) {
        block_.reset(static_cast<uint8_t*>(AllocateBlock(blockSize)));
    }
    if (layout.behindInput) {
        input_ = block_.get();
        output_ = input_ != nullptr ? input_ + length : nullptr;
    } else {
        input_ = block_ ? aligned(block_.get()) : nullptr;
        if (block_ || blockSize == 0) {
            outputBlock_.reset(static_cast<uint8_t*>(AllocateBlock(outputSize)));
        }
        output_ = outputBlock_ ? aligned(outputBlock_.get()) : nullptr;
    }
    if (layout.workTable && output_ != nullptr) {
        table_.reset(static_cast<uint8_t*>(AllocateBlock(tableSize)));
    }
    if (output_ == nullptr || (blockSize > 0 && !block_) || (layout.workTable && !table_)) {
        *this = WorkingBlock();
        return Error{kAllocationFailedMessage, 0};
    }
    outputBytes_ = layout.outputBytes;
    size_ = length + layout.outputBytes + tableSize;
    return Ok{};
}

Status ReadInput(const std::string& path, bool withWorkTable, WorkingBlock& block) {
    return ReadInput(
        path,
        [withWorkTable](uint64_t length) {
            return BlockLayout{OutputAreaSize(length), true, withWorkTable};
        },
        block);
}

Status ReadInput(const std::string& path, const std::function<BlockLayout(uint64_t)>& layoutFor,
                 WorkingBlock& block) {
    block = WorkingBlock();
    Descriptor file;
    uint64_t length = 0;
    if (Status status = OpenMeasurable(path, file, length); !status) {
        return status;
    }
    if (Status status = block.Allocate(length, layoutFor(length)); !status) {
        return status;
    }
    if (Status status = ReadWhole(file, block.input_, length); !status) {
        block = WorkingBlock();
        return status;
    }
    block.len_ = static_cast<uint32_t>(length);
    return Ok{};
}

Status ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    Descriptor file;
    uint64_t length = 0;
    if (Status status = OpenMeasurable(path, file, length); !status) {
        return status;
    }
    if (length > AvailableMemory()) {
        return Error{kAllocationFailedMessage, 0};
    }
    bytes.resize(length);
    if (Status status = ReadWhole(file, bytes.data(), length); !status) {
        bytes.clear();
        return status;
    }
    return Ok{};
}

Status FillBlock(std::span<const uint8_t> bytes, const BlockLayout& layout, WorkingBlock& block) {
    if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
        return Error{kTooLargeMessage, 0};
    }
    if (Status status = block.Allocate(bytes.size(), layout); !status) {
        return status;
    }
    if (!bytes.empty()) {
        std::memcpy(block.input_, bytes.data(), bytes.size());
    }
    block.len_ = static_cast<uint32_t>(bytes.size());
    return Ok{};
}

}  // namespace tallox

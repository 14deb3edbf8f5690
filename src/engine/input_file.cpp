#include "engine/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading without ever blocking: anything else is refused before it
// is read (opening a FIFO for reading would wait for a writer; O_NONBLOCK makes it return).
std::optional<InputError> OpenRegular(const std::string& path, File& file, uint64_t& length) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return InputError{kOpenFailedMessage, errno};
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        close(fd);
        return InputError{kReadFailedMessage, error};
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return InputError{kReadFailedMessage, S_ISDIR(info.st_mode) ? EISDIR : 0};
    }
    file.reset(fdopen(fd, "rb"));
    if (!file) {
        const int error = errno;
        close(fd);
        return InputError{kOpenFailedMessage, error};
    }
    length = static_cast<uint64_t>(info.st_size);
    return std::nullopt;
}

}  // namespace

std::optional<InputError> CheckInput(const std::string& path) {
    File file;
    uint64_t length = 0;
    return OpenRegular(path, file, length);
}

void WorkingBlock::Release::operator()(void* memory) const { ReleaseBlock(memory); }

std::optional<InputError> ReadInput(const std::string& path, bool withWorkTable,
                                    WorkingBlock& block) {
    block = WorkingBlock();
    File file;
    uint64_t length = 0;
    if (std::optional<InputError> error = OpenRegular(path, file, length)) {
        return error;
    }
    if (length > std::numeric_limits<uint32_t>::max()) {
        return InputError{kTooLargeMessage, 0};
    }
    // Refused when the machine could never hold it: an overcommitting heap would hand out the
    // block and fail later, inside the timed loop.
    const uint64_t tableSize = withWorkTable ? WorkTableSize(length) : 0;
    if (WorkingBlockSize(length) + tableSize > AvailableMemory()) {
        return InputError{kAllocationFailedMessage, 0};
    }
    block.block_.reset(static_cast<uint8_t*>(AllocateBlock(WorkingBlockSize(length))));
    if (withWorkTable && block.block_) {
        block.table_.reset(static_cast<uint8_t*>(AllocateBlock(tableSize)));
    }
    if (!block.block_ || (withWorkTable && !block.table_)) {
        block = WorkingBlock();
        return InputError{kAllocationFailedMessage, 0};
    }
    // A file that shrank since its length was taken gives a short read.
    if (std::fread(block.block_.get(), 1, length, file.get()) != length) {
        const int error = std::ferror(file.get()) ? errno : 0;
        block = WorkingBlock();
        return InputError{kReadFailedMessage, error};
    }
    block.len_ = static_cast<uint32_t>(length);
    return std::nullopt;
}

}  // namespace tallox

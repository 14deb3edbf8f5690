#include "engine/input_file.h"

#include <sys/stat.h>

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

}  // namespace

void WorkingBlock::Release::operator()(void* memory) const { ReleaseBlock(memory); }

std::optional<InputError> ReadInput(const std::string& path, bool withWorkTable,
                                    WorkingBlock& block) {
    block = WorkingBlock();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return InputError{kOpenFailedMessage, errno};
    }
    // A directory or a device opens too, but has no length to read.
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0) {
        return InputError{kReadFailedMessage, errno};
    }
    if (!S_ISREG(info.st_mode)) {
        return InputError{kReadFailedMessage, 0};
    }
    const uint64_t length = static_cast<uint64_t>(info.st_size);
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

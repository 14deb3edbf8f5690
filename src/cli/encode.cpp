#include "cli/encode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "cli/output.h"
#include "codecs/rice.h"
#include "codecs/working_block.h"
#include "engine/codec_table.h"
#include "engine/input_file.h"
#include "engine/jpeg_measurement.h"
#include "platform/imaging.h"

namespace tallox {

namespace {

namespace fs = std::filesystem;

const char kWriteFailedMessage[] = "Failed to write the output file!";

int Fail(const RunMessage& message) {
    std::fprintf(stderr, "%s\n", cli::FormatMessage(message).c_str());
    return 1;
}

// Writes all of `bytes` to `fd`; false with errno set when a write fails.
bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

// Puts `bytes` at `path` whole or not at all: they go to a temporary file beside the target,
// which replaces it once every byte is written and the file closed. A link is followed, so
// that the file it names is replaced. What exists and is not a regular file (a device, a FIFO,
// /dev/stdout) cannot be replaced and is written in place. Returns errno, or 0.
int WriteOutput(const std::string& path, const uint8_t* bytes, size_t count) {
    struct stat existing {};
    fs::path target = path;
    mode_t mode = 0666;
    if (stat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) {
                return errno;
            }
            const bool written = WriteAll(fd, bytes, count);
            const int error = written ? 0 : errno;
            return close(fd) != 0 && error == 0 ? errno : error;
        }
        std::error_code ignored;
        target = fs::canonical(path, ignored);
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    const fs::path folder = target.parent_path().empty() ? "." : target.parent_path();
    std::string temporary = folder.string();
    temporary.append("/.").append(target.filename().string()).append(".XXXXXX");
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = fchmod(fd, mode) == 0 && WriteAll(fd, bytes, count) ? 0 : errno;
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
    }
    return error;
}

}  // namespace

int RunEncode(const EncodeOptions& options) {
    const Codec* codec = FindCodec(options.codec);
    // The output may not be the input under another name (a link included): it would be lost.
    struct stat input {};
    struct stat output {};
    if (stat(options.input.c_str(), &input) == 0 && stat(options.output.c_str(), &output) == 0 &&
        input.st_dev == output.st_dev && input.st_ino == output.st_ino) {
        return Fail({"the output would overwrite the input", options.output, 0});
    }
    if (options.codec == "jpeg") {
        // The image as the JPEG row loads it, saved as the row saves it.
        if (const std::optional<InputError> error = CheckInput(options.input)) {
            return Fail({error->message, options.input, error->systemError});
        }
        const ImagingSession session;
        const std::optional<Image> image = PlatformImaging().Load(options.input);
        std::vector<uint8_t> jpeg;
        if (!image || !PlatformImaging().SaveJpeg(*image, JpegOptions{options.quality}, jpeg)) {
            return Fail({kSaveFailedMessage, options.input, 0});
        }
        if (const int error = WriteOutput(options.output, jpeg.data(), jpeg.size())) {
            return Fail({kWriteFailedMessage, options.output, error});
        }
        return 0;
    }
    // The same working block as a measurement: the encoders rely on its output area.
    WorkingBlock block;
    if (const std::optional<InputError> error =
            ReadInput(options.input, codec->needsWorkTable, block)) {
        return Fail({error->message, options.input, error->systemError});
    }
    const uint32_t len = block.Length();
    // Huffman and Rice leave the unwritten low bits of their last byte as the area held them:
    // a zeroed area makes them 0, so that the file is the same on every run.
    std::memset(block.Output(), 0, OutputAreaSize(len));
    const uint32_t count =
        options.codec == "rice"
            ? EncodeRice(block.Input(), block.Output(), len, options.riceType)
            : codec->encode(block.Input(), block.Output(), len, block.WorkTable());
    if (const int error = WriteOutput(options.output, block.Output(), count)) {
        return Fail({kWriteFailedMessage, options.output, error});
    }
    return 0;
}

}  // namespace tallox

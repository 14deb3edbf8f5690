#include "cli/encode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "cli/output.h"
#include "codecs/rice.h"
#include "codecs/working_block.h"
#include "engine/codec.h"
#include "engine/input_file.h"
#include "engine/own_codecs.h"
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
// /dev/stdout) cannot be replaced and is written in place.
Status WriteOutput(const std::string& path, const uint8_t* bytes, size_t count) {
    const auto failed = [](int error) {
        return error == 0 ? Status(Ok{}) : Status(Error{kWriteFailedMessage, error});
    };
    struct stat existing {};
    fs::path target = path;
    mode_t mode = 0666;
    if (stat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) {
                return failed(errno);
            }
            const bool written = WriteAll(fd, bytes, count);
            const int error = written ? 0 : errno;
            return failed(close(fd) != 0 && error == 0 ? errno : error);
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
        return failed(errno);
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
    return failed(error);
}

}  // namespace

int RunEncode(const EncodeOptions& options) {
    // The output may not be the input under another name (a link included): it would be lost.
    struct stat input {};
    struct stat output {};
    if (stat(options.input.c_str(), &input) == 0 && stat(options.output.c_str(), &output) == 0 &&
        input.st_dev == output.st_dev && input.st_ino == output.st_ino) {
        return Fail({"the output would overwrite the input", options.output, 0});
    }
    const CodecRegistry& registry = DefaultRegistry();
    const Result<std::vector<CodecSetting>> settings = ParseCodecList(options.codec, registry);
    if (!settings || settings->size() != 1) {
        std::fprintf(stderr, "tallox-cli: encode: %s\n",
                     settings ? "name one codec setting, such as zstd:19"
                              : settings.error().message.c_str());
        return 2;
    }
    const CodecEntry& entry = *registry.Find(settings->front().name);
    std::vector<double> values = ValuesOf(entry, settings->front());
    if (entry.info.name == "jpeg" && options.codec.find(':') == std::string::npos) {
        values[0] = options.quality;
    }
    if (entry.info.yardstick) {
        std::fprintf(stderr, "tallox-cli: encode: memcpy writes no stream\n");
        return 2;
    }
    const ImagingSession session;
    Result<std::unique_ptr<CodecInstance>> made = entry.create(values, {&PlatformImaging()});
    if (!made) {
        return Fail({made.error().message, options.input, 0});
    }
    CodecInstance& codec = **made;
    // The input as the row reads it: the file's bytes into the same working block, or the
    // image's pixels.
    WorkingBlock block;
    InputShape shape;
    std::optional<Image> image;
    std::span<const uint8_t> bytes;
    if (entry.info.input == CodecInput::Pixels) {
        if (const Status read = CheckInput(options.input); !read) {
            return Fail({read.error().message, options.input, read.error().systemError});
        }
        image = PlatformImaging().Load(options.input);
        if (image) {
            bytes = image->rgb;
            shape = {bytes.size(), &*image, image->width, image->height, 3};
            if (const Status read = FillBlock({}, codec.Layout(bytes.size()), block); !read) {
                return Fail({read.error().message, options.input, read.error().systemError});
            }
        }
    } else {
        if (const Status read = ReadInput(
                options.input, [&](uint64_t length) { return codec.Layout(length); }, block);
            !read) {
            return Fail({read.error().message, options.input, read.error().systemError});
        }
        bytes = {block.Input(), block.Length()};
        shape.bytes = bytes.size();
        // Huffman and Rice leave the unwritten low bits of their last byte as the area held
        // them: a zeroed area makes them 0, so that the file is the same on every run.
        std::memset(block.Output(), 0, block.OutputBytes());
    }
    if (Status prepared = codec.Prepare(shape, block); !prepared) {
        return Fail({prepared.error().message, options.input, prepared.error().systemError});
    }
    std::span<const uint8_t> encoded;
    if (entry.info.name == "rice") {
        // Rice over another sample type than the row's.
        const uint32_t count =
            EncodeRice(block.Input(), block.Output(), block.Length(), options.riceType);
        encoded = {block.Output(), count};
    } else {
        const Result<std::span<const uint8_t>> result =
            codec.Encode(bytes, {block.Output(), block.OutputBytes()});
        if (!result) {
            return Fail({result.error().message, options.input, result.error().systemError});
        }
        encoded = *result;
    }
    if (const Status written = WriteOutput(options.output, encoded.data(), encoded.size());
        !written) {
        return Fail({written.error().message, options.output, written.error().systemError});
    }
    return 0;
}

}  // namespace tallox

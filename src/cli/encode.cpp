#include "cli/encode.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <vector>

#include "bench/run.h"
#include "codecs/rice.h"
#include "platform/memory.h"

namespace tallox {

namespace {

int Fail(const char* message) {
    std::fprintf(stderr, "tallox-cli: %s\n", message);
    return 1;
}

}  // namespace

int RunEncode(const EncodeOptions& options) {
    namespace fs = std::filesystem;
    std::ifstream in(options.input, std::ios::binary);
    if (!in) {
        return Fail(kOpenFailedMessage);
    }
    // The same refusals as a measurement, before anything is allocated: a directory or device
    // has no length to read, and the encoders count in 32 bits.
    std::error_code error;
    const fs::file_status status = fs::status(options.input, error);
    const uintmax_t length = error ? 0 : fs::file_size(options.input, error);
    if (error || !fs::is_regular_file(status)) {
        return Fail(kReadFailedMessage);
    }
    if (length > UINT32_MAX) {
        return Fail(kTooLargeMessage);
    }
    const uint32_t len = static_cast<uint32_t>(length);
    const bool lz77Fast = options.codec == "lz77fast";
    const uint64_t tableSize = lz77Fast ? WorkTableSize(len) : 0;
    if (WorkingBlockSize(len) + tableSize > AvailableMemory()) {
        return Fail(kAllocationFailedMessage);
    }
    // The same block as a measurement: the encoders rely on its output area.
    std::vector<uint8_t> block;
    std::vector<int32_t> workTable;
    try {
        block.resize(WorkingBlockSize(len));
        workTable.resize(tableSize / sizeof(int32_t));
    } catch (const std::bad_alloc&) {
        return Fail(kAllocationFailedMessage);
    }
    // A file that shrank since its length was taken gives a short read.
    in.read(reinterpret_cast<char*>(block.data()), len);
    if (static_cast<uint64_t>(in.gcount()) != len) {
        return Fail(kReadFailedMessage);
    }
    uint32_t count = 0;
    if (options.codec == "rice") {
        count = EncodeRice(block.data(), block.data() + len, len, options.riceType);
    } else {
        for (const CodecDescriptor& codec : CodecTable()) {
            if (codec.encode != nullptr && options.codec == codec.name) {
                count = codec.encode(block.data(), block.data() + len, len, workTable.data());
            }
        }
    }
    std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(block.data() + len), count);
    out.close();
    if (!out) {
        return Fail("Failed to write the output file!");
    }
    return 0;
}

}  // namespace tallox

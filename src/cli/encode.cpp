#include "cli/encode.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "bench/run.h"
#include "codecs/rice.h"

namespace tallox {

int RunEncode(const EncodeOptions& options) {
    std::ifstream in(options.input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tallox-cli: %s\n", kOpenFailedMessage);
        return 1;
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "tallox-cli: %s\n", kReadFailedMessage);
        return 1;
    }
    if (data.size() > UINT32_MAX) {
        std::fprintf(stderr, "tallox-cli: %s\n", kTooLargeMessage);
        return 1;
    }
    const uint32_t len = static_cast<uint32_t>(data.size());
    // The same block as a measurement: the encoders rely on its output area.
    std::vector<uint8_t> block(WorkingBlockSize(len));
    std::copy(data.begin(), data.end(), block.begin());
    std::vector<int32_t> workTable;
    uint32_t count = 0;
    if (options.codec == "rice") {
        count = EncodeRice(block.data(), block.data() + len, len, options.riceType);
    } else {
        for (const CodecDescriptor& codec : CodecTable()) {
            if (codec.encode != nullptr && options.codec == codec.name) {
                if (codec.needsWorkTable) {
                    workTable.resize(WorkTableSize(len) / sizeof(int32_t));
                }
                count = codec.encode(block.data(), block.data() + len, len, workTable.data());
            }
        }
    }
    std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(block.data() + len), count);
    out.close();
    if (!out) {
        std::fprintf(stderr, "tallox-cli: Failed to write the output file!\n");
        return 1;
    }
    return 0;
}

}  // namespace tallox

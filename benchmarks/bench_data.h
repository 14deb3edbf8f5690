// The input every encoder benchmark runs on: the bundled sample image, read once, with an
// output area as large as the benchmark run's working buffer gives an encoder.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codecs/working_block.h"

namespace tallox::bench {

struct SampleBuffers {
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
    uint32_t len = 0;
};

inline const std::vector<uint8_t>& SampleImage() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> data;
        if (FILE* file = std::fopen(TALLOX_SAMPLE_IMAGE, "rb")) {
            uint8_t chunk[65536];
            size_t got;
            while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
                data.insert(data.end(), chunk, chunk + got);
            }
            std::fclose(file);
        }
        if (data.empty()) {
            std::fprintf(stderr, "cannot read %s\n", TALLOX_SAMPLE_IMAGE);
            std::exit(1);
        }
        return data;
    }();
    return bytes;
}

inline SampleBuffers MakeSampleBuffers() {
    SampleBuffers buffers;
    buffers.input = SampleImage();
    buffers.len = static_cast<uint32_t>(buffers.input.size());
    buffers.output.assign(OutputAreaSize(buffers.len), 0);
    return buffers;
}

}  // namespace tallox::bench

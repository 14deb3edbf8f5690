// The options a run reads: the input and which codecs to measure, how often, at what quality.
#pragma once
#include <cstdint>
#include <string>

namespace tallox {

struct BenchmarkSettings {
    std::string fileName;  // empty: a run does nothing
    std::string filePath;
    bool jpeg = true;
    bool rle = true;
    bool huffman = true;
    bool rice = true;
    bool lz77 = false;
    bool lz77Fast = false;
    int32_t iterations = 25;
    int32_t jpegQuality = 50;  // 1 to 100
};

}  // namespace tallox

#pragma once
#include <cstdint>
#include <string>

namespace tallox {

// The options a run reads. A codec is measured only when its member equals exactly 1.
struct BenchmarkSettings {
    std::string m_strFileName;  // empty: Start does nothing
    std::string m_strFilePath;
    int32_t m_bJpeg = 1;
    int32_t m_bRle = 1;
    int32_t m_bHuffman = 1;
    int32_t m_bRice = 1;
    int32_t m_bLz77 = 0;
    int32_t m_bLz77Fast = 0;
    int32_t m_nIterations = 25;
    int32_t m_nJpegQuality = 50;
};

}  // namespace tallox

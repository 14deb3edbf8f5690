// The options a run reads: the input and which codecs to measure, how often, at what quality.
#pragma once
#include <cstdint>
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/codec.h"
#include "platform/imaging.h"

namespace tallox {

struct BenchmarkSettings {
    std::string fileName;  // empty: a run does nothing
    std::string filePath;
    // The codecs to measure with their parameters. The report's own rows come first, in their
    // fixed order, whatever the order here; the others follow in the order given.
    std::vector<CodecSetting> codecs{{"jpeg", {}}, {"rle", {}}, {"huffman", {}}, {"rice", {}}};
    int32_t iterations = 25;
    int32_t jpegQuality = 50;  // 1 to 100
    // A JPEG sweep: one row for every pair of quality and subsampling. An empty list stands for
    // jpegQuality alone, or for 4:2:0 alone.
    std::vector<int32_t> jpegQualities;
    std::vector<Subsampling> jpegSubsamplings;
    bool jpegProgressive = false;
    bool jpegOptimize = false;    // Huffman tables fitted to the image
    bool verify = true;           // decode each lossless codec's last output and compare
    bool measureDecoding = true;  // time the decoders too
    bool baseline = false;        // a memcpy of the input first, as a yardstick row
    int32_t warmup = 0;           // untimed calls before each codec's timed ones
    double minimumSeconds = 0.0;  // each codec calls on until this much has been timed
    double maximumSeconds = 0.0;  // and no further once this much is timed (0: no limit)
    // The thread counts each codec that takes threads is measured at, a row per count; the
    // others are measured once, single-threaded.
    std::vector<int32_t> threads{1};
    bool samples = false;  // keep every timed call's time in the row
    // The CPU the front end pinned the measuring thread to, and the CPUs the process may use as
    // it read them before pinning: a row of several threads runs on that many of them, the
    // pinned one first, and goes back to the one CPU after. Nothing: not pinned.
    std::optional<int> pinnedCpu;
    std::vector<int> allowedCpus;
    // What the byte codecs compress: a bitmap's file bytes and any other image's decoded
    // pixels (Auto), or always the one or the other. A file that is no image: its bytes.
    enum class Basis { Auto, File, Pixels } basis = Basis::Auto;
    // The quality figures of every lossy row, each computed after the timed calls.
    bool psnr = true;
    bool ssim = true;
    bool ssimulacra2 = true;
    bool butteraugli = true;

    bool Selected(std::string_view name) const {
        return std::any_of(codecs.begin(), codecs.end(),
                           [&](const CodecSetting& setting) { return setting.name == name; });
    }
    // Adds the codec at its defaults, or removes every setting of it.
    void Select(std::string_view name, bool selected) {
        if (!selected) {
            std::erase_if(codecs, [&](const CodecSetting& setting) { return setting.name == name; });
        } else if (!Selected(name)) {
            codecs.push_back({std::string(name), {}});
        }
    }
};

}  // namespace tallox

// What a benchmark run needs from its window. The dialog, the command line and the tests each
// provide one.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/call_timing.h"
#include "engine/progress_control.h"
#include "platform/imaging.h"

namespace tallox {

// One finished codec: its figures and its line of the report. New measurements add fields here.
struct Row {
    std::string codec;       // short name: "jpeg", "rle", "huffman", "rice", "lz77", "zstd", ...
    std::string label;       // the line's label, tabs included
    std::string params;      // the parameter values, "19" or "6:extreme=1"; empty for none
    std::string library;     // the library and its version; empty for Tallox's own codecs
    bool yardstick = false;  // the memcpy row: no report line, no codec of the summary
    int32_t threads = 1;     // the threads the codec was allowed
    bool threadsShared = false;  // more threads than CPUs to pin them to: some shared one
    // The CPU time of the whole process over the timed calls (the library's worker threads
    // included), beside their wall time: CPU over wall shows the parallelism a row got.
    std::optional<double> cpuUserSeconds;
    std::optional<double> cpuSystemSeconds;
    // The per-call times vary by more than 5 % of their median (MAD over median): a figure to
    // distrust, measured on a noisy machine.
    bool noisy = false;
    // Every timed call's time in milliseconds, in order, when the settings keep them
    // (--samples), for comparing runs; the JSON formats alone write them.
    std::vector<double> samplesMs;
    int32_t iterations = 0;
    uint32_t inputBytes = 0;   // the file's length, or width x height x 3 for JPEG
    uint32_t outputBytes = 0;  // the last call's output
    double elapsedSeconds = 0.0;
    double framesPerSecond = 0.0;
    double ratio = 0.0;
    std::string text;  // the report line, "\r\n" included; empty for the memcpy baseline

    // Every call timed on its own, and the input MB/s at the median and at the fastest call.
    CallStatistics calls;
    double mbpsMedian = 0.0;
    double mbpsBest = 0.0;

    // The last output decoded and compared with the input, outside all timing: true when it
    // gave back the first `verifiedBytes` of the input (all of them, but for Rice its whole
    // samples); nothing when the row was not verified.
    std::optional<bool> verified;
    uint32_t verifiedBytes = 0;
    // The decoder timed as the encoder is, and the MB/s it gives back at the median call.
    std::optional<CallStatistics> decodeCalls;
    double decodeMbpsMedian = 0.0;

    // The memory the codec works in: the working block and work table it is handed (and never
    // writes past), plus for a library codec the peak heap it allocated during its timed calls
    // through its allocator hooks or, for one that takes no hooks (and JPEG), the growth of the
    // resident set; nothing where the system cannot say. `memorySource` says which:
    // "block", "block+heap" or "block+resident".
    std::optional<uint64_t> memoryBytes;
    std::string memorySource;

    // The JPEG row's settings, and how close its last JPEG decodes to the image: PSNR in dB
    // over RGB and over luma (+infinity when identical), SSIM on luma, and bits per pixel.
    // Nothing for the other rows, nor where the JPEG did not decode or SSIM has no window.
    std::optional<JpegOptions> jpeg;
    std::optional<double> psnrRgb;
    std::optional<double> psnrY;
    std::optional<double> ssim;
    std::optional<double> ssimulacra2;       // 0 to 100, 100 for identical images
    std::optional<double> butteraugliMax;    // the largest distance; 0 for identical images
    std::optional<double> butteraugli3Norm;  // the 3-norm of the distances
    std::string basis;  // what the codec took: "file" bytes or decoded "pixels"
    std::optional<double> bpp;
    // Megapixels per second at the median call, where the input is an image: speeds that
    // compare across the bytes of a file and the pixels of an image.
    std::optional<double> mpps;

    // In a run over many files: the file measured, and why the codec failed on it (empty when
    // it did not; the figures above are then all zero).
    std::string file;
    std::string error;
};

// Why a run ended: the text of its message box and, when the input file was the cause, the
// file and the system's reason (an errno value; 0 when there is none).
struct RunMessage {
    std::string text;
    std::string file;
    int systemError = 0;
};

class RunHost {
public:
    virtual void Push(const std::string& report) = 0;  // show the whole report so far
    virtual void Repaint() = 0;                        // paint it now
    virtual void RowFinished(const Row& row) = 0;      // before the report holding it is pushed
    virtual ProgressControl& Progress() = 0;
    virtual void ShowMessage(const RunMessage& message) = 0;  // a plain OK box; the run ends

protected:
    ~RunHost() = default;
};

}  // namespace tallox

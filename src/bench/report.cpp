#include "bench/report.h"

#include <cstdio>

namespace tallox {

const char kReportHeader[] =
    "MIROVAN Image Compression Benchmark\r\n"
    "===================================================\r\n"
    "\r\n"
    "------------------------------------------------------------------------------------------"
    "------------\r\n"
    "\t\tElapsed Time \tFrames/s \t\tCompression Ratio\r\n"
    "------------------------------------------------------------------------------------------"
    "------------\r\n";

std::string FormatRow(const char* label, double elapsedSeconds, double framesPerSecond,
                      double ratio) {
    // Non-finite values (a ratio of 0 / 0, an elapsed time of 0) print as the C library does.
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "%.3f\t\t%.3f\t\t1 : %.3f\r\n", elapsedSeconds,
                  framesPerSecond, ratio);
    return std::string(label) + numbers;
}

void FinishRow(std::string& report, RunHost& host, const char* label, const char* codec,
               int32_t iterations, double elapsedSeconds, uint32_t referenceBytes,
               uint32_t outputBytes, bool repaint) {
    CodecResult result;
    result.codec = codec;
    result.iterations = iterations;
    result.referenceBytes = referenceBytes;
    result.outputBytes = outputBytes;
    result.elapsedSeconds = elapsedSeconds;
    result.framesPerSecond = static_cast<double>(iterations) / elapsedSeconds;
    result.ratio = static_cast<double>(referenceBytes) / static_cast<double>(outputBytes);
    report += FormatRow(label, result.elapsedSeconds, result.framesPerSecond, result.ratio);
    host.Measured(result);
    host.Push(report);
    if (repaint) {
        host.Repaint();
    }
}

}  // namespace tallox

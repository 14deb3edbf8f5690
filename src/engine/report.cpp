#include "engine/report.h"

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

Row MakeRow(const Codec& codec, int32_t iterations, double elapsedSeconds, uint32_t inputBytes,
            uint32_t outputBytes) {
    Row row;
    row.codec = codec.name;
    row.label = codec.label;
    row.iterations = iterations;
    row.inputBytes = inputBytes;
    row.outputBytes = outputBytes;
    row.elapsedSeconds = elapsedSeconds;
    row.framesPerSecond = static_cast<double>(iterations) / elapsedSeconds;
    row.ratio = static_cast<double>(inputBytes) / static_cast<double>(outputBytes);
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "%.3f\t\t%.3f\t\t1 : %.3f\r\n", row.elapsedSeconds,
                  row.framesPerSecond, row.ratio);
    row.text = row.label + numbers;
    return row;
}

void FinishRow(const Codec& codec, const Row& row, std::string& report, RunHost& host) {
    report += row.text;
    host.RowFinished(row);
    host.Push(report);
    if (codec.repaint) {
        host.Repaint();
    }
}

}  // namespace tallox

#include "engine/report.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "engine/stopwatch.h"

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

Row MakeRow(const std::string& codec, const std::string& label,
            const std::vector<int64_t>& callTicks, double elapsedSeconds, uint32_t inputBytes,
            uint32_t outputBytes) {
    const auto iterations = static_cast<int32_t>(
        std::min<size_t>(callTicks.size(), std::numeric_limits<int32_t>::max()));
    Row row;
    row.codec = codec;
    row.label = label;
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
    row.calls = Summarize(callTicks, Stopwatch::Frequency());
    row.mbpsMedian = inputBytes / 1e3 / row.calls.medianMs;
    row.mbpsBest = inputBytes / 1e3 / row.calls.minMs;
    return row;
}

void FinishRow(bool repaint, const Row& row, std::string& report, RunHost& host) {
    report += row.text;
    host.RowFinished(row);
    host.Push(report);
    if (repaint) {
        host.Repaint();
    }
}

}  // namespace tallox

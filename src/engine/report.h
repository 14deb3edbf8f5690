// The report text: five header lines, then one line per measured codec.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/run_host.h"

namespace tallox {

// The five header lines, each ended by "\r\n".
extern const char kReportHeader[];

// The row of a codec whose stopwatch measured `elapsedSeconds` over the calls timed one by one
// in `callTicks`: frames per second, the ratio of input to output bytes, the line label, E,
// "\t\t", F, "\t\t1 : ", R, "\r\n", each number as "%.3f" (non-finite values as the C library
// prints them), and the per-call statistics.
Row MakeRow(const std::string& codec, const std::string& label,
            const std::vector<int64_t>& callTicks, double elapsedSeconds, uint32_t inputBytes,
            uint32_t outputBytes);

// Appends the row's line to the report, hands the row to the host, then pushes the report
// (and repaints it, when `repaint`: the LZ77 rows are pushed without a repaint).
void FinishRow(bool repaint, const Row& row, std::string& report, RunHost& host);

}  // namespace tallox

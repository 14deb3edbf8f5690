// The report text: five header lines, then one row per measured codec.
#pragma once
#include <cstdint>
#include <string>

#include "bench/run_host.h"

namespace tallox {

// The five header lines, each ended by "\r\n".
extern const char kReportHeader[];

// label, E, "\t\t", F, "\t\t1 : ", R, "\r\n", each number as "%.3f".
std::string FormatRow(const char* label, double elapsedSeconds, double framesPerSecond,
                      double ratio);

// Computes a codec's row values from its stopped stopwatch's elapsed seconds, appends the row
// to `report`, tells the host and pushes the report (and repaints it when `repaint`).
void FinishRow(std::string& report, RunHost& host, const char* label, const char* codec,
               int32_t iterations, double elapsedSeconds, uint32_t referenceBytes,
               uint32_t outputBytes, bool repaint);

}  // namespace tallox

// The lossy row: the loaded image saved as JPEG into one memory stream, m_nIterations times.
#pragma once
#include <cstdint>
#include <string>

#include "bench/benchmark_settings.h"
#include "bench/run_host.h"
#include "platform/imaging.h"

namespace tallox {

// The index of the first encoder whose MIME type equals `mimeType` exactly, its identifier
// copied to `clsid`; -1 (clsid untouched) when there is none.
int FindEncoderClsid(Imaging& imaging, const std::string& mimeType, Clsid* clsid);

// Measures JPEG over `image` (null when the file did not decode) and appends its row to
// `report`. Returns false when the run must end: the message has then been shown, and no row
// was written.
bool MeasureJpeg(const BenchmarkSettings& settings, const Image* image, Imaging& imaging,
                 RunHost& host, std::string& report);

}  // namespace tallox

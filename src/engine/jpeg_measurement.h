// The lossy row: the loaded image saved as JPEG into one reused byte vector, once per iteration.
#pragma once
#include <string>

#include "engine/benchmark_settings.h"
#include "engine/codec_table.h"
#include "engine/run_host.h"
#include "platform/imaging.h"

namespace tallox {

extern const char kSaveFailedMessage[];

// Measures JPEG over `image` (null when the file did not decode) and appends its row to
// `report`. False when the run must end: the message has then been shown, and no row written.
bool MeasureJpeg(const Codec& codec, const BenchmarkSettings& settings, const Image* image,
                 Imaging& imaging, RunHost& host, std::string& report);

}  // namespace tallox

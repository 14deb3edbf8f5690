#include "engine/run_context.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "codecs/simd_target.h"
#include "engine/codec.h"
#include "engine/stopwatch.h"
#include "platform/affinity.h"
#include "platform/machine_state.h"

namespace tallox {

RunContext CollectRunContext(const std::string& inputPath) {
    RunContext context;
    context.version = TALLOX_VERSION;
    context.machine = QueryMachine();
#if defined(__clang__)
    context.compiler = "clang " __clang_version__;
#elif defined(__GNUC__)
    context.compiler = "gcc " __VERSION__;
#else
    context.compiler = "unknown";
#endif
    context.buildType = TALLOX_BUILD_TYPE;
    context.simdTarget = SimdTargetName();
    context.jpegLibrary = JpegLibraryVersion();
    context.qt = QtVersion();
    for (const CodecEntry& entry : DefaultRegistry().Entries()) {
        const std::string& library = entry.info.library;
        if (!library.empty() && std::find(context.libraries.begin(), context.libraries.end(),
                                          library) == context.libraries.end()) {
            context.libraries.push_back(library);
        }
    }
    const MachineState state = ReadMachineState(CurrentCpu().value_or(0));
    context.governor = state.governor.value_or("");
    context.frequencyKhz = state.frequencyKhz.value_or(0);
    context.loadAverage = state.load ? state.load->oneMinute : -1.0;
    context.startTicks = state.ticks;
    context.timerResolutionSeconds = CounterResolutionSeconds();
    const Stopwatch calibrated;  // the first stopwatch of the process calibrates
    context.stopwatchOverheadSeconds = static_cast<double>(Stopwatch::OverheadTicks()) /
                                       static_cast<double>(Stopwatch::Frequency());
    context.inputPath = inputPath;
    struct stat info {};
    if (!inputPath.empty() && stat(inputPath.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        context.inputBytes = static_cast<uint64_t>(info.st_size);
        context.inputSha256 = FileSha256(inputPath);
    }
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc);
    context.date = date;
    return context;
}

std::optional<CpuTicks> TicksSince(const RunContext& context) {
    const std::optional<CpuTicks> now = ReadCpuTicks();
    if (!now || !context.startTicks) {
        return std::nullopt;
    }
    return *now - *context.startTicks;
}

}  // namespace tallox

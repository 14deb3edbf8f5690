// Where and how a run was made: the program, the machine, the build, the timer and the input,
// so that a saved report can be read on its own later.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine_state.h"
#include "platform/system_info.h"

namespace tallox {

struct RunContext {
    std::string version;  // Tallox's
    MachineInfo machine;
    std::string compiler;
    std::string buildType;
    std::string simdTarget;  // the one every SIMD kernel dispatches to
    std::string jpegLibrary;
    std::string qt;
    // Every codec library the build links, with its version as it reports it at run time:
    // "libzstd 1.5.4", in the registry's order.
    std::vector<std::string> libraries;
    // How the measuring thread ran: "CPU 1", "off (--no-pin)" or "refused: REASON"; and what
    // makes a machine noisy, where the system says: the CPU's frequency governor and clock, and
    // the load average when the run began.
    std::string pinning;
    std::string governor;
    uint64_t frequencyKhz = 0;
    double loadAverage = -1.0;
    // The whole machine's CPU time from /proc/stat as the context was made, and over the run
    // once it has ended (TicksSince): the time a hypervisor stole meanwhile. Nothing where the
    // system does not count steal, and over the run before it ends.
    std::optional<CpuTicks> startTicks;
    std::optional<CpuTicks> runTicks;
    double timerResolutionSeconds = 0.0;
    double stopwatchOverheadSeconds = 0.0;  // one start/stop pair, subtracted from every stretch
    std::string inputPath;
    uint64_t inputBytes = 0;
    std::string inputSha256;  // empty when the input cannot be read
    std::string date;         // UTC, ISO 8601
};

// The context of a run over `inputPath` (empty: no input), made now.
RunContext CollectRunContext(const std::string& inputPath);

// The machine's CPU time from the making of `context` until now; nothing when either reading
// is missing.
std::optional<CpuTicks> TicksSince(const RunContext& context);

}  // namespace tallox

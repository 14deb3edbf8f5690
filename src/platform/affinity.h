// Which CPUs the process may run on, and pinning the measuring threads to them, so that a
// row's calls are not moved between cores (cold caches, another core's clock) halfway through.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallox {

// The CPUs this process may run on (its affinity mask, narrowed by taskset or a cgroup),
// ascending; empty when the system does not say.
std::vector<int> AllowedCpus();

// The CPUs the calling thread may run on now, ascending; empty when the system does not say.
std::vector<int> CallingThreadCpus();

// The CPU the calling thread runs on at this moment; nothing when the system does not say.
std::optional<int> CurrentCpu();

struct PinResult {
    bool pinned = false;
    std::string reason;  // why not, when not pinned: "CPU 7: Invalid argument"
};

// Restricts the calling thread to `cpu` and reads its affinity back: pinned only when the
// thread may now run on that CPU alone. A container or cgroup may refuse or narrow the mask;
// the reason says so, and the thread's affinity is then whatever the kernel left.
PinResult PinCallingThread(int cpu);

struct CpuPlan {
    std::vector<int> cpus;  // one per thread, in thread order
    bool shared = false;    // fewer allowed CPUs than threads: some threads share a CPU
};

// CPUs for `threads` threads of one row: the allowed CPUs in ascending order from the first
// one not below `first`, wrapping round to the lowest, and round again when there are more
// threads than CPUs (then `shared`). Empty when `allowed` is empty.
CpuPlan PlanCpus(int threads, int first, std::span<const int> allowed);

// An ascending CPU list in the kernel's compact form: "0-3,6,8-9"; "none" when empty.
std::string FormatCpuList(std::span<const int> cpus);

struct CpuOption {
    std::optional<int> cpu;  // the CPU, when the value is valid
    std::string error;       // otherwise: "--cpu 7: not a CPU this process may use (allowed: 0-1)"
};

// The value of a --cpu option: a decimal CPU number that is in `allowed`.
CpuOption ParseCpuOption(std::string_view text, std::span<const int> allowed);

}  // namespace tallox

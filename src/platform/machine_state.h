// What makes a machine noisy at the moment of a run: the frequency governor and clock of the
// CPU that measures, the load average, and the time the hypervisor took away (steal). Each is
// read where the system offers it; a virtual machine often has no cpufreq at all. The roots of
// /proc and /sys are parameters so that tests can read files of their own.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallox {

struct FileRoots {
    std::string proc = "/proc";
    std::string sys = "/sys";
};

struct LoadAverage {
    double oneMinute = 0;
    double fiveMinutes = 0;
    double fifteenMinutes = 0;
};

// The whole machine's CPU time from /proc/stat, in clock ticks (USER_HZ) summed over all CPUs.
struct CpuTicks {
    uint64_t steal = 0;  // time a hypervisor ran something else while a CPU wanted to run
    uint64_t total = 0;  // user, nice, system, idle, iowait, irq, softirq and steal

    CpuTicks operator-(const CpuTicks& earlier) const;
    // steal / total; 0 when no time passed.
    double StealShare() const;
    // steal in seconds (summed over the CPUs, as the ticks are).
    double StealSeconds() const;
};

struct MachineState {
    std::optional<std::string> governor;  // "performance", "powersave", "schedutil", …
    std::optional<uint64_t> frequencyKhz;
    std::optional<LoadAverage> load;
    std::optional<CpuTicks> ticks;
};

// /sys/devices/system/cpu/cpuN/cpufreq/scaling_governor, without the line end.
std::optional<std::string> ReadCpuGovernor(int cpu, const FileRoots& roots = {});
// .../cpufreq/scaling_cur_freq: the CPU's clock as the kernel last saw it, in kHz.
std::optional<uint64_t> ReadCpuFrequencyKhz(int cpu, const FileRoots& roots = {});
// /proc/loadavg's first three figures.
std::optional<LoadAverage> ReadLoadAverage(const FileRoots& roots = {});
// /proc/stat's "cpu" line; nothing when it has no steal column.
std::optional<CpuTicks> ReadCpuTicks(const FileRoots& roots = {});

// All four, for `cpu` (the one the measuring thread is pinned to, or runs on).
MachineState ReadMachineState(int cpu, const FileRoots& roots = {});

// A row's per-call times are noisy when their MAD (median absolute deviation) exceeds this
// share of their median.
inline constexpr double kNoisySpread = 0.05;

// True when mad / median exceeds `threshold`; never for a median that is not positive.
bool IsNoisyRow(double median, double mad, double threshold = kNoisySpread);

// One line for stderr about a noisy row, without a line end: "rle: per-call times vary by
// 7.3 % of the median (MAD); pin the thread ...".
std::string NoisyRowHint(std::string_view label, double median, double mad);

}  // namespace tallox

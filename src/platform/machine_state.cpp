#include "platform/machine_state.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <vector>

namespace tallox {
namespace {

// The first line of a small file, without its line end; nothing when it cannot be read.
std::optional<std::string> FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!std::getline(file, line)) return std::nullopt;
    return line;
}

std::string CpufreqPath(int cpu, const FileRoots& roots, const char* name) {
    return roots.sys + "/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/" + name;
}

// Whitespace-separated numbers from `text`, as many as parse. from_chars, not the C library:
// a Qt program runs under the user's locale, whose decimal point may be a comma.
template <typename Number>
std::vector<Number> Numbers(std::string_view text) {
    std::vector<Number> numbers;
    size_t at = 0;
    for (;;) {
        at = text.find_first_not_of(" \t", at);
        if (at == std::string_view::npos) break;
        const size_t end = std::min(text.find_first_of(" \t", at), text.size());
        Number value{};
        const auto [stop, error] = std::from_chars(text.data() + at, text.data() + end, value);
        if (error != std::errc() || stop != text.data() + end) break;
        numbers.push_back(value);
        at = end;
    }
    return numbers;
}

}  // namespace

CpuTicks CpuTicks::operator-(const CpuTicks& earlier) const {
    return {steal - earlier.steal, total - earlier.total};
}

double CpuTicks::StealShare() const {
    return total == 0 ? 0.0 : static_cast<double>(steal) / static_cast<double>(total);
}

double CpuTicks::StealSeconds() const {
    return static_cast<double>(steal) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::optional<std::string> ReadCpuGovernor(int cpu, const FileRoots& roots) {
    auto line = FirstLine(CpufreqPath(cpu, roots, "scaling_governor"));
    if (!line || line->empty()) return std::nullopt;
    return line;
}

std::optional<uint64_t> ReadCpuFrequencyKhz(int cpu, const FileRoots& roots) {
    const auto line = FirstLine(CpufreqPath(cpu, roots, "scaling_cur_freq"));
    if (!line) return std::nullopt;
    const std::vector<uint64_t> numbers = Numbers<uint64_t>(*line);
    if (numbers.size() != 1) return std::nullopt;
    return numbers[0];
}

std::optional<LoadAverage> ReadLoadAverage(const FileRoots& roots) {
    // "0.52 0.58 0.59 1/389 12345": the fourth field stops the numbers.
    const auto line = FirstLine(roots.proc + "/loadavg");
    if (!line) return std::nullopt;
    const std::vector<double> numbers = Numbers<double>(*line);
    if (numbers.size() < 3) return std::nullopt;
    return LoadAverage{numbers[0], numbers[1], numbers[2]};
}

std::optional<CpuTicks> ReadCpuTicks(const FileRoots& roots) {
    // "cpu  user nice system idle iowait irq softirq steal guest guest_nice": guest time is
    // already counted in user and nice, so the total stops at steal.
    const auto line = FirstLine(roots.proc + "/stat");
    if (!line || !line->starts_with("cpu ")) return std::nullopt;
    const std::vector<uint64_t> numbers = Numbers<uint64_t>(std::string_view(*line).substr(4));
    if (numbers.size() < 8) return std::nullopt;
    CpuTicks ticks;
    for (size_t i = 0; i < 8; ++i) ticks.total += numbers[i];
    ticks.steal = numbers[7];
    return ticks;
}

MachineState ReadMachineState(int cpu, const FileRoots& roots) {
    return {ReadCpuGovernor(cpu, roots), ReadCpuFrequencyKhz(cpu, roots), ReadLoadAverage(roots),
            ReadCpuTicks(roots)};
}

bool IsNoisyRow(double median, double mad, double threshold) {
    return median > 0 && mad > threshold * median;
}

std::string NoisyRowHint(std::string_view label, double median, double mad) {
    // to_chars, not printf: the user's locale must not turn the point into a comma.
    char share[32];
    const double percent = median > 0 ? mad / median * 100 : 0.0;
    const auto end =
        std::to_chars(share, share + sizeof share, percent, std::chars_format::fixed, 1);
    return std::string(label) + ": per-call times vary by " + std::string(share, end.ptr) +
           " % of the median (MAD); pin the thread (--cpu N or taskset -c N), raise --min-time, "
           "or measure on a quieter machine";
}

}  // namespace tallox

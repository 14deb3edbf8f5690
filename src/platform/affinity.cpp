#include "platform/affinity.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

namespace tallox {
namespace {

// The kernel fails sched_getaffinity with EINVAL when the caller's mask is smaller than its
// own (more than CPU_SETSIZE possible CPUs), so the mask grows until the call succeeds.
constexpr int kMaxCpus = 1 << 16;

// A heap CPU mask of `count` CPUs, freed with the object.
class CpuMask {
public:
    explicit CpuMask(int count)
        : count_(count), size_(CPU_ALLOC_SIZE(count)), set_(CPU_ALLOC(count)) {
        if (set_ != nullptr) CPU_ZERO_S(size_, set_);
    }
    ~CpuMask() { CPU_FREE(set_); }
    CpuMask(const CpuMask&) = delete;
    CpuMask& operator=(const CpuMask&) = delete;

    bool Allocated() const { return set_ != nullptr; }
    size_t Size() const { return size_; }
    cpu_set_t* Set() { return set_; }
    std::vector<int> Cpus() const {
        std::vector<int> cpus;
        for (int cpu = 0; cpu < count_; ++cpu) {
            if (CPU_ISSET_S(cpu, size_, set_)) cpus.push_back(cpu);
        }
        return cpus;
    }

private:
    int count_;
    size_t size_;
    cpu_set_t* set_;
};

// `get(size, set)` returns 0 or an error number, as pthread_getaffinity_np does.
template <typename Get>
std::vector<int> ReadAffinity(Get get) {
    for (int count = CPU_SETSIZE; count <= kMaxCpus; count *= 2) {
        CpuMask mask(count);
        if (!mask.Allocated()) return {};
        const int error = get(mask.Size(), mask.Set());
        if (error == 0) return mask.Cpus();
        if (error != EINVAL) return {};
    }
    return {};
}

std::string ErrorText(int error) { return std::generic_category().message(error); }

}  // namespace

std::vector<int> AllowedCpus() {
    // The main thread's mask: what the process was started with, whichever thread asks.
    const pid_t process = getpid();
    return ReadAffinity([process](size_t size, cpu_set_t* set) {
        return sched_getaffinity(process, size, set) == 0 ? 0 : errno;
    });
}

std::vector<int> CallingThreadCpus() {
    return ReadAffinity([](size_t size, cpu_set_t* set) {
        return pthread_getaffinity_np(pthread_self(), size, set);
    });
}

std::optional<int> CurrentCpu() {
    const int cpu = sched_getcpu();
    if (cpu < 0) return std::nullopt;
    return cpu;
}

PinResult PinCallingThread(int cpu) {
    const std::string what = "CPU " + std::to_string(cpu) + ": ";
    if (cpu < 0 || cpu >= kMaxCpus) return {false, what + "no such CPU"};
    CpuMask mask(std::max(cpu + 1, CPU_SETSIZE));
    if (!mask.Allocated()) return {false, what + ErrorText(ENOMEM)};
    CPU_SET_S(cpu, mask.Size(), mask.Set());
    if (const int error = pthread_setaffinity_np(pthread_self(), mask.Size(), mask.Set())) {
        return {false,
                what + ErrorText(error) + " (allowed: " + FormatCpuList(AllowedCpus()) + ")"};
    }
    // A cpuset cgroup may accept the call and still run the thread elsewhere.
    const std::vector<int> now = CallingThreadCpus();
    if (now != std::vector<int>{cpu}) {
        return {false, what + "the thread's affinity reads back as " + FormatCpuList(now)};
    }
    return {true, {}};
}

CpuPlan PlanCpus(int threads, int first, std::span<const int> allowed) {
    CpuPlan plan;
    if (allowed.empty() || threads <= 0) return plan;
    const size_t count = allowed.size();
    const size_t start =
        static_cast<size_t>(std::lower_bound(allowed.begin(), allowed.end(), first) -
                            allowed.begin()) %
        count;
    for (size_t i = 0; i < static_cast<size_t>(threads); ++i) {
        plan.cpus.push_back(allowed[(start + i) % count]);
    }
    plan.shared = static_cast<size_t>(threads) > count;
    return plan;
}

std::string FormatCpuList(std::span<const int> cpus) {
    if (cpus.empty()) return "none";
    std::string text;
    for (size_t i = 0; i < cpus.size();) {
        size_t last = i;
        while (last + 1 < cpus.size() && cpus[last + 1] == cpus[last] + 1) ++last;
        if (!text.empty()) text += ',';
        text += std::to_string(cpus[i]);
        if (last > i) text += '-' + std::to_string(cpus[last]);
        i = last + 1;
    }
    return text;
}

CpuOption ParseCpuOption(std::string_view text, std::span<const int> allowed) {
    const std::string tail = " (allowed: " + FormatCpuList(allowed) + ")";
    const std::string what = "--cpu " + std::string(text) + ": ";
    if (text.empty()) return {std::nullopt, what + "not a CPU number" + tail};
    int cpu = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, cpu);
    if (error != std::errc() || stop != end) {
        return {std::nullopt, what + "not a CPU number" + tail};
    }
    if (!std::binary_search(allowed.begin(), allowed.end(), cpu)) {
        return {std::nullopt, what + "not a CPU this process may use" + tail};
    }
    return {cpu, {}};
}

}  // namespace tallox

#include "platform/affinity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/cpu_time.h"

namespace tallox {
namespace {

// What a thread of its own saw after trying to pin itself; the test's main thread stays free.
struct PinnedThread {
    PinResult result;
    std::vector<int> readBack;
    std::optional<int> current;
    std::vector<int> processCpus;
};

PinnedThread PinOnOwnThread(int cpu) {
    PinnedThread seen;
    std::thread([&] {
        seen.result = PinCallingThread(cpu);
        seen.readBack = CallingThreadCpus();
        seen.current = CurrentCpu();
        seen.processCpus = AllowedCpus();
    }).join();
    return seen;
}

TEST(PinCallingThread, EveryAllowedCpuIsHonoured) {
    const std::vector<int> allowed = AllowedCpus();
    ASSERT_FALSE(allowed.empty());
    EXPECT_TRUE(std::is_sorted(allowed.begin(), allowed.end()));
    EXPECT_EQ(std::adjacent_find(allowed.begin(), allowed.end()), allowed.end());
    for (int cpu : allowed) {
        const PinnedThread seen = PinOnOwnThread(cpu);
        EXPECT_TRUE(seen.result.pinned) << seen.result.reason;
        EXPECT_EQ(seen.readBack, std::vector<int>{cpu});
        EXPECT_EQ(seen.current, cpu);
        EXPECT_EQ(seen.processCpus, allowed);  // a pinned worker still sees the process's set
    }
    // Another thread's pinning leaves this one's affinity, and the process's set, as they were.
    EXPECT_EQ(CallingThreadCpus(), allowed);
    EXPECT_EQ(AllowedCpus(), allowed);
}

TEST(PinCallingThread, RefusesCpusOutsideTheAllowedSet) {
    const std::vector<int> allowed = AllowedCpus();
    ASSERT_FALSE(allowed.empty());
    const int outside = allowed.back() + 1;
    const std::string prefix = "CPU " + std::to_string(outside) + ": ";
    const std::string tail = "(allowed: " + FormatCpuList(allowed) + ")";

    PinnedThread seen = PinOnOwnThread(outside);
    EXPECT_FALSE(seen.result.pinned);
    EXPECT_TRUE(seen.result.reason.starts_with(prefix)) << seen.result.reason;
    EXPECT_TRUE(seen.result.reason.ends_with(tail)) << seen.result.reason;
    EXPECT_EQ(seen.readBack, allowed);  // the refused call changed nothing

    seen = PinOnOwnThread(-1);
    EXPECT_FALSE(seen.result.pinned);
    EXPECT_EQ(seen.result.reason, "CPU -1: no such CPU");

    // The --cpu option names the same set.
    EXPECT_EQ(ParseCpuOption(std::to_string(outside), allowed).error,
              "--cpu " + std::to_string(outside) + ": not a CPU this process may use " + tail);
}

// The allowed set in its compact form, too.
TEST(ParseCpuOption, AcceptsOnlyAllowedCpuNumbers) {
    struct Case {
        std::vector<int> allowed;
        const char* text;
        std::optional<int> cpu;
        const char* error;
    };
    const Case cases[] = {
        {{0, 1}, "1", 1, ""},
        {{0, 2, 3, 4, 7}, "7", 7, ""},
        {{0, 1}, "2", {}, "--cpu 2: not a CPU this process may use (allowed: 0-1)"},
        {{0, 2, 3, 4, 7, 9, 10},
         "5",
         {},
         "--cpu 5: not a CPU this process may use (allowed: 0,2-4,7,9-10)"},
        {{}, "0", {}, "--cpu 0: not a CPU this process may use (allowed: none)"},
        {{0, 1}, "-1", {}, "--cpu -1: not a CPU this process may use (allowed: 0-1)"},
        {{0, 1}, "x", {}, "--cpu x: not a CPU number (allowed: 0-1)"},
        {{0, 1}, "1x", {}, "--cpu 1x: not a CPU number (allowed: 0-1)"},
        {{0, 1}, "+1", {}, "--cpu +1: not a CPU number (allowed: 0-1)"},
        {{0, 1}, "", {}, "--cpu : not a CPU number (allowed: 0-1)"},
        {{0, 1}, "99999999999", {}, "--cpu 99999999999: not a CPU number (allowed: 0-1)"},
    };
    for (const Case& c : cases) {
        const CpuOption option = ParseCpuOption(c.text, c.allowed);
        EXPECT_EQ(option.cpu, c.cpu) << c.text;
        EXPECT_EQ(option.error, c.error) << c.text;
    }
}

TEST(PlanCpus, DistinctCpusFromTheFirstThenShared) {
    struct Case {
        std::vector<int> allowed;
        int threads;
        int first;
        std::vector<int> cpus;
        bool shared;
    };
    const Case cases[] = {
        {{0, 1, 2, 3}, 2, 1, {1, 2}, false},
        {{0, 1, 2, 3}, 4, 2, {2, 3, 0, 1}, false},
        {{0, 1, 2, 3}, 5, 0, {0, 1, 2, 3, 0}, true},
        {{0, 2, 5}, 2, 3, {5, 0}, false},  // 3 is not allowed: the next one up
        {{0, 2, 5}, 1, 9, {0}, false},     // none above: wraps to the lowest
        {{0, 1}, 3, 1, {1, 0, 1}, true},
        {{0, 1}, 0, 0, {}, false},
        {{}, 2, 0, {}, false},
    };
    for (const Case& c : cases) {
        const CpuPlan plan = PlanCpus(c.threads, c.first, c.allowed);
        EXPECT_EQ(plan.cpus, c.cpus) << c.threads << " from " << c.first;
        EXPECT_EQ(plan.shared, c.shared) << c.threads << " from " << c.first;
    }
}

using Clock = std::chrono::steady_clock;

void BusyFor(std::chrono::milliseconds duration) {
    const Clock::time_point start = Clock::now();
    volatile uint64_t sink = 0;
    while (Clock::now() - start < duration) {
        for (int i = 0; i < 10000; ++i) sink = sink + static_cast<uint64_t>(i);
    }
}

// A busy loop on a pinned thread: its CPU time is real (not zero), never more than the wall
// time it ran (a bound loose enough for any load), and mostly user time; the process's time
// includes the thread's. A second busy thread runs meanwhile, so that the process's time read
// as the thread's would show, wherever the machine lets both run.
TEST(ReadCpuTimes, BusyPinnedThread) {
    const int cpu = AllowedCpus().front();
    PinResult pin;
    CpuTimes spent;
    double wallSeconds = 0;
    std::thread other([] { BusyFor(std::chrono::milliseconds(250)); });
    std::thread([&] {
        pin = PinCallingThread(cpu);
        const Clock::time_point start = Clock::now();
        const CpuTimes before = ReadCpuTimes();
        BusyFor(std::chrono::milliseconds(200));
        spent = ReadCpuTimes() - before;
        wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    }).join();
    other.join();
    ASSERT_TRUE(pin.pinned) << pin.reason;

    const double bound = wallSeconds * 1.05 + 0.001;
    EXPECT_GT(spent.threadSeconds, 0.0);
    EXPECT_LE(spent.threadSeconds, bound);
    const double threadRusage = spent.threadUserSeconds + spent.threadSystemSeconds;
    EXPECT_GT(threadRusage, 0.0);
    EXPECT_LE(threadRusage, bound);
    EXPECT_GE(spent.threadUserSeconds, spent.threadSystemSeconds);
    EXPECT_GE(spent.threadPreemptions, 0);
    EXPECT_GE(spent.processUserSeconds + spent.processSystemSeconds, threadRusage - 0.001);
}

}  // namespace
}  // namespace tallox

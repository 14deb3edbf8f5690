#include "platform/machine_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_folder.h"

namespace tallox {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// /proc and /sys of a machine of the test's own.
class FakeRoots {
public:
    FakeRoots() : folder_("tallox_machine_state") {
        roots_.proc = (folder_.path() / "proc").string();
        roots_.sys = (folder_.path() / "sys").string();
    }
    void Proc(const std::string& name, const std::string& text) const {
        WriteText(fs::path(roots_.proc) / name, text);
    }
    void Cpufreq(int cpu, const std::string& name, const std::string& text) const {
        WriteText(fs::path(roots_.sys) / "devices/system/cpu" / ("cpu" + std::to_string(cpu)) /
                      "cpufreq" / name,
                  text);
    }
    const FileRoots& roots() const { return roots_; }

private:
    test::TempFolder folder_;
    FileRoots roots_;
};

TEST(ReadMachineState, FromFakeFiles) {
    const FakeRoots fake;
    const MachineState none = ReadMachineState(3, fake.roots());
    EXPECT_FALSE(none.governor);
    EXPECT_FALSE(none.frequencyKhz);
    EXPECT_FALSE(none.load);
    EXPECT_FALSE(none.ticks);

    fake.Cpufreq(3, "scaling_governor", "performance\n");
    fake.Cpufreq(3, "scaling_cur_freq", "2600000\n");
    fake.Proc("loadavg", "0.52 1.58 10.25 1/389 12345\n");
    fake.Proc("stat", "cpu  10 20 30 400 5 6 7 8 9 10\ncpu0 1 2 3 4 5 6 7 99 0 0\n");
    const MachineState state = ReadMachineState(3, fake.roots());
    EXPECT_EQ(state.governor, "performance");
    EXPECT_EQ(state.frequencyKhz, 2600000u);
    ASSERT_TRUE(state.load);
    EXPECT_EQ(state.load->oneMinute, 0.52);
    EXPECT_EQ(state.load->fiveMinutes, 1.58);
    EXPECT_EQ(state.load->fifteenMinutes, 10.25);
    ASSERT_TRUE(state.ticks);
    EXPECT_EQ(state.ticks->steal, 8u);
    EXPECT_EQ(state.ticks->total, 486u);  // guest columns are in user and nice already

    // Another CPU's cpufreq files are its own.
    EXPECT_FALSE(ReadCpuGovernor(2, fake.roots()));
    EXPECT_FALSE(ReadCpuFrequencyKhz(2, fake.roots()));
}

TEST(ReadMachineState, MalformedFilesGiveNothing) {
    struct Case {
        const char* loadavg;
        const char* stat;
    };
    const Case cases[] = {
        {"0.52 0.58\n", "cpu  1 2 3 4 5 6 7\n"},       // too few figures: no steal column
        {"high\n", "cpu0 1 2 3 4 5 6 7 8\n"},          // no aggregate line first
        {"", "cpu  1 2 x 4 5 6 7 8\n"},                // not a number
        {"0,52 0,58 0,59 1/389 1\n", "intr 1 2 3\n"},  // a comma is no decimal point
    };
    for (const Case& c : cases) {
        const FakeRoots fake;
        fake.Proc("loadavg", c.loadavg);
        fake.Proc("stat", c.stat);
        fake.Cpufreq(0, "scaling_governor", "\n");
        fake.Cpufreq(0, "scaling_cur_freq", "fast\n");
        const MachineState state = ReadMachineState(0, fake.roots());
        EXPECT_FALSE(state.load) << c.loadavg;
        EXPECT_FALSE(state.ticks) << c.stat;
        EXPECT_FALSE(state.governor);
        EXPECT_FALSE(state.frequencyKhz);
    }
}

TEST(CpuTicks, StealBetweenSnapshots) {
    const CpuTicks later{130, 5200};
    EXPECT_DOUBLE_EQ((later - CpuTicks{100, 5000}).StealShare(), 0.15);
    EXPECT_EQ((later - later).StealShare(), 0.0);
}

TEST(ReadMachineState, ThisMachine) {
    // Linux always has these two; a wrong default root would lose them.
    const std::optional<CpuTicks> ticks = ReadCpuTicks();
    ASSERT_TRUE(ticks);
    EXPECT_GT(ticks->total, ticks->steal);
    EXPECT_TRUE(ReadLoadAverage());
}

TEST(IsNoisyRow, SpreadAboveTheThreshold) {
    struct Case {
        double median;
        double mad;
        double threshold;
        bool noisy;
    };
    const Case cases[] = {
        {1.0, 0.05, kNoisySpread, false},  // exactly 5 %: not above
        {1.0, 0.0501, kNoisySpread, true},
        {2.0, 0.09, kNoisySpread, false},
        {2.0, 0.11, kNoisySpread, true},
        {1.0, 0.03, 0.02, true},
        {1.0, 0.0, kNoisySpread, false},
        {0.0, 0.0, kNoisySpread, false},  // no median: no share to judge
        {0.0, 1.0, kNoisySpread, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsNoisyRow(c.median, c.mad, c.threshold), c.noisy)
            << c.median << " " << c.mad << " " << c.threshold;
    }
    EXPECT_EQ(NoisyRowHint("rle", 2.0, 0.146),
              "rle: per-call times vary by 7.3 % of the median (MAD); pin the thread (--cpu N or "
              "taskset -c N), raise --min-time, or measure on a quieter machine");
}

}  // namespace
}  // namespace tallox

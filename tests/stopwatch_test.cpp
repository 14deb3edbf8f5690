#include "engine/stopwatch.h"

#include <gtest/gtest.h>

#include "engine/call_timing.h"
#include "platform/counter.h"

namespace tallox {

// Puts the class-wide calibration back to its state at program start.
struct StopwatchTestAccess {
    static void Uncalibrate() {
        Stopwatch::frequency_ = 0;
        Stopwatch::overhead_ = 0;
    }
    static int64_t Frequency() { return Stopwatch::frequency_; }
    static int64_t Overhead() { return Stopwatch::overhead_; }
    static int64_t Ticks(const Stopwatch& stopwatch) { return stopwatch.ticks_; }
};

namespace {

// A counter the test moves by hand; every read also advances it by `perRead`, the cost the
// calibration measures.
int64_t g_now = 1000;
int64_t g_perRead = 0;
int64_t g_frequency = 100;
int64_t FakeQuery() {
    const int64_t now = g_now;
    g_now += g_perRead;
    return now;
}
int64_t FakeFrequency() { return g_frequency; }
constexpr CounterSource kFake{&FakeQuery, &FakeFrequency};

class StopwatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        g_perRead = 5;  // one start/stop pair costs 5 ticks
        g_frequency = 100;
        SetCounterSource(&kFake);
        StopwatchTestAccess::Uncalibrate();
    }
    void TearDown() override {
        SetCounterSource(nullptr);
        StopwatchTestAccess::Uncalibrate();
    }
};

TEST_F(StopwatchTest, FirstConstructionCalibratesOnce) {
    Stopwatch first;
    EXPECT_EQ(StopwatchTestAccess::Frequency(), 100);
    EXPECT_EQ(StopwatchTestAccess::Overhead(), -5);
    EXPECT_EQ(StopwatchTestAccess::Ticks(first), 0);
    EXPECT_EQ(first.GetElapsedSeconds(), 0.0);

    g_perRead = 9;  // a second construction must not measure again
    Stopwatch second;
    EXPECT_EQ(StopwatchTestAccess::Overhead(), -5);
}

TEST_F(StopwatchTest, StopSubtractsTheOverheadOnce) {
    Stopwatch stopwatch;
    stopwatch.Start(false);
    g_now += 200;
    stopwatch.Stop();  // raw 205 ticks (200 + one read), less the 5 of the overhead
    EXPECT_EQ(StopwatchTestAccess::Ticks(stopwatch), -200);
    EXPECT_DOUBLE_EQ(stopwatch.GetElapsedSeconds(), 2.0);

    stopwatch.Stop();  // not running: nothing changes
    EXPECT_EQ(StopwatchTestAccess::Ticks(stopwatch), -200);
}

TEST_F(StopwatchTest, ResumeAddsStretchesAndRestartDropsThem) {
    Stopwatch resumed;
    resumed.Start(false);
    g_now += 100;
    resumed.Stop();
    resumed.Start(false);
    g_now += 50;
    resumed.Stop();
    // Each stretch: its ticks plus one read, less one overhead per Stop.
    EXPECT_EQ(StopwatchTestAccess::Ticks(resumed), -150);

    Stopwatch restarted;
    restarted.Start(false);
    g_now += 100;
    restarted.Stop();
    restarted.Start(true);
    g_now += 50;
    restarted.Stop();
    EXPECT_EQ(StopwatchTestAccess::Ticks(restarted), -50);
}

TEST_F(StopwatchTest, StartOnARunningStopwatchRestartsFromNow) {
    Stopwatch stopwatch;
    stopwatch.Start(false);
    g_now += 1000;
    stopwatch.Start(false);
    g_now += 30;
    stopwatch.Stop();
    EXPECT_EQ(StopwatchTestAccess::Ticks(stopwatch), -30);
}

TEST_F(StopwatchTest, ReadingWhileRunningLeavesItRunning) {
    Stopwatch stopwatch;
    stopwatch.Start(false);
    g_now += 40;
    const double first = stopwatch.GetElapsedSeconds();
    EXPECT_DOUBLE_EQ(first, 0.40);
    EXPECT_GT(StopwatchTestAccess::Ticks(stopwatch), 0);
    g_now += 10;
    EXPECT_GE(stopwatch.GetElapsedSeconds(), first);
    stopwatch.Stop();
    EXPECT_LT(StopwatchTestAccess::Ticks(stopwatch), 0);
}

TEST_F(StopwatchTest, ZeroFrequencyCountsRawTicks) {
    g_frequency = 0;
    Stopwatch stopwatch;
    EXPECT_EQ(StopwatchTestAccess::Frequency(), 1);
    stopwatch.Start(false);
    g_now += 70;
    stopwatch.Stop();
    EXPECT_DOUBLE_EQ(stopwatch.GetElapsedSeconds(), 70.0);
}

TEST_F(StopwatchTest, CounterGoingBackOrShortStretchGivesZero) {
    Stopwatch stopwatch;
    stopwatch.Start(false);
    g_now -= 500;
    stopwatch.Stop();
    EXPECT_EQ(StopwatchTestAccess::Ticks(stopwatch), 0);
    EXPECT_EQ(stopwatch.GetElapsedSeconds(), 0.0);

    stopwatch.Start(false);  // exactly the overhead: nothing measured
    stopwatch.Stop();
    EXPECT_EQ(stopwatch.GetElapsedSeconds(), 0.0);
}

TEST(StopwatchRealClock, CalibratesInNanoseconds) {
    StopwatchTestAccess::Uncalibrate();
    Stopwatch stopwatch;
    EXPECT_EQ(StopwatchTestAccess::Frequency(), 1'000'000'000);
    EXPECT_LE(StopwatchTestAccess::Overhead(), 0);
    stopwatch.Start(false);
    stopwatch.Stop();
    EXPECT_GE(stopwatch.GetElapsedSeconds(), 0.0);
}

// A call's own time loses what the two reads around it cost at the least, not the stopwatch's
// single calibration pair, which a cold first read can make many times larger.
TEST_F(StopwatchTest, CallTimesLoseTheReadsLeastCostNotTheFirstPairs) {
    g_perRead = 50;  // the process's first pair, the stopwatch's calibration, is slow
    const Stopwatch calibrating;
    g_perRead = 5;
    std::vector<int64_t> ticks;
    const auto call = [] {
        g_now += 20;
        return true;
    };
    ASSERT_TRUE(MeasureCalls(0, 3, 0.0, ticks, call, [] {}));
    EXPECT_EQ(ticks, (std::vector<int64_t>{20, 20, 20}));
}

// A time limit ends the calls once it is reached, whatever the iterations and the minimum time
// ask, but never before the first call.
TEST_F(StopwatchTest, MaximumTimeEndsTheCallsAfterOneAtLeast) {
    const Stopwatch calibrating;  // 100 ticks a second
    g_perRead = 0;
    std::vector<int64_t> ticks;
    const struct {
        int64_t callTicks;
        double minimumSeconds;
        double maximumSeconds;
        size_t calls;
    } kCases[] = {
        {20, 0.0, 0.5, 3},    // 20, 40, 60: past the 50 ticks after the third
        {20, 10.0, 0.5, 3},   // the limit outranks the minimum time
        {200, 0.0, 0.5, 1},   // one slow call stands for the codec
        {20, 0.0, 0.0, 10},   // no limit: the iterations
        {20, 0.0, 10.0, 10},  // a limit never reached changes nothing
    };
    for (const auto& c : kCases) {
        const auto call = [&] {
            g_now += c.callTicks;
            return true;
        };
        ASSERT_TRUE(MeasureCalls(
            0, 10, c.minimumSeconds, ticks, call, [] {}, c.maximumSeconds));
        EXPECT_EQ(ticks.size(), c.calls) << c.callTicks << " " << c.maximumSeconds;
    }
}

}  // namespace
}  // namespace tallox

#include <gtest/gtest.h>

#include "engine/run_host.h"

namespace tallox {
namespace {

TEST(ProgressControl, StepPastTheMaximumRestartsFromTheMinimum) {
    ProgressControl progress;
    progress.SetRange(1, 3);
    progress.SetPos(1);
    progress.SetStep(1);
    progress.StepIt();
    progress.StepIt();
    EXPECT_EQ(progress.Position(), 3);
    progress.StepIt();
    EXPECT_EQ(progress.Position(), 1);
}

TEST(ProgressControl, PositionStaysInsideTheRange) {
    ProgressControl progress;
    progress.SetRange(10, 20);
    progress.SetPos(5);
    EXPECT_EQ(progress.Position(), 10);
    progress.SetPos(25);
    EXPECT_EQ(progress.Position(), 20);
    progress.SetRange(1, 0);  // no codec selected: the maximum lies below the minimum
    progress.SetPos(1);
    EXPECT_EQ(progress.Position(), 0);
}

TEST(ProgressControl, RangeIsSixteenBits) {
    ProgressControl progress;
    progress.SetRange(0, 65535);
    progress.SetPos(65535);
    EXPECT_EQ(progress.Maximum(), 65535);
    EXPECT_EQ(progress.Position(), 65535);
}

}  // namespace
}  // namespace tallox

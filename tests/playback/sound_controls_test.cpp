// The volume and sound-delay rules as the controls apply them.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>

#include "SoundControls.h"

namespace {

TEST(BufferVolumeFromPercent, FollowsTheLogarithmicRuleCutTowardsZero) {
    struct Case {
        int percent;
        LONG volume;
    };
    const Case cases[] = {
        {0, -10000}, {50, -752}, {25, -1505},  {75, -312}, {100, 0},          {1, -5000},   {10, -2500},
        {99, -10},   {90, -114}, {-1, -10000}, {101, 0},   {INT_MIN, -10000}, {INT_MAX, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        EXPECT_EQ(c.volume, BufferVolumeFromPercent(c.percent));
    }
}

TEST(BufferVolumeFromPercent, NeverRisesWithLessVolume) {
    LONG previous = BufferVolumeFromPercent(100);
    for (int percent = 99; percent >= 0; --percent) {
        SCOPED_TRACE(percent);
        const LONG volume = BufferVolumeFromPercent(percent);
        EXPECT_LE(volume, previous);
        EXPECT_GE(volume, kBufferVolumeMin);
        previous = volume;
    }
}

TEST(StepSoundDelay, MovesTenPerNotificationWithinTwoThousand) {
    struct Case {
        const char* name;
        int delay;
        int delta;
        int next;
    };
    const Case cases[] = {
        {"a negative change adds", 500, -1, 510},
        {"a large negative change still adds one step", 500, -5, 510},
        {"a positive change subtracts", 500, 1, 490},
        {"a zero change subtracts", 500, 0, 490},
        {"up to the limit", 1990, -1, 2000},
        {"stops at the upper limit", 2000, -1, 2000},
        {"down to the limit", -1990, 1, -2000},
        {"stops at the lower limit", -2000, 0, -2000},
        {"through zero", 0, 1, -10},
        {"an odd delay from the settings stops at the limit", 1995, -1, 2000},
        {"a delay beyond the limit comes back inside", 2500, 1, 2000},
        {"the ends of int do not wrap", INT_MAX, -1, 2000},
        {"the ends of int do not wrap, downwards", INT_MIN, 1, -2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.next, StepSoundDelay(c.delay, c.delta));
    }
}

TEST(StepSoundDelay, ReachesEachLimitInExactSteps) {
    int delay = 500;
    int steps = 0;
    while (delay < 2000 && steps < 1000) {
        delay = StepSoundDelay(delay, -1);
        ++steps;
    }
    EXPECT_EQ(2000, delay);
    EXPECT_EQ(150, steps);
    EXPECT_EQ(2000, StepSoundDelay(delay, -1));

    steps = 0;
    while (delay > -2000 && steps < 1000) {
        delay = StepSoundDelay(delay, 1);
        ++steps;
    }
    EXPECT_EQ(-2000, delay);
    EXPECT_EQ(400, steps);
    EXPECT_EQ(-2000, StepSoundDelay(delay, 1));
}

} // namespace

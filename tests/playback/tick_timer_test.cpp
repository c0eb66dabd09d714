// CTickTimer: the pace of a playback that has no sound output to be paced by.
#include <windows.h>

#include <gtest/gtest.h>

#include "SoundTestUtil.h"
#include "TickTimer.h"

namespace {

using soundtest::NowMs;

// Ticks keep coming, and never faster than the grid: n ticks after a restart take at least n
// periods (a wait that returned early would pace a clip faster than its sound).
TEST(CTickTimer, TicksSixtyTimesASecondOnAFixedGrid) {
    CTickTimer timer;
    const double start = NowMs();
    timer.Restart();
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(timer.WaitBlock(500)) << "no tick within 500 ms at tick " << i;
    const double elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 1000.0 - 1.0) << "60 ticks came in less than a second";
    EXPECT_LT(elapsed, 10000.0) << "the ticks all but stopped";
}

TEST(CTickTimer, AWaitShorterThanTheNextTickTimesOut) {
    CTickTimer timer(1); // one tick a second: nothing comes within the waits below
    const double start = NowMs();
    EXPECT_FALSE(timer.WaitBlock(0));
    EXPECT_FALSE(timer.WaitBlock(50));
    EXPECT_GE(NowMs() - start, 45.0) << "the wait ended before its time-out";
    EXPECT_TRUE(timer.WaitBlock(5000));
    EXPECT_GE(NowMs() - start, 1000.0 - 1.0) << "the tick came before its time";
}

// Ticks that pass while nobody waits collapse into one, as block ends do on the sound output's
// auto-reset event: the next wait returns at once, the one after waits for the grid again, which
// is not moved by the late caller.
TEST(CTickTimer, MissedTicksCollapseIntoOneAndKeepTheGrid) {
    CTickTimer timer(10); // ticks at 100, 200, 300, 400 ms
    const double start = NowMs();
    timer.Restart();
    Sleep(350);
    EXPECT_TRUE(timer.WaitBlock(0)) << "three ticks passed, none is left";
    EXPECT_FALSE(timer.WaitBlock(0)) << "the missed ticks came one by one";
    EXPECT_TRUE(timer.WaitBlock(5000));
    const double at = NowMs() - start;
    EXPECT_GE(at, 400.0 - 1.0) << "the next tick came off the grid";
}

TEST(CTickTimer, RestartStartsTheGridAgain) {
    CTickTimer timer(5); // 200 ms a tick
    Sleep(300);
    const double start = NowMs();
    timer.Restart();
    EXPECT_FALSE(timer.WaitBlock(0)) << "a tick from before the restart was left";
    EXPECT_TRUE(timer.WaitBlock(5000));
    EXPECT_GE(NowMs() - start, 200.0 - 1.0);
}

} // namespace

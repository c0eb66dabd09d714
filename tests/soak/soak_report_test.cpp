// The soak tool's verdict on a run's minutes: growth after the warm-up beyond a tolerance fails,
// the noise of a minute that caught a clip being made does not, a figure the platform does not
// report is "n/a" and never a 0 that passes or fails, and the client's rate and the clips count.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SoakReport.h"

using soak::JudgeSoak;
using soak::SeriesVerdict;
using soak::SoakLimits;
using soak::SoakSample;
using soak::SoakVerdict;

namespace {

// A steady run of n minutes: figures a healthy Zarvex under Wine shows, no GDI or USER counts.
std::vector<SoakSample> SteadyRun(int n) {
    std::vector<SoakSample> samples;
    for (int m = 1; m <= n; ++m) {
        SoakSample s;
        s.minute = m;
        s.clips = m < 3 ? m * 3 : 5;
        s.presses = 3;
        s.made = 3;
        s.privateBytes = (300ll << 20) + (m % 2) * (1 << 20); // a megabyte of noise
        s.handles = 200 + m % 3;
        s.threads = 21;
        s.linuxRssKb = 400 * 1024;
        s.linuxThreads = 30;
        s.clientFps = 29.6;
        samples.push_back(s);
    }
    return samples;
}

const SeriesVerdict& Series(const SoakVerdict& verdict, const std::string& name) {
    for (const SeriesVerdict& v : verdict.series)
        if (v.name == name)
            return v;
    static const SeriesVerdict none;
    ADD_FAILURE() << "no series " << name;
    return none;
}

} // namespace

TEST(SoakVerdictTest, GrowthAfterTheWarmUpFailsAndNoiseDoesNot) {
    const struct Case {
        const char* name;
        std::function<void(std::vector<SoakSample>&)> change;
        const char* series;
        bool holds;
    } cases[] = {
        {"steady", [](std::vector<SoakSample>&) {}, "handles", true},
        {"a handle per press",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.handles += 3 * s.minute;
         },
         "handles", false},
        {"growth only during the warm-up",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.handles += 40 * std::min(s.minute, 4);
         },
         "handles", true},
        {"one clip's worth in the last minute only (a clip being made)",
         [](std::vector<SoakSample>& r) { r.back().privateBytes += 70ll << 20; }, "private bytes", true},
        {"one clip leaked every six minutes",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.privateBytes += (70ll << 20) * (s.minute / 6);
         },
         "private bytes", false},
        {"heap settling by 10 MB",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 if (s.minute > 10)
                     s.privateBytes += 10 << 20;
         },
         "private bytes", true},
        {"a thread every two minutes",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.threads += s.minute / 2;
         },
         "threads", false},
        {"the Linux side grows",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.linuxRssKb += 8 * 1024 * s.minute;
         },
         "Linux RSS", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SoakSample> run = SteadyRun(20);
        c.change(run);
        const SoakVerdict verdict = JudgeSoak(run, SoakLimits());
        const SeriesVerdict& v = Series(verdict, c.series);
        EXPECT_TRUE(v.judged);
        EXPECT_EQ(c.holds, v.holds) << v.text;
        EXPECT_EQ(c.holds, verdict.pass) << "the run's verdict follows the series";
    }
}

// Wine answers 0 for GDI and USER objects: such a series is "n/a" in the table and the verdict,
// and passes nothing and fails nothing. A run too short to have a baseline and an end after the
// warm-up judges no growth at all.
TEST(SoakVerdictTest, WhatIsNotReportedOrTooShortIsNotJudged) {
    std::vector<SoakSample> run = SteadyRun(20);
    SoakVerdict verdict = JudgeSoak(run, SoakLimits());
    for (const char* name : {"GDI objects", "USER objects"}) {
        SCOPED_TRACE(name);
        const SeriesVerdict& v = Series(verdict, name);
        EXPECT_FALSE(v.measured);
        EXPECT_TRUE(v.holds);
        EXPECT_NE(std::string::npos, v.text.find("n/a")) << v.text;
    }
    EXPECT_TRUE(verdict.pass);
    SoakSample nothing; // a minute in which no figure was reported
    nothing.minute = 1;
    const std::string row = soak::SoakTableRow(nothing);
    size_t naCells = 0;
    for (size_t at = row.find("n/a"); at != std::string::npos; at = row.find("n/a", at + 1))
        ++naCells;
    EXPECT_EQ(10u, naCells) << "clips, 7 figures, the client's rate and the load: " << row;

    run = SteadyRun(9); // warm-up 4: five minutes after it, one short of a baseline and an end
    for (auto& s : run)
        s.handles += 50 * s.minute;
    verdict = JudgeSoak(run, SoakLimits());
    EXPECT_FALSE(Series(verdict, "handles").judged);
    EXPECT_TRUE(verdict.pass) << "growth in a run too short to judge is not a failure";
}

TEST(SoakVerdictTest, TheClientRateAndTheClipsMustHold) {
    const struct Case {
        const char* name;
        std::function<void(std::vector<SoakSample>&)> change;
        const char* series;
        bool holds;
    } cases[] = {
        {"every minute at 27.5 fps",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.clientFps = 27.5;
         },
         "client rate", true},
        {"one minute at 20 fps", [](std::vector<SoakSample>& r) { r[12].clientFps = 20; }, "client rate",
         false},
        {"a minute without a figure (the client restarting)",
         [](std::vector<SoakSample>& r) { r[7].clientFps = -1; }, "client rate", true},
        {"no figure at all",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.clientFps = -1;
         },
         "client rate", false},
        {"the last press still on its way", [](std::vector<SoakSample>& r) { r.back().made -= 1; }, "clips",
         true},
        {"a press overtaken by a stall",
         [](std::vector<SoakSample>& r) {
             r[6].stallPresses = 1;
             r[6].made -= 1;
             r.back().made -= 1;
         },
         "clips", true},
        {"more clips than presses", [](std::vector<SoakSample>& r) { r[3].made += 1; }, "clips", false},
        {"two presses without a clip", [](std::vector<SoakSample>& r) { r[10].made -= 2; }, "clips", false},
        {"no press at all",
         [](std::vector<SoakSample>& r) {
             for (auto& s : r)
                 s.presses = s.made = 0;
         },
         "clips", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SoakSample> run = SteadyRun(20);
        c.change(run);
        const SoakVerdict verdict = JudgeSoak(run, SoakLimits());
        EXPECT_EQ(c.holds, Series(verdict, c.series).holds) << Series(verdict, c.series).text;
        EXPECT_EQ(c.holds, verdict.pass);
    }
}

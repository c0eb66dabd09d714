// What a soak run records each minute, the table it prints, and the verdict on it.
//
// A figure that the platform does not report is kept as -1 and printed as "n/a", never as 0: under
// Wine GetGuiResources answers 0 for GDI and USER objects, and the Linux side of the process is
// there only under Wine. A series with no figure is left out of the verdict, and says so.
//
// The verdict asks two things:
//   - nothing grows: for each series, the median of the three minutes after the warm-up is the
//     baseline and the median of the last three minutes the end; the end may exceed the baseline by
//     the series' tolerance at most. Medians, because a single minute may catch a clip being made
//     or played; three minutes, so that a leak of one handle per press already shows in a short run.
//   - the client's rate holds: every minute's delivered rate is at least kMinRateShare of the
//     device's nominal rate.
//   - every capture press made a clip, except those a camera stall overtook (Zarvex gives up a
//     press that no frame follows) and the last one, which may still be on its way.
// A run too short to have both the baseline and the end after the warm-up judges only the rate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct SoakSample {
    int minute = 0;       // the sample closes this minute of the run (1, 2, ...)
    int clips = -1;       // items in the clip list
    int presses = 0;      // in this minute: capture presses,
    int stallPresses = 0; // those a camera stall may have cost their clip,
    int made = 0;         // clips that appeared,
    int deleted = 0;      // clips deleted,
    int played = 0;       // playbacks started
    std::int64_t privateBytes = -1;
    int handles = -1;
    int threads = -1;
    int gdiObjects = -1;
    int userObjects = -1;
    std::int64_t linuxRssKb = -1; // the Wine process's resident set (VmRSS)
    int linuxThreads = -1;        // and its Linux threads (Wine's own among them)
    double clientFps = -1;        // frames the client received per second of its running time
    double load = -1;             // the machine's load average over the minute (Linux)
    std::string notes;            // what else happened in the minute
};

struct SoakLimits {
    int warmupMinutes = 4;
    // Private bytes and the resident set may grow by this share of the baseline or by the floor,
    // whichever is larger: the heap settles in steps of a few pages, and one frame of 640 x 480 is
    // 0.9 MB.
    double memoryShare = 0.05;
    std::int64_t memoryFloorBytes = 16ll << 20;
    int handles = 16;
    int threads = 3;
    int guiObjects = 16;
    double nominalFps = 30;
    static constexpr double kMinRateShare = 0.9;
};

struct SeriesVerdict {
    std::string name;
    bool measured = false; // false: no figure at all ("n/a")
    bool judged = false;   // false: measured, but the run is too short
    double baseline = 0, end = 0, tolerance = 0;
    bool holds = true;
    std::string text; // one line for the report
};

struct SoakVerdict {
    std::vector<SeriesVerdict> series; // growth of each series, the client's rate, the clips
    bool pass = true;
};

SoakVerdict JudgeSoak(const std::vector<SoakSample>& samples, const SoakLimits& limits);

// The table's heading and one row per sample.
std::string SoakTableHeading();
std::string SoakTableRow(const SoakSample& sample);

// The verdict as printed: one line per series, then PASS or FAIL.
std::string SoakVerdictText(const SoakVerdict& verdict);

} // namespace soak

// CSoakRun: one soak run. It runs Zarvex.exe on the test camera with a client of ZarvexDevice for
// the given time and uses it the way a long session would:
//   - a capture press every --press-every seconds (a press waits, within half that time, for the
//     button to come back when a clip is still being made or played, and is skipped otherwise);
//   - each new clip beyond --keep deletes the oldest one;
//   - every --play-every-th new clip is played, by a double-click and by the play button in turn;
//   - every --stall-every minutes the test camera stalls for --stall-seconds (TestCamStall.h);
//     Zarvex gives up a press that no frame follows, so the press a stall overtakes may make no
//     clip, and the verdict allows for it;
//   - every --restart-every minutes the client is killed and started again, at a moment when no
//     press is waiting for its clip (the client's format announcement rebuilds Zarvex's ring).
// At the end of every minute it records what Zarvex holds and the client's rate (SoakReport.h);
// at the end it closes both programs as a user would and prints the table and the verdict.
//
// Threading: everything runs on the thread that calls Run; the programs are other processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "SoakClient.h"
#include "SoakOptions.h"
#include "SoakReport.h"
#include "SoakZarvex.h"
#include "TestCamStall.h"

namespace soak {

class CSoakRun {
public:
    CSoakRun(const SoakOptions& options, const std::wstring& binDir);

    // The exit code: 0 when the verdict passes, 1 when it fails, 3 when the programs could not be
    // started.
    int Run();

private:
    // The minutes of the run; a failure that ended it early, or "".
    std::string RunMinutes();
    // What the run does as a minute begins: the client's restart, the camera's stall.
    void StartOfMinute(int minute);
    // The table again, and the verdict with the way the run ended; the exit code.
    int Report(const SeriesVerdict& end);
    void Press();
    // Follows the clip list while it is steady (the delete button is enabled only then): new clips
    // are counted, the oldest beyond the limit deleted, and every n-th new clip played.
    void FollowClips();
    void RestartClient();
    SoakSample Sample(int minute);
    // An event line on the error output, with the run's clock.
    void Log(const std::string& text);
    void Note(const std::string& text);
    // The client's output lines into the log.
    void Drain();

    const SoakOptions m_options;
    CSoakZarvex m_zarvex;
    CSoakClient m_client;
    CTestCamStall m_stall;
    ULONGLONG m_start = 0;
    ULONGLONG m_stallEnds = 0;
    ULONGLONG m_lastPress = 0; // when the last press was made (0: none yet)

    int m_clips = 0;     // items in the list when last seen steady
    int m_clipsMade = 0; // in the whole run
    bool m_playByDoubleClick = true;
    SoakSample m_minute; // counts and notes of the minute under way
    std::vector<SoakSample> m_samples;
};

} // namespace soak

#include "SoakRun.h"

#include <cstdio>

#include "LinuxSide.h"
#include "TestCameraIds.h"
#include "Utf8.h"

namespace soak {

namespace {

void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A Wine process start alone may take seconds on a busy machine; building Zarvex's capture graph
// more.
constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kCloseTimeoutMs = 60000;
// A press waits EndTime (5 s by default) of frames for its clip; a stall that begins within this
// time of a press may leave it without one.
constexpr ULONGLONG kPressOvertakenMs = 10000;

} // namespace

CSoakRun::CSoakRun(const SoakOptions& options, const std::wstring& binDir)
    : m_options(options), m_zarvex(binDir), m_client(binDir, options.clientSize),
      m_stall(CLSID_ZarvexTestCamera) {}

void CSoakRun::Log(const std::string& text) {
    const ULONGLONG s = (GetTickCount64() - m_start) / 1000;
    std::fprintf(stderr, "[%02llu:%02llu] %s\n", s / 60, s % 60, text.c_str());
    std::fflush(stderr);
}

void CSoakRun::Note(const std::string& text) {
    Log(text);
    m_minute.notes += (m_minute.notes.empty() ? "" : "; ") + text;
}

void CSoakRun::Drain() {
    const std::string said = m_client.TakeOutput();
    size_t at = 0;
    while (at < said.size()) {
        const size_t end = said.find('\n', at);
        Log("client: " + said.substr(at, end - at));
        at = end == std::string::npos ? said.size() : end + 1;
    }
}

int CSoakRun::Run() {
    m_start = GetTickCount64();
    std::wstring why;
    if (!m_zarvex.Start(kStartTimeoutMs)) {
        Log("cannot start Zarvex: " + win::Utf8(m_zarvex.Failure()));
        return 3;
    }
    Log("Zarvex.exe runs (" + win::Utf8(m_zarvex.ExePath()) + ")");
    if (!m_client.Start(kStartTimeoutMs, &why)) {
        Drain();
        Log("cannot start the client: " + win::Utf8(why));
        return 3;
    }
    Log("the client runs");
    PrintLine(SoakTableHeading());

    const std::string failure = RunMinutes();
    if (m_stall.Active()) {
        m_stall.End();
        Log("stall ended");
    }
    m_client.Close(15000);
    Drain();
    SeriesVerdict end;
    end.name = "end";
    std::wstring closeWhy;
    if (!failure.empty()) {
        end.holds = false;
        end.text = failure;
    } else if (m_zarvex.Close(kCloseTimeoutMs, &closeWhy)) {
        end.text = "Zarvex.exe closed by its exit button, exit code " + std::to_string(m_zarvex.ExitCode());
        end.holds = m_zarvex.ExitCode() == 0;
    } else {
        end.holds = false;
        end.text = "Zarvex.exe did not close: " + win::Utf8(closeWhy);
    }
    return Report(end);
}

std::string CSoakRun::RunMinutes() {
    const ULONGLONG pressEvery = static_cast<ULONGLONG>(m_options.pressEverySeconds) * 1000;
    ULONGLONG nextPress = GetTickCount64() + pressEvery;
    ULONGLONG nextSample = m_start + 60000;
    for (int minute = 1;;) {
        if (!m_zarvex.IsRunning()) {
            const std::string failure = "Zarvex.exe ended by itself in minute " + std::to_string(minute) +
                                        " (exit code " + std::to_string(m_zarvex.ExitCode()) + ")";
            Note(failure);
            m_samples.push_back(m_minute);
            m_samples.back().minute = minute;
            return failure;
        }
        Drain();
        FollowClips();
        const ULONGLONG now = GetTickCount64();
        if (m_stall.Active() && now >= m_stallEnds) {
            m_stall.End();
            Note("stall ended");
        }
        if (now >= nextSample) {
            const SoakSample sample = Sample(minute);
            m_samples.push_back(sample);
            PrintLine(SoakTableRow(sample));
            if (minute == m_options.minutes)
                return std::string();
            StartOfMinute(minute + 1);
            nextSample += 60000;
            ++minute;
        } else if (now >= nextPress) {
            Press();
            nextPress += pressEvery;
            if (nextPress <= GetTickCount64()) // fell behind: no burst of presses to catch up
                nextPress = GetTickCount64() + pressEvery;
        } else {
            Sleep(200);
        }
    }
}

void CSoakRun::StartOfMinute(int minute) {
    const int done = minute - 1;
    if (m_options.restartEveryMinutes > 0 && done % m_options.restartEveryMinutes == 0)
        RestartClient();
    if (m_options.stallEveryMinutes > 0 && done % m_options.stallEveryMinutes == 0 && !m_stall.Active()) {
        if (!m_stall.Begin()) {
            Note("the stall could not begin (error " + std::to_string(GetLastError()) + ")");
            return;
        }
        m_stallEnds = GetTickCount64() + static_cast<ULONGLONG>(m_options.stallSeconds) * 1000;
        Note("camera stalled for " + std::to_string(m_options.stallSeconds) + " s");
        // A press still waiting for its EndTime of frames may be given up now.
        if (m_lastPress != 0 && GetTickCount64() - m_lastPress < kPressOvertakenMs)
            ++m_minute.stallPresses;
    }
}

int CSoakRun::Report(const SeriesVerdict& end) {
    PrintLine("");
    PrintLine("Soak of " + std::to_string(m_samples.size()) + " minute(s): press every " +
              std::to_string(m_options.pressEverySeconds) + " s, keep " +
              std::to_string(m_options.keepClips) + " clips, client at " +
              std::to_string(m_options.clientSize.cx) + "x" + std::to_string(m_options.clientSize.cy));
    PrintLine(SoakTableHeading());
    for (const SoakSample& sample : m_samples)
        PrintLine(SoakTableRow(sample));
    SoakLimits limits;
    limits.warmupMinutes = m_options.warmupMinutes;
    SoakVerdict verdict = JudgeSoak(m_samples, limits);
    verdict.series.push_back(end);
    verdict.pass = verdict.pass && end.holds;
    PrintLine("");
    PrintLine("Verdict (baseline: median of the 3 minutes after a warm-up of " +
              std::to_string(m_options.warmupMinutes) + "; end: median of the last 3):");
    std::printf("%s", SoakVerdictText(verdict).c_str());
    std::fflush(stdout);
    return verdict.pass ? 0 : 1;
}

void CSoakRun::Press() {
    std::wstring why;
    if (m_zarvex.Press(static_cast<DWORD>(m_options.pressEverySeconds) * 500, &why)) {
        ++m_minute.presses;
        m_lastPress = GetTickCount64();
        if (m_stall.Active())
            ++m_minute.stallPresses;
        Log(m_stall.Active() ? "press (camera stalled)" : "press");
    } else {
        Note("press skipped: " + win::Utf8(why));
    }
}

void CSoakRun::FollowClips() {
    // Delete is disabled from a press until the clip maker ends, and while a clip plays: only then
    // may the list be mid-rebuild.
    if (!m_zarvex.Enabled(3))
        return;
    const int count = m_zarvex.ClipCount();
    if (count < 0 || count == m_clips)
        return;
    if (count < m_clips) {
        Note("the list lost " + std::to_string(m_clips - count) + " clip(s) by itself");
        m_clips = count;
        return;
    }
    const int made = count - m_clips;
    m_minute.made += made;
    m_clipsMade += made;
    m_clips = count;
    Log("clip " + std::to_string(m_clipsMade) + " made; " + std::to_string(count) + " in the list");
    std::wstring why;
    while (m_clips > m_options.keepClips) {
        if (!m_zarvex.DeleteClip(0, &why)) {
            Note("delete failed: " + win::Utf8(why));
            m_clips = m_zarvex.ClipCount();
            return;
        }
        ++m_minute.deleted;
        --m_clips;
    }
    if (m_options.playEvery > 0 && m_clipsMade % m_options.playEvery == 0) {
        if (m_zarvex.PlayClip(m_clips - 1, m_playByDoubleClick, &why)) {
            ++m_minute.played;
            Log(std::string("playing the newest clip (") +
                (m_playByDoubleClick ? "double-click" : "play button") + ")");
        } else {
            Note("play: " + win::Utf8(why));
        }
        m_playByDoubleClick = !m_playByDoubleClick;
    }
}

void CSoakRun::RestartClient() {
    // A format announcement rebuilds the ring, which forgets a press that waits for its clip: the
    // restart waits for the capture button, as a user reconnecting a camera would.
    std::wstring why;
    const ULONGLONG start = GetTickCount64();
    while (!m_zarvex.Enabled(1) && GetTickCount64() - start < 60000) {
        FollowClips();
        Sleep(200);
    }
    m_client.Kill();
    Drain();
    if (m_client.Start(kStartTimeoutMs, &why))
        Note("client killed and restarted");
    else
        Note("client restart failed: " + win::Utf8(why));
}

SoakSample CSoakRun::Sample(int minute) {
    SoakSample sample = m_minute;
    m_minute = SoakSample();
    sample.minute = minute;
    sample.clips = m_clips;
    m_zarvex.Measure(&sample);
    if (!m_client.IsRunning()) {
        std::wstring why;
        Drain();
        sample.notes += std::string(sample.notes.empty() ? "" : "; ") + "client had ended";
        if (!m_client.Start(kStartTimeoutMs, &why))
            sample.notes += ", restart failed: " + win::Utf8(why);
    }
    sample.clientFps = m_client.TakeMinute();
    sample.load = CLinuxSide::LoadAverage();
    return sample;
}

} // namespace soak

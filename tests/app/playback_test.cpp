// Playback, sound and saving through the main dialog, in-process, with its real controls: the Zarvex
// Test Camera delivers live frames, clips are put into the dialog's lists through the test access
// (the press itself is press_test.cpp's), and channel_peer.exe reads the real frame channel from
// another process as the virtual camera does. The player's own rules (fades, steps, the delay, the
// pace) are tests/playback's; here it is what the dialog makes of them.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClipPlayer.h"
#include "ComScope.h"
#include "FrameArray.h"
#include "SoundBlock.h"
#include "SoundControls.h"
#include "SoundOutput.h"
#include "avi_expect.h"
#include "avi_test_clip.h"
#include "clip_pattern.h"
#include "dialog_fixture.h"
#include "listed_video_devices.h"
#include "modal_dialog_helper.h"
#include "peer_process.h"
#include "probe_process.h"
#include "resource.h"
#include "sound_buffer_volume.h"
#include "wait_until.h"

using cliptest::CFadeDecoder;
using cliptest::kBlack;
using cliptest::Seen;
using testing_support::CListedTestCamera;
using testing_support::DialogThread;
using testing_support::MessageBoxRecorder;
using testing_support::ModalDialogHelper;
using testing_support::PeerProcess;
using testing_support::RunProbe;
using testing_support::WaitUntil;
using Access = testing_support::ZarvexDlgTestAccess;

namespace {

constexpr int kWidth = 512; // the ring's size: what the dialog plays and publishes
constexpr int kHeight = 384;
constexpr int kSoundBlocks = 240; // four seconds: longer than the clips' pictures
// How often a wait looks: a paused or stepped playback is caught within a display or so.
constexpr DWORD kPollMs = 10;

std::wstring ItemText(const DialogThread& dlg, int id) {
    wchar_t text[64] = {};
    GetDlgItemTextW(dlg.window(), id, text, 64);
    return text;
}

// A button pressed as a click does; the dialog has handled it on return.
void Click(const DialogThread& dlg, int id) {
    SendMessageW(dlg.item(id), BM_CLICK, 0, 0);
}

void Probe(const std::wstring& args) {
    const testing_support::ProbeRun run = RunProbe(args);
    EXPECT_EQ(0u, run.exitCode) << "zxprobe " << std::string(args.begin(), args.end()) << ": "
                                << run.Transcript();
}

std::string Settings(const std::string& more = "") {
    return "[Settings]\r\nPreTime=1\r\nEndTime=1\r\nVolume=50\r\nSoundDelay=0\r\n" + more;
}

// Every test clip's sound: numbered samples (avi_test_clip.h), quiet enough for the bench's sink.
std::vector<BYTE> ClipSound() {
    return avi_test::MakeSound(kSoundBlocks * kSoundBlockBytes);
}

// Appends a test clip (clip_pattern.h) of `frames` at 512 x 384 recorded at fps, with a silent
// sound block when withSound (a clip without one must come after every clip with one).
const CFrameArray* AddClip(DialogThread& dlg, int frames, int fps, bool other, bool withSound) {
    const CFrameArray* added = nullptr;
    EXPECT_TRUE(dlg.Run([&](CZarvexDlg& d) {
        auto clip = cliptest::MakeClip(frames, kWidth, kHeight, fps, other);
        if (!clip)
            return;
        if (withSound) {
            const std::vector<BYTE> bytes = ClipSound();
            auto sound = std::make_unique<SoundBlock>();
            sound->SetSize(static_cast<int>(bytes.size()));
            std::copy(bytes.begin(), bytes.end(), sound->GetData());
            Access::Sounds(d).Add(sound.release());
        }
        added = clip.get();
        Access::Clips(d).Add(clip.release());
        Access::RefillClipList(d);
    }));
    return added;
}

bool IsPlaying(DialogThread& dlg) {
    return Access::Player(dlg.dialog()).IsPlaying() != FALSE; // an atomic, read from any thread
}

int WriteIndex(DialogThread& dlg) {
    int index = -1;
    EXPECT_TRUE(dlg.Run([&](CZarvexDlg& d) { index = Access::Ring(d).GetWriteIndex(); }));
    return index;
}

// Live frames reach the ring (the dialog captures from the first listed device, the test camera).
::testing::AssertionResult LiveFramesArrive(DialogThread& dlg) {
    const int before = WriteIndex(dlg);
    if (WaitUntil([&] { return WriteIndex(dlg) != before; }, 5000, kPollMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no live frame in 5 s: the Zarvex Test Camera must be the first "
                                            "listed device (tools/testcam/register-testcam.sh build)";
}

// What a playback of a clip of `count` frames from its first shows, one entry a tick at `ticks`
// a frame, then the fade-out from frame count - 2 (as tests/playback's schedule).
std::vector<Seen> Schedule(int count, int ticks, bool other) {
    std::vector<Seen> shown;
    for (int j = 1;; ++j) {
        const int frame = j / ticks;
        if (frame >= count)
            break;
        Seen seen;
        seen.percent = j <= 50 ? 100 - 2 * (j - 1) : 0;
        seen.frame = frame == count - 1 || seen.percent == 100 ? kBlack : frame;
        seen.other = seen.frame != kBlack && other;
        if (seen.frame == kBlack)
            seen.percent = 100;
        shown.push_back(seen);
    }
    for (int i = 0; i < 100; ++i) {
        Seen seen;
        seen.frame = count - 2;
        seen.percent = i;
        seen.other = other;
        shown.push_back(seen);
    }
    return shown;
}

// A watch of the channel from channel_peer.exe, decoded.
struct Sightings {
    std::vector<Seen> seen;
    std::vector<double> ms;
};

Sightings StopWatch(PeerProcess& peer, const CFadeDecoder& decoder) {
    Sightings s;
    for (const testing_support::WatchSighting& w :
         testing_support::ParseWatch(peer.Do("watch-stop", 30000))) {
        s.seen.push_back(decoder.Decode(w.bytes));
        s.ms.push_back(w.ms);
    }
    return s;
}

// How a playback came out in a watch: the sightings from its first frame past the black start to
// its last fade-out frame, each the publish of `expected` it shows, in order.
struct Followed {
    size_t first = SIZE_MAX; // the range of sightings that belongs to the playback
    size_t last = 0;
    std::vector<size_t> at; // for each sighting in the range, the publish it is
    std::string problem;
};

Followed Follow(const Sightings& s, const std::vector<Seen>& expected, size_t plays) {
    Followed f;
    for (size_t i = 0; i < s.seen.size() && f.first == SIZE_MAX; ++i)
        for (size_t k = 1; k < 10; ++k)
            if (s.seen[i] == expected[k])
                f.first = i;
    for (size_t i = 0; i < s.seen.size(); ++i)
        for (size_t k = plays; k < expected.size(); ++k)
            if (s.seen[i] == expected[k])
                f.last = i;
    if (f.first == SIZE_MAX || f.last <= f.first) {
        f.problem = "the playback was not seen";
        return f;
    }
    size_t next = 0;
    for (size_t i = f.first; i <= f.last; ++i) {
        while (next < expected.size() && !(expected[next] == s.seen[i]))
            ++next;
        if (next == expected.size()) {
            f.problem = "sighting " + std::to_string(i) + " (" + s.seen[i].Text() +
                        ") is no publish of the playback in its order: a live frame or another clip";
            return f;
        }
        f.at.push_back(next++);
    }
    return f;
}

class DialogPlaybackTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_decoder.Ready());
        ASSERT_TRUE(m_dlg.window()) << "the dialog did not appear";
        ASSERT_TRUE(Access::SoundOutput(m_dlg.dialog()).HasBuffer())
            << "no sound output: the bench's PulseAudio null sink should be the default device";
        ASSERT_TRUE(LiveFramesArrive(m_dlg));
        ASSERT_EQ("ok", m_peer.Do("open")) << "the dialog's channel cannot be opened";
    }
    void TearDown() override { m_peer.Exit(); }

    MessageBoxRecorder m_boxes;
    DialogThread m_dlg{Settings()};
    PeerProcess m_peer;
    CFadeDecoder m_decoder{kWidth, kHeight};
};

// A double-click plays the clip through the channel, as the reader in the other process sees it:
// 60 publishes a second, each frame of a 30-fps clip on two of them, the first 50 darkened, the
// fade-out 10 ms a step from frame N - 2. Live frames are dropped meanwhile and flow again after.
// A clip without a sound block plays the same way, paced by the timer, and ends like any other.
// While a clip plays the exit button stays disabled and closing is refused, a press cannot be
// made, and a second clip cannot be started beside it.
TEST_F(DialogPlaybackTest, ADoubleClickPlaysTheClipTickByTickAsAnotherProcessSeesIt) {
    const int frames = 60;
    AddClip(m_dlg, frames, 30, false, true);
    AddClip(m_dlg, frames, 30, true, false); // no sound block: m_sounds is one shorter
    struct Case {
        const char* name;
        int index;
        bool other;
    } cases[] = {{"with its sound", 0, false}, {"without a sound block, paced by the timer", 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ("ok", m_peer.Do("watch-start 16"));
        Sleep(500); // live frames
        Probe(L"dblclick Zarvex 1000 " + std::to_wstring(c.index));
        ASSERT_TRUE(WaitUntil([&] { return IsPlaying(m_dlg); }, 5000, kPollMs))
            << "the double-click played nothing";
        ASSERT_TRUE(m_dlg.Run([](CZarvexDlg&) {})); // the double-click's handler has run to its end

        EXPECT_FALSE(IsWindowEnabled(m_dlg.item(IDCANCEL))) << "the exit button is usable during a playback";
        PostMessageW(m_dlg.window(), WM_CLOSE, 0, 0);                              // Alt+F4, the close box
        SendMessageW(m_dlg.window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); // the Enter key
        EXPECT_FALSE(Access::IsArmed(m_dlg.dialog())) << "a press was made during a playback";
        Probe(L"dblclick Zarvex 1000 " + std::to_wstring(1 - c.index)); // the other clip
        Click(m_dlg, IDC_PLAY);
        EXPECT_TRUE(IsWindow(m_dlg.window())) << "the dialog closed during a playback";

        ASSERT_TRUE(WaitUntil([&] { return !IsPlaying(m_dlg); }, 15000, kPollMs))
            << "the playback did not end";
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(m_dlg.item(IDCANCEL)) != FALSE; }, 2000, kPollMs))
            << "the controls did not come back";
        Sleep(700); // live frames again
        const Sightings seen = StopWatch(m_peer, m_decoder);

        const size_t plays = 2 * frames - 1;
        const std::vector<Seen> expected = Schedule(frames, 2, c.other);
        const Followed f = Follow(seen, expected, plays);
        ASSERT_TRUE(f.problem.empty()) << f.problem;
        EXPECT_GE(f.at.size(), expected.size() * 8 / 10) << "the reader missed too many frames";
        // The play part at 60 publishes a second, each clip frame on two of them; the fade-out's
        // steps at least 10 ms apart.
        size_t firstPlay = SIZE_MAX, lastPlay = 0, firstFade = SIZE_MAX, lastFade = 0;
        for (size_t i = 0; i < f.at.size(); ++i) {
            size_t& lo = f.at[i] < plays ? firstPlay : firstFade;
            size_t& hi = f.at[i] < plays ? lastPlay : lastFade;
            lo = std::min(lo, i);
            hi = i;
        }
        ASSERT_LT(firstPlay, lastPlay);
        ASSERT_LT(firstFade, lastFade);
        const double rate = (f.at[lastPlay] - f.at[firstPlay]) * 1000.0 /
                            (seen.ms[f.first + lastPlay] - seen.ms[f.first + firstPlay]);
        EXPECT_GT(rate, 40.0) << "publishes a second";
        EXPECT_LT(rate, 80.0) << "publishes a second";
        const double step = (seen.ms[f.first + lastFade] - seen.ms[f.first + firstFade]) /
                            static_cast<double>(f.at[lastFade] - f.at[firstFade]);
        EXPECT_GE(step, 9.5) << "ms a fade-out step";
        EXPECT_LT(step, 50.0) << "ms a fade-out step";
        EXPECT_GE(std::count_if(f.at.begin(), f.at.end(), [](size_t k) { return k > 0 && k < 50; }), 30)
            << "the fade-in was not seen";
        // Live frames before and after, none during.
        EXPECT_GE(f.first, 5u) << "no live frames before the playback";
        EXPECT_GE(seen.seen.size() - f.last - 1, 5u) << "live frames did not flow again after the playback";
    }
}

// The transport buttons reach the player: pause holds the picture, a step forward and a step back
// move it one frame each way, a drag of the position slider to its end shows the last frame, and a
// stop while paused ends the playback at once with the fade-out from frame N - 2.
TEST_F(DialogPlaybackTest, PauseStepSeekAndStopWhilePausedThroughTheButtons) {
    const int frames = 120;
    AddClip(m_dlg, frames, 30, false, true);
    CClipPlayer& player = Access::Player(m_dlg.dialog());
    const auto frame = [&] { return player.GetPosition().nFrame; };
    const auto slider = [&] {
        return static_cast<int>(SendMessageW(m_dlg.item(IDC_POSITION), TBM_GETPOS, 0, 0));
    };

    Click(m_dlg, IDC_PLAY); // nothing selected: clip 1
    ASSERT_TRUE(WaitUntil([&] { return frame() >= 40; }, 5000, kPollMs)) << "the play button played nothing";
    Click(m_dlg, IDC_PAUSE);
    ASSERT_EQ(BST_CHECKED, IsDlgButtonChecked(m_dlg.window(), IDC_PAUSE));
    Sleep(150);
    const int paused = frame();
    Sleep(400);
    EXPECT_EQ(paused, frame()) << "the picture moved while paused";

    ASSERT_EQ("ok", m_peer.Do("watch-start 16"));
    struct Step {
        const char* name;
        int button;
        int frame;
    } steps[] = {{"step forward", IDC_STEP_FORWARD, paused + 1}, {"step back", IDC_STEP_BACK, paused}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        Click(m_dlg, s.button);
        EXPECT_TRUE(WaitUntil([&] { return frame() == s.frame; }, 2000, kPollMs)) << "at frame " << frame();
        EXPECT_TRUE(WaitUntil([&] { return slider() == s.frame * 10000 / frames; }, 2000, kPollMs));
    }
    // A drag to the right end, held until it is shown, then let go: still paused at the last frame.
    SendMessageW(m_dlg.item(IDC_POSITION), TBM_SETPOS, TRUE, 10000);
    SendMessageW(m_dlg.window(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 10000),
                 reinterpret_cast<LPARAM>(m_dlg.item(IDC_POSITION)));
    EXPECT_TRUE(WaitUntil([&] { return frame() == frames - 1; }, 2000, kPollMs)) << "the drag was not shown";
    SendMessageW(m_dlg.window(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                 reinterpret_cast<LPARAM>(m_dlg.item(IDC_POSITION)));
    Sleep(200);
    // The release takes the slider's position, which the player had set back to the last frame's
    // (119 x 10000 / 120 = 9916); a pass of the drag that reads it shows 120 x 9916 / 10000 = 118.
    EXPECT_GE(frame(), frames - 2) << "the release while paused moved on";
    EXPECT_TRUE(IsPlaying(m_dlg));

    const DWORD stopped = GetTickCount();
    Click(m_dlg, IDC_STOP);
    ASSERT_TRUE(WaitUntil([&] { return !IsPlaying(m_dlg); }, 5000, kPollMs))
        << "the stop while paused did not end it";
    EXPECT_LT(GetTickCount() - stopped, 3000u) << "the stop waited for more than the fade-out";
    const Sightings seen = StopWatch(m_peer, m_decoder);
    // What the reader saw: the next frame, the paused one again, the black last one, the fade-out.
    std::vector<Seen> expected;
    for (int k : {paused + 1, paused, kBlack}) {
        Seen s;
        s.frame = k;
        s.percent = k == kBlack ? 100 : 0;
        expected.push_back(s);
    }
    const std::vector<Seen> fade = Schedule(frames, 2, false);
    expected.insert(expected.end(), fade.end() - 100, fade.end());
    std::vector<Seen> distinct;
    for (const Seen& s : seen.seen)
        if (distinct.empty() || !(distinct.back() == s))
            distinct.push_back(s);
    size_t next = 0;
    for (const Seen& s : distinct)
        if (next < expected.size() && s == expected[next])
            ++next;
    // The reader polls, as the virtual camera does, and may miss a few; live frames follow. When
    // the machine holds the reader back (no sighting for five fade-out steps or more), the 10 ms
    // steps published meanwhile are missed for that reason alone, and are not counted against the
    // order.
    // Counted between two fade-out steps seen one after the other with a stall between them: the
    // steps that lie between them in the schedule are the ones the stall hid.
    const auto fadeStep = [&](const Seen& s) -> size_t {
        const auto at = std::find(expected.begin() + 3, expected.end(), s);
        return at == expected.end() ? SIZE_MAX : static_cast<size_t>(at - expected.begin());
    };
    size_t unwatched = 0;
    for (size_t i = 1; i < seen.seen.size() && i < seen.ms.size(); ++i) {
        const size_t from = fadeStep(seen.seen[i - 1]), to = fadeStep(seen.seen[i]);
        if (from != SIZE_MAX && to != SIZE_MAX && to > from + 1 && seen.ms[i] - seen.ms[i - 1] > 50.0)
            unwatched += to - from - 1;
    }
    std::printf("[ figures  ] the reader saw %zu pictures, %zu of %zu expected in order; %zu steps fell "
                "where it could not look\n",
                distinct.size(), next, expected.size(), unwatched);
    EXPECT_GE(next + std::min(unwatched, expected.size()), expected.size() - 20)
        << "the reader saw " << distinct.size() << " pictures; the " << next
        << "th expected was the last found in order";

    // The pause button still shows pressed; releasing it now changes nothing.
    Click(m_dlg, IDC_PAUSE);
    EXPECT_FALSE(IsPlaying(m_dlg));
    EXPECT_TRUE(IsWindowEnabled(m_dlg.item(IDCANCEL)));
}

// A press (armed, its clip not yet made) and a playback both hold the controls: a playback that
// ends first leaves them to the press, which gives them back when its clip is made.
TEST_F(DialogPlaybackTest, APlaybackEndingDuringAPressLeavesTheControlsToThePress) {
    AddClip(m_dlg, 10, 30, false, true); // a third of a second, then the fade-out
    // A press of one second on either side (the settings'); live frames are dropped while the
    // clip plays, so the ring completes only about a second after the playback.
    SendMessageW(m_dlg.window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(Access::IsArmed(m_dlg.dialog()));
    Click(m_dlg, IDC_PLAY);
    ASSERT_TRUE(IsPlaying(m_dlg)) << "the play button played nothing";
    ASSERT_TRUE(WaitUntil([&] { return !IsPlaying(m_dlg); }, 10000, kPollMs));
    ASSERT_TRUE(m_dlg.Run([](CZarvexDlg&) {})); // the end message has been handled
    const bool armedOrMaking = Access::IsArmed(m_dlg.dialog()) || Access::ClipMaker(m_dlg.dialog()).IsBusy();
    ASSERT_TRUE(armedOrMaking) << "the press ended before the playback; nothing to show";
    EXPECT_FALSE(IsWindowEnabled(m_dlg.item(IDCANCEL))) << "the playback's end gave the controls back";
    EXPECT_FALSE(IsWindowEnabled(m_dlg.item(IDOK)));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(m_dlg.item(IDCANCEL)) != FALSE; }, 20000, kPollMs))
        << "the press did not give the controls back";
    int clips = 0;
    ASSERT_TRUE(m_dlg.Run([&](CZarvexDlg& d) { clips = Access::Clips(d).GetSize(); }));
    EXPECT_EQ(2, clips) << "the press made no clip";
}

// Closing the dialog while a clip plays (the exit button is disabled then; here the close comes
// all the same) stops the playback and joins its thread before the clips and the sound go.
TEST_F(DialogPlaybackTest, ClosingDuringAPlaybackStopsItBeforeTheClipsGo) {
    AddClip(m_dlg, 300, 30, false, true);
    Click(m_dlg, IDC_PLAY);
    ASSERT_TRUE(
        WaitUntil([&] { return Access::Player(m_dlg.dialog()).GetPosition().nFrame > 10; }, 5000, kPollMs));
    bool playing = true;
    int clips = -1;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(m_dlg.Close([&](CZarvexDlg& d) {
        playing = Access::Player(d).IsPlaying() != FALSE;
        clips = Access::Clips(d).GetSize();
    }));
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_FALSE(playing) << "the playback outlived the dialog's window";
    EXPECT_EQ(0, clips);
}

// The loaded volume is the buffer's from the start; the slider sets 0 % to -10000, 50 % to -752
// and 100 % to 0, shown beside it. The delay spin moves 10 ms a notification and stops at 2000 and
// -2000. Both are kept at exit.
TEST(DialogSoundControlsTest, VolumeSliderAndDelaySpinThroughTheRealControls) {
    MessageBoxRecorder boxes;
    DialogThread dlg(Settings());
    ASSERT_TRUE(dlg.window());
    CSoundPlayer& output = Access::SoundOutput(dlg.dialog());
    ASSERT_TRUE(output.HasBuffer())
        << "no sound output: the bench's PulseAudio null sink should be the default";
    LONG volume = 1;
    ASSERT_TRUE(dlg.Run([&](CZarvexDlg&) { volume = SoundBufferVolume(output); }));
    EXPECT_EQ(-752, volume) << "the loaded volume was not applied";
    EXPECT_EQ(L"50", ItemText(dlg, IDC_VOLUME_TEXT));

    struct Slide {
        int position, percent;
        LONG volume;
    } slides[] = {{100, 0, -10000}, {0, 100, 0}, {50, 50, -752}, {75, 25, -1505}};
    for (const Slide& s : slides) {
        SCOPED_TRACE(s.percent);
        Probe(L"slide Zarvex 1025 " + std::to_wstring(s.position));
        ASSERT_TRUE(dlg.Run([&](CZarvexDlg&) { volume = SoundBufferVolume(output); }));
        EXPECT_EQ(s.volume, volume);
        EXPECT_EQ(std::to_wstring(s.percent), ItemText(dlg, IDC_VOLUME_TEXT));
    }

    // The spin's arrows, clicked: each click is one notification.
    RECT rc = {};
    GetClientRect(dlg.item(IDC_SOUND_DELAY_SPIN), &rc);
    const auto clickArrow = [&](bool right) {
        const LPARAM at = MAKELPARAM(right ? rc.right - 3 : 2, rc.bottom / 2);
        SendMessageW(dlg.item(IDC_SOUND_DELAY_SPIN), WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(dlg.item(IDC_SOUND_DELAY_SPIN), WM_LBUTTONUP, 0, at);
    };
    const auto delay = [&] { return std::stoi(ItemText(dlg, IDC_SOUND_DELAY)); };
    ASSERT_EQ(0, delay());
    for (bool right : {true, false}) {
        SCOPED_TRACE(right ? "the right arrow" : "the left arrow");
        int steps = 0;
        int last = delay();
        for (int i = 0; i < 410; ++i) {
            clickArrow(right);
            const int now = delay();
            if (now != last) {
                ++steps;
                ASSERT_EQ(10, std::abs(now - last)) << "a step of " << now - last;
            }
            last = now;
        }
        EXPECT_EQ(std::abs(last), 2000) << "the delay did not stop at a limit";
        EXPECT_EQ(last, Access::SoundDelay(dlg.dialog()));
        EXPECT_GE(steps, 200);
    }
    const int kept = delay();
    ASSERT_TRUE(dlg.Close());
    const std::optional<std::string> ini = DialogThread::ReadSettings();
    ASSERT_TRUE(ini);
    EXPECT_NE(std::string::npos, ini->find("Volume=25")) << *ini;
    EXPECT_NE(std::string::npos, ini->find("SoundDelay=" + std::to_string(kept))) << *ini;
    EXPECT_TRUE(boxes.Texts().empty());
}

// The save button: a clip recorded at 30 fps and saved after the capture format changed to 15 keeps
// 30 fps in the file (every frame a key frame, byte-equal to the clip, the whole sound), and plays
// at 30 too; a clip without a sound block gives a video-only file; a cancelled file dialog leaves
// the disk as it was. Nothing is told after a save that went as asked.
TEST(DialogSaveTest, TheSaveButtonWritesTheSelectedClipAtItsOwnRate) {
    win::ComScope com;
    const CListedTestCamera mixed(0, L"Zarvex Mixed Camera", L"Zarvex Mixed", TESTCAM_CAPABILITIES_MIXED);
    ASSERT_EQ(S_OK, mixed.Result());
    MessageBoxRecorder boxes;
    // 640x480 at 30 frames a second first.
    DialogThread dlg(Settings("VideoDevice=Zarvex Mixed Camera\r\nVideoFormat=0\r\n"));
    ASSERT_TRUE(dlg.window());
    ASSERT_EQ(30, Access::FrameRate(dlg.dialog()));
    const int frames = 30;
    const CFrameArray* withSound = AddClip(dlg, frames, 30, false, true);
    const CFrameArray* withoutSound = AddClip(dlg, 8, 30, false, false);
    ASSERT_TRUE(withSound && withoutSound);
    // "320x240x24 15f RGB ", chosen as a user does.
    SendMessageW(dlg.item(IDC_VIDEO_FORMAT), CB_SETCURSEL, 1, 0);
    SendMessageW(dlg.window(), WM_COMMAND, MAKEWPARAM(IDC_VIDEO_FORMAT, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(dlg.item(IDC_VIDEO_FORMAT)));
    ASSERT_EQ(15, Access::FrameRate(dlg.dialog()));

    avi_test::AviFolder folder;
    ASSERT_TRUE(folder.ok());
    const DWORD dialogThread = GetWindowThreadProcessId(dlg.window(), nullptr);
    // Selects item index, presses the save button and answers the dialogs; true once the dialog
    // thread is back from the save.
    const auto save = [&](int index, std::vector<ModalDialogHelper::Action> answers) {
        Probe(L"select Zarvex 1000 " + std::to_wstring(index));
        const int dialogs = static_cast<int>(answers.size());
        ModalDialogHelper helper(std::move(answers), dialogThread, dlg.window());
        PostMessageW(dlg.item(IDC_SAVE), BM_CLICK, 0, 0);
        // Answered, and the dialog given back by the last of its modal dialogs: from here on the
        // dialog thread writes the file without running messages, so a task posted now runs after.
        const bool answered =
            WaitUntil([&] { return helper.Answered() == dialogs; }, 20000, kPollMs) &&
            WaitUntil([&] { return IsWindowEnabled(dlg.window()) != FALSE; }, 20000, kPollMs);
        const bool back = answered && dlg.Run([](CZarvexDlg&) {});
        helper.Join();
        EXPECT_TRUE(helper.Unexpected().empty());
        return back;
    };
    const auto inSaveAs = [](ModalDialogHelper::Action act) {
        return ModalDialogHelper::InDialogTitled("Save As", std::move(act));
    };
    const auto chooserOk = ModalDialogHelper::InDialogTitled(ModalDialogHelper::kChooserTitle,
                                                             ModalDialogHelper::PressButton(IDOK));

    ASSERT_TRUE(save(0, {inSaveAs(ModalDialogHelper::SaveAs(folder.Path("thirty"))), chooserOk}));
    const avi_test::AviFile file = avi_test::ReadAvi(folder.Path("thirty.avi"));
    ASSERT_EQ(S_OK, file.hrOpen);
    EXPECT_EQ(2u, file.streamCount);
    avi_test::ExpectVideo(file, *withSound, 30);
    avi_test::ExpectSound(file, ClipSound());

    ASSERT_TRUE(save(1, {inSaveAs(ModalDialogHelper::SaveAs(folder.Path("silent.avi"))), chooserOk}));
    const avi_test::AviFile silent = avi_test::ReadAvi(folder.Path("silent.avi"));
    ASSERT_EQ(S_OK, silent.hrOpen);
    EXPECT_EQ(1u, silent.streamCount);
    avi_test::ExpectVideo(silent, *withoutSound, 30);

    const std::vector<std::string> before = folder.Listing();
    ASSERT_TRUE(save(0, {inSaveAs(ModalDialogHelper::PressButton(IDCANCEL))}));
    EXPECT_EQ(before, folder.Listing());
    EXPECT_TRUE(boxes.Texts().empty());

    // Played now, the clip keeps its 30 frames a second: a second after the start it is near
    // frame 30, not 15.
    Probe(L"select Zarvex 1000 0");
    Click(dlg, IDC_PLAY);
    ASSERT_TRUE(IsPlaying(dlg));
    Sleep(800);
    const int at = Access::Player(dlg.dialog()).GetPosition().nFrame;
    EXPECT_GT(at, 17) << "the clip plays at the new format's rate";
    EXPECT_LT(at, 32);
    ASSERT_TRUE(WaitUntil([&] { return !IsPlaying(dlg); }, 10000, kPollMs));
}

} // namespace

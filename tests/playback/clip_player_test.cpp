// CClipPlayer in this process: every frame it shows is recorded with the time and the playback's
// position, and decoded back to the clip frame and its darkening (clip_pattern.h), so the tests
// follow a playback tick by tick. The position slider is a real trackbar and the end message
// arrives in this thread's queue, as they would in the dialog. Pacing is real: the bench's sound
// output, the tick timer, or an in-memory DirectSound for the failures Wine never produces.
// The same playbacks seen from another process through the frame channel are in tests/system;
// what the sound output plays of them is in sound_loopback_test.cpp.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "ClipPlayer.h"
#include "ComScope.h"
#include "FakeDirectSound.h"
#include "FrameStore.h"
#include "SoundBlock.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "SoundTestUtil.h"
#include "afx_app.h"
#include "clip_pattern.h"

namespace {

using cliptest::CFadeDecoder;
using cliptest::kBlack;
using cliptest::MakeClip;
using cliptest::Seen;
using soundtest::NowMs;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr UINT kEndMessage = WM_APP + 13;
constexpr LONGLONG kBlock = kSoundBlockBytes;

std::unique_ptr<SoundBlock> MakeSound(int blocks, BYTE value) {
    auto sound = std::make_unique<SoundBlock>();
    sound->SetSize(blocks * static_cast<int>(kBlock));
    std::fill(sound->GetData(), sound->GetData() + sound->GetSize(), value);
    return sound;
}

// What a playback from frame `first` of a clip of `count` shows, one entry a tick, when each frame
// stays `ticks` ticks: the first 50 darkened by 100 %, 98 %, ... 2 %, the last frame black, and
// the end when the frame index reaches the count.
std::vector<Seen> PlaySchedule(int first, int count, int ticks) {
    std::vector<Seen> shown;
    for (int j = 1;; ++j) {
        const int frame = first + j / ticks;
        if (frame >= count)
            break;
        Seen seen;
        seen.percent = j <= 50 ? 100 - 2 * (j - 1) : 0;
        seen.frame = frame == count - 1 || seen.percent == 100 ? kBlack : frame;
        if (seen.frame == kBlack)
            seen.percent = 100;
        shown.push_back(seen);
    }
    return shown;
}

// The fade-out: frame `frame` darkened by 0 %, 1 %, ... 99 %.
std::vector<Seen> FadeOut(int frame) {
    std::vector<Seen> shown;
    for (int i = 0; i < 100; ++i) {
        Seen seen;
        seen.frame = frame;
        seen.percent = frame == kBlack ? 100 : i;
        shown.push_back(seen);
    }
    return shown;
}

std::vector<Seen> Concat(std::vector<Seen> a, const std::vector<Seen>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ClipPlayerTest : public testing::Test {
protected:
    struct Shown {
        double ms;
        Seen seen;
        CClipPlayer::Position position;
    };

    void SetUp() override {
        ASSERT_TRUE(m_decoder.Ready())
            << "the fade levels cannot be told apart at " << kWidth << " x " << kHeight;
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&icc));
        m_window = CreateWindowExW(0, L"STATIC", L"player test", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, m_window) << "no window; the bench has a display";
        m_slider = CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD, 0, 0, 200, 30, m_window, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, m_slider);
        SendMessageW(m_slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 10000));
    }

    void TearDown() override {
        m_player.reset();
        if (m_window)
            DestroyWindow(m_window);
    }

    void MakePlayer(CSoundPlayer* output) {
        m_player.reset();
        m_player = std::make_unique<CClipPlayer>(output, [this](const CFrameImage& image) { Record(image); });
        m_self = m_player.get();
        m_player->SetWindows(m_window, kEndMessage, m_slider);
    }

    // The publish function: runs on the playback thread.
    void Record(const CFrameImage& image) {
        if (m_throwAt >= 0 && ShownCount() == static_cast<size_t>(m_throwAt))
            throw std::runtime_error("the publish function failed");
        const Shown shown = {NowMs(), m_decoder.Decode(image.GetBits()), m_self->GetPosition()};
        std::lock_guard<std::mutex> hold(m_mutex);
        m_shown.push_back(shown);
    }

    size_t ShownCount() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_shown.size();
    }
    std::vector<Shown> TakeShown() {
        std::lock_guard<std::mutex> hold(m_mutex);
        std::vector<Shown> shown;
        shown.swap(m_shown);
        return shown;
    }
    Shown LastShown() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_shown.empty() ? Shown{} : m_shown.back();
    }
    static std::vector<Seen> SeenOf(const std::vector<Shown>& shown, size_t from = 0, size_t to = SIZE_MAX) {
        std::vector<Seen> seen;
        for (size_t i = from; i < std::min(to, shown.size()); ++i)
            seen.push_back(shown[i].seen);
        return seen;
    }

    // Runs this thread's messages (the slider's positions, the end message) until done() or the
    // time is up; false then.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
        const double end = NowMs() + timeoutMs;
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == kEndMessage && msg.hwnd == m_window)
                    ++m_ends;
                DispatchMessageW(&msg);
            }
            if (done())
                return true;
            if (NowMs() > end)
                return false;
            Sleep(2);
        }
    }
    void Pump(DWORD ms) {
        PumpUntil([] { return false; }, ms);
    }
    // Waits for the end message, then for the thread.
    bool WaitForEndMessage(DWORD timeoutMs = 30000) {
        const int ends = m_ends;
        return PumpUntil([&] { return m_ends > ends; }, timeoutMs) && m_player->WaitForEnd(5000);
    }
    int SliderPosition() const { return static_cast<int>(SendMessageW(m_slider, TBM_GETPOS, 0, 0)); }

    CFadeDecoder m_decoder{kWidth, kHeight};
    HWND m_window = nullptr;
    HWND m_slider = nullptr;
    int m_ends = 0;
    int m_throwAt = -1;
    std::mutex m_mutex;
    std::vector<Shown> m_shown;
    CClipPlayer* m_self = nullptr;
    std::unique_ptr<CClipPlayer> m_player;
};

// The pace is the same whichever clock drives it: the sound output's block ends, or the tick timer
// for a clip without sound and for a program without a sound output. Each playback ends, is no
// longer marked as playing, and tells the dialog.
TEST_F(ClipPlayerTest, ShowsEachFrameForTwoTicksSixtyTimesASecondWithBothFades) {
    win::ComScope com;
    CDirectSoundDevice device;
    CSoundPlayer output;
    ASSERT_TRUE(CreateSoundOutput(m_window, 100, device, output))
        << "no sound output on the bench; its PulseAudio null sink should be the default device";
    ASSERT_TRUE(output.HasNotifications());
    CSoundPlayer withoutBuffer;

    struct Case {
        const char* name;
        CSoundPlayer* output;
        bool withSound;
    } cases[] = {{"paced by the sound output", &output, true},
                 {"a clip without sound", &output, false},
                 {"a sound output without a buffer", &withoutBuffer, true},
                 {"no sound output at all", nullptr, true}};
    const int frames = 40;
    const auto clip = MakeClip(frames, kWidth, kHeight, 30);
    const auto sound = MakeSound(200, 0); // longer than the picture: the frames run out first
    const std::vector<Seen> expected = Concat(PlaySchedule(0, frames, 2), FadeOut(frames - 2));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakePlayer(c.output);
        TakeShown();
        ASSERT_TRUE(m_player->Start(clip.get(), c.withSound ? sound.get() : nullptr, 0));
        EXPECT_TRUE(m_player->IsPlaying());
        EXPECT_EQ(clip.get(), m_player->GetPlayingClip());
        const int ends = m_ends;
        ASSERT_TRUE(WaitForEndMessage()) << "the playback did not end";
        EXPECT_FALSE(m_player->IsPlaying()) << "still marked as playing after its end";
        EXPECT_EQ(ends + 1, m_ends);

        const std::vector<Shown> shown = TakeShown();
        ASSERT_EQ(expected.size(), shown.size());
        for (size_t i = 0; i < shown.size(); ++i)
            ASSERT_EQ(expected[i], shown[i].seen)
                << "display " << i << ": " << shown[i].seen.Text() << " instead of " << expected[i].Text();
        // 78 tick intervals between the first and the last play display, nominally 1.3 s.
        const size_t plays = expected.size() - 100;
        const double rate = (plays - 1) * 1000.0 / (shown[plays - 1].ms - shown[0].ms);
        EXPECT_GT(rate, 40.0) << "displays a second";
        EXPECT_LT(rate, 80.0) << "displays a second";
        const double fadeOut = shown.back().ms - shown[plays].ms;
        EXPECT_GE(fadeOut, 99 * 10.0 - 5.0) << "the fade-out steps are not 10 ms apart";
        EXPECT_LT(fadeOut, 5000.0);
        if (c.withSound) {
            EXPECT_EQ(kBlock * static_cast<LONGLONG>(plays), shown[plays - 1].position.llReadOffset)
                << "one block a tick";
        }
        Pump(50);
        EXPECT_EQ((frames - 1) * 10000 / frames, SliderPosition()) << "the slider shows the last frame shown";
    }
}

// A clip plays at its own rate: one cut from a 30-fps ring keeps 30 fps after the ring was rebuilt
// for a 15-fps format, and the clip cut then plays at 15. Rates the formula cannot take (0, above
// 60) still play.
TEST_F(ClipPlayerTest, PlaysAClipAtTheRateItWasRecordedAt) {
    // Ring frames carry the pattern of clip frames: a store of the same size copies them exactly.
    const auto source = MakeClip(30, kWidth, kHeight, 0);
    BITMAPINFOHEADER header = source->GetAt(0)->GetHeader()->bmiHeader;
    const RECT whole = {0, 0, kWidth, kHeight};
    CFrameStore store;
    auto cutAt = [&](int fps) {
        auto clip = std::make_unique<CFrameArray>();
        if (!store.Allocate(kWidth, kHeight, 1, 0, fps))
            return clip;
        store.ArmStop();
        for (int k = 0; k < fps; ++k)
            store.StoreFrame(source->GetAt(k)->GetBits(), source->GetAt(k)->GetImageSize(), &header, whole,
                             whole);
        store.CutInto(clip.get());
        return clip;
    };
    const auto thirty = cutAt(30);
    ASSERT_EQ(30, thirty->GetSize());
    const auto fifteen = cutAt(15); // the format changed: the ring now runs at 15 fps
    ASSERT_EQ(15, fifteen->GetSize());

    struct Case {
        const char* name;
        std::unique_ptr<CFrameArray> made;
        const CFrameArray* clip;
        int ticks;
    } cases[] = {{"cut at 30 fps, played after the change to 15", nullptr, thirty.get(), 2},
                 {"cut at 15 fps", nullptr, fifteen.get(), 4},
                 {"25 fps", MakeClip(12, kWidth, kHeight, 25), nullptr, 2},
                 {"an unknown rate: the default 30", MakeClip(12, kWidth, kHeight, 0), nullptr, 2},
                 {"120 fps: one frame a tick", MakeClip(12, kWidth, kHeight, 120), nullptr, 1}};
    MakePlayer(nullptr);
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CFrameArray* clip = c.clip ? c.clip : c.made.get();
        ASSERT_NE(nullptr, clip);
        TakeShown();
        ASSERT_TRUE(m_player->Start(clip, nullptr, 0));
        ASSERT_TRUE(WaitForEndMessage());
        const std::vector<Shown> shown = TakeShown();
        ASSERT_EQ(clip->GetSize() * c.ticks - 1 + 100u, shown.size());
        // Each frame is shown for the clip's ticks, counted from the display positions (the
        // first frame loses the tick the clock starts on).
        std::vector<int> ticksOf(clip->GetSize(), 0);
        for (size_t i = 0; i + 100 < shown.size(); ++i)
            ++ticksOf[shown[i].position.nFrame];
        for (int k = 1; k < clip->GetSize(); ++k)
            EXPECT_EQ(c.ticks, ticksOf[k]) << "frame " << k;
        EXPECT_EQ(c.ticks - 1, ticksOf[0]);
    }
}

TEST_F(ClipPlayerTest, ClipsOfFewerThanTwoFramesPlayAndNothingStartsWithoutAFrame) {
    const auto one = MakeClip(1, kWidth, kHeight, 30);
    const auto two = MakeClip(2, kWidth, kHeight, 30);
    CFrameArray none;
    CFrameArray unmade;
    CFrameImage::SetImageLimitForTesting(CFrameImage::GetLiveImageCount());
    unmade.Add(new CFrameImage(kWidth, kHeight, 24));
    CFrameImage::SetImageLimitForTesting(0);
    ASSERT_FALSE(unmade.GetAt(0)->HasPixels());

    MakePlayer(nullptr);
    struct Refused {
        const char* name;
        const CFrameArray* clip;
    } refused[] = {
        {"no clip", nullptr}, {"a clip of no frames", &none}, {"a first frame without pixels", &unmade}};
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(m_player->Start(c.clip, nullptr, 0));
        EXPECT_FALSE(m_player->IsPlaying());
    }
    Pump(100);
    EXPECT_EQ(0u, ShownCount());
    EXPECT_EQ(0, m_ends);

    struct Played {
        const char* name;
        const CFrameArray* clip;
        std::vector<Seen> expected;
    } played[] = {
        // The only frame is the black last one; the fade-out starts from it.
        {"one frame", one.get(), Concat(PlaySchedule(0, 1, 2), FadeOut(kBlack))},
        {"two frames", two.get(), Concat(PlaySchedule(0, 2, 2), FadeOut(0))},
    };
    for (const Played& c : played) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(m_player->Start(c.clip, nullptr, 0));
        ASSERT_TRUE(WaitForEndMessage());
        EXPECT_FALSE(m_player->IsPlaying());
        EXPECT_EQ(c.expected, SeenOf(TakeShown()));
    }
}

// Two playbacks never run at once: a start while one runs is ignored.
TEST_F(ClipPlayerTest, AStartWhileAClipPlaysIsIgnored) {
    const auto first = MakeClip(30, kWidth, kHeight, 30);
    const auto other = MakeClip(30, kWidth, kHeight, 30, true);
    MakePlayer(nullptr);
    ASSERT_TRUE(m_player->Start(first.get(), nullptr, 0));
    ASSERT_TRUE(PumpUntil([&] { return ShownCount() >= 5; }, 10000));
    EXPECT_FALSE(m_player->Start(other.get(), nullptr, 0));
    EXPECT_FALSE(m_player->Start(first.get(), nullptr, 0));
    EXPECT_EQ(first.get(), m_player->GetPlayingClip());
    ASSERT_TRUE(WaitForEndMessage());
    std::vector<Shown> shown = TakeShown();
    EXPECT_EQ(Concat(PlaySchedule(0, 30, 2), FadeOut(28)), SeenOf(shown))
        << "the first playback was disturbed";

    // Once it has ended, the next start plays.
    ASSERT_TRUE(m_player->Start(other.get(), nullptr, 0));
    ASSERT_TRUE(WaitForEndMessage());
    shown = TakeShown();
    ASSERT_EQ(59u + 100u, shown.size());
    for (const Shown& s : shown)
        if (s.seen.frame != kBlack) {
            ASSERT_TRUE(s.seen.other) << "a frame of the first clip in the second playback";
        }
    EXPECT_EQ(2, m_ends) << "one end message each";
}

// Pause stops the sound output and the pictures; releasing it starts both again; stop while paused
// ends at once with the fade-out. A pause released after the end leaves the buffer stopped. The
// buffer is silenced before the playback starts.
TEST_F(ClipPlayerTest, PauseStopsAndRestartsTheSoundAndStopWhilePausedEndsAtOnce) {
    using soundtest::CFakeDirectSound;
    CFakeDirectSound* device = new CFakeDirectSound;
    device->m_bBuffersWithNotify = false; // block ends never come: the timer paces
    {
        CSoundPlayer output;
        ASSERT_TRUE(
            output.Create(device, kSoundSampleRate, kSoundBlockBytes, kSoundBlockCount, kSoundBufferFlags));
        soundtest::CFakeSoundBuffer* buffer = device->m_pLastBuffer;
        std::fill(buffer->m_bytes.begin(), buffer->m_bytes.end(), BYTE{0x55}); // the previous clip
        const auto clip = MakeClip(90, kWidth, kHeight, 30);
        const auto sound = MakeSound(400, 0x11);
        MakePlayer(&output);

        ASSERT_TRUE(m_player->Start(clip.get(), sound.get(), 0));
        ASSERT_TRUE(PumpUntil([&] { return ShownCount() >= 20; }, 10000));
        EXPECT_TRUE(buffer->m_bPlaying);
        EXPECT_EQ(static_cast<DWORD>(DSBPLAY_LOOPING), buffer->m_dwPlayFlags);

        m_player->Pause(TRUE);
        EXPECT_FALSE(buffer->m_bPlaying) << "the pause did not stop the sound output";
        Pump(50); // a display under way when the pause came
        const size_t paused = ShownCount();
        const int frame = m_player->GetPosition().nFrame;
        Pump(300);
        EXPECT_EQ(paused, ShownCount()) << "frames shown while paused";
        EXPECT_EQ(frame, m_player->GetPosition().nFrame);

        m_player->Pause(FALSE);
        EXPECT_TRUE(buffer->m_bPlaying) << "releasing the pause did not start the sound output";
        ASSERT_TRUE(PumpUntil([&] { return ShownCount() >= paused + 10; }, 10000))
            << "the playback stayed paused";

        m_player->Pause(TRUE);
        Pump(50);
        const size_t beforeStop = ShownCount();
        const double stopped = NowMs();
        m_player->SetPlayFlag(CClipPlayer::PlayStop, TRUE);
        ASSERT_TRUE(PumpUntil([&] { return ShownCount() > beforeStop; }, 5000));
        EXPECT_LT(NowMs() - stopped, 1000.0) << "the stop waited for something";
        ASSERT_TRUE(WaitForEndMessage());
        const std::vector<Shown> shown = TakeShown();
        ASSERT_EQ(beforeStop + 100, shown.size());
        EXPECT_EQ(FadeOut(88), SeenOf(shown, beforeStop))
            << "the fade-out starts from the next-to-last frame";
        EXPECT_FALSE(buffer->m_bPlaying);

        m_player->Pause(FALSE); // the button released after the end
        EXPECT_FALSE(buffer->m_bPlaying) << "the buffer loops on after the playback";
        EXPECT_EQ(buffer->m_bytes.end(),
                  std::find(buffer->m_bytes.begin(), buffer->m_bytes.end(), BYTE{0x55}))
            << "the previous clip's sound was left in the buffer";
        m_player.reset();
    }
    EXPECT_EQ(0u, device->ForgetLastBuffer());
    EXPECT_EQ(0u, device->Release());
}

// While paused: a step forward shows the next frame and shortens the sound by a block, a step back
// right after gives the block back, and a step back alone leaves the sound as it is. Steps never
// move the read position.
TEST_F(ClipPlayerTest, StepForwardThenBackMovesOneFrameAndOneBlock) {
    CSoundPlayer withoutBuffer;
    const int frames = 120;
    const auto clip = MakeClip(frames, kWidth, kHeight, 30);
    const auto sound = MakeSound(300, 0);
    MakePlayer(&withoutBuffer);
    ASSERT_TRUE(m_player->Start(clip.get(), sound.get(), 0));
    ASSERT_TRUE(PumpUntil([&] { return ShownCount() >= 60; }, 10000)) << "past the fade-in";
    m_player->Pause(TRUE);
    Pump(100);
    const CClipPlayer::Position at = m_player->GetPosition();
    ASSERT_GT(at.nFrame, 1);
    EXPECT_EQ(static_cast<LONGLONG>(sound->GetSize()) - at.llReadOffset, at.llRemaining);

    struct Step {
        const char* name;
        UINT command;
        int frame;
        LONGLONG remaining;
    } steps[] = {{"step forward", CClipPlayer::PlayStepForward, at.nFrame + 1, at.llRemaining - kBlock},
                 {"step back right after", CClipPlayer::PlayStepBack, at.nFrame, at.llRemaining},
                 {"a step back alone", CClipPlayer::PlayStepBack, at.nFrame - 1, at.llRemaining}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const size_t before = ShownCount();
        m_player->SetPlayFlag(s.command, TRUE);
        ASSERT_TRUE(PumpUntil([&] { return ShownCount() > before; }, 5000)) << "the step was not shown";
        Pump(100);
        EXPECT_EQ(before + 1, ShownCount()) << "one display a step";
        const Shown last = LastShown();
        EXPECT_EQ(s.frame, last.seen.frame);
        EXPECT_EQ(0, last.seen.percent);
        EXPECT_EQ(s.frame, last.position.nFrame);
        EXPECT_EQ(at.llReadOffset, last.position.llReadOffset) << "a step moved the read position";
        EXPECT_EQ(s.remaining, last.position.llRemaining);
        EXPECT_EQ(static_cast<UINT>(CClipPlayer::PlayPause), m_player->GetPlayFlags())
            << "the step bit stays";
        EXPECT_EQ(s.frame * 10000 / frames, SliderPosition());
    }
    m_player->SetPlayFlag(CClipPlayer::PlayStop, TRUE);
    ASSERT_TRUE(WaitForEndMessage());
}

// A drag of the position slider shows the frame at the thumb, paced like play (not as fast as the
// loop can go); at the right end that is the black last frame, and the release plays on from
// there, which ends the clip.
TEST_F(ClipPlayerTest, SeekingToTheEndShowsTheLastFrameAndTheReleaseEndsTheClip) {
    const int frames = 60;
    const auto clip = MakeClip(frames, kWidth, kHeight, 30);
    MakePlayer(nullptr);
    ASSERT_TRUE(m_player->Start(clip.get(), nullptr, 0));
    ASSERT_TRUE(PumpUntil([&] { return ShownCount() >= 55; }, 10000));

    m_player->Seek(5000, TRUE);
    Pump(200);
    EXPECT_EQ(30, LastShown().seen.frame);
    EXPECT_EQ(5000, SliderPosition());

    m_player->Seek(10000, TRUE);
    Pump(100);
    const size_t before = ShownCount();
    Pump(500);
    const size_t during = ShownCount() - before;
    EXPECT_GE(during, 10u) << "a drag is shown on every pass";
    EXPECT_LE(during, 60u) << "the drag was shown faster than 60 a second";
    EXPECT_EQ(kBlack, LastShown().seen.frame);
    EXPECT_EQ(frames - 1, LastShown().position.nFrame);
    EXPECT_EQ((frames - 1) * 10000 / frames, SliderPosition());

    const size_t released = ShownCount();
    m_player->Seek(10000, FALSE);
    ASSERT_TRUE(WaitForEndMessage(5000)) << "the clip did not end after the release";
    const std::vector<Shown> shown = TakeShown();
    EXPECT_EQ(FadeOut(frames - 2), SeenOf(shown, shown.size() - 100));
    EXPECT_LE(shown.size() - released, 102u) << "at most the displays under way, then the fade-out";
}

// +d skips the first d ms of sound (in 176640 bytes a second, whole sample frames), -d the first d
// ms of picture; a skip past the end of the sound ends the playback at its first tick.
TEST_F(ClipPlayerTest, TheDelayMovesSoundAndPictureAgainstEachOther) {
    CSoundPlayer withoutBuffer;
    const auto clip = MakeClip(60, kWidth, kHeight, 30);
    const auto sound = MakeSound(300, 0);
    const auto shortSound = MakeSound(10, 0);
    struct Case {
        const char* name;
        const SoundBlock* sound;
        int delay;
        LONGLONG skipped;
        int firstFrame;
    } cases[] = {{"+500 ms", sound.get(), 500, 88320, 0},
                 {"+30 ms", sound.get(), 30, 5296, 0},
                 {"+10 ms", sound.get(), 10, 1764, 0},
                 {"-500 ms at 30 fps", sound.get(), -500, 0, 15},
                 {"-10 ms", sound.get(), -10, 0, 0},
                 {"-2000 ms beyond the last frame", sound.get(), -2000, 0, 59}};
    MakePlayer(&withoutBuffer);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeShown();
        ASSERT_TRUE(m_player->Start(clip.get(), c.sound, c.delay));
        ASSERT_TRUE(PumpUntil([&] { return ShownCount() >= 2 || !m_player->IsPlaying(); }, 5000));
        m_player->SetPlayFlag(CClipPlayer::PlayStop, TRUE);
        ASSERT_TRUE(WaitForEndMessage());
        const std::vector<Shown> shown = TakeShown();
        ASSERT_GE(shown.size(), 100u + 1);
        // The first display comes after the first tick, which played the block at the start.
        const CClipPlayer::Position& first = shown[0].position;
        EXPECT_EQ(c.skipped + kBlock, first.llReadOffset);
        EXPECT_EQ(sound->GetSize() - c.skipped - kBlock, first.llRemaining);
        EXPECT_EQ(c.firstFrame, first.nFrame);
    }

    TakeShown();
    ASSERT_TRUE(m_player->Start(clip.get(), shortSound.get(), 2000));
    ASSERT_TRUE(WaitForEndMessage());
    EXPECT_EQ(FadeOut(58), SeenOf(TakeShown())) << "no display before the fade-out";
}

TEST(ClipPlayerRules, TicksSkipAndFirstFrame) {
    struct Ticks {
        int rate, ticks;
    } ticks[] = {{30, 2}, {15, 4}, {25, 2}, {60, 1}, {61, 1}, {120, 1}, {1, 60}, {0, 2}, {-5, 2}};
    for (const Ticks& c : ticks)
        EXPECT_EQ(c.ticks, TicksPerFrame(c.rate)) << c.rate << " fps";

    struct Skip {
        int delay;
        LONGLONG bytes;
    } skips[] = {{500, 88320}, {30, 5296}, {10, 1764}, {1, 176}, {2000, 353280}, {0, 0}, {-500, 0}};
    for (const Skip& c : skips)
        EXPECT_EQ(c.bytes, SoundSkipBytes(c.delay)) << c.delay << " ms";

    struct First {
        int delay, rate, count, frame;
    } firsts[] = {{-500, 30, 300, 15}, {-500, 15, 300, 7}, {-2000, 30, 50, 49}, {-10, 30, 300, 0},
                  {500, 30, 300, 0},   {-500, 0, 300, 15}, {-500, 30, 0, 0},    {INT_MIN, 30, 300, 299}};
    for (const First& c : firsts)
        EXPECT_EQ(c.frame, FirstFrameForDelay(c.delay, c.rate, c.count))
            << c.delay << " ms at " << c.rate << " fps, " << c.count << " frames";
}

// A buffer that does not start (lost, and restored) gives no block ends; the playback keeps its
// pace on the timer instead of waiting out 500 ms a tick.
TEST_F(ClipPlayerTest, ABufferThatFailsToStartIsRestoredAndThePlaybackKeepsItsPace) {
    using soundtest::CFakeDirectSound;
    CFakeDirectSound* device = new CFakeDirectSound; // with notifications, which never come
    {
        CSoundPlayer output;
        ASSERT_TRUE(
            output.Create(device, kSoundSampleRate, kSoundBlockBytes, kSoundBlockCount, kSoundBufferFlags));
        ASSERT_TRUE(output.HasNotifications());
        soundtest::CFakeSoundBuffer* buffer = device->m_pLastBuffer;
        buffer->m_hrPlay = DSERR_BUFFERLOST;
        const auto clip = MakeClip(30, kWidth, kHeight, 30);
        const auto sound = MakeSound(100, 0x11);
        MakePlayer(&output);
        const double start = NowMs();
        ASSERT_TRUE(m_player->Start(clip.get(), sound.get(), 0));
        ASSERT_TRUE(WaitForEndMessage());
        // 59 ticks and the fade-out: about 2 s; at 500 ms a tick it would be half a minute.
        EXPECT_LT(NowMs() - start, 10000.0);
        EXPECT_EQ(59u + 100u, TakeShown().size());
        EXPECT_GE(buffer->m_nRestores, 1) << "the failed start was not followed by a restore";
        EXPECT_FALSE(buffer->m_bPlaying);
        m_player.reset();
    }
    EXPECT_EQ(0u, device->ForgetLastBuffer());
    EXPECT_EQ(0u, device->Release());
}

// Destroying the player ends a running playback (without its fade-out) and waits for its thread,
// so the clip can be freed right after.
TEST_F(ClipPlayerTest, DestructionStopsAPlaybackAndJoinsItsThread) {
    auto clip = MakeClip(300, kWidth, kHeight, 30); // ten seconds
    MakePlayer(nullptr);
    ASSERT_TRUE(m_player->Start(clip.get(), nullptr, 0));
    ASSERT_TRUE(PumpUntil([&] { return ShownCount() >= 5; }, 10000));
    const double start = NowMs();
    m_player.reset();
    EXPECT_LT(NowMs() - start, 5000.0) << "destruction waited for the clip or its fade-out";
    const size_t shown = ShownCount();
    clip.reset();
    Sleep(100);
    EXPECT_EQ(shown, ShownCount()) << "frames shown after the player was destroyed";
    EXPECT_LT(shown, 100u) << "the fade-out ran during destruction";
}

// A publish function that throws ends the playback like any end: not left marked as playing,
// and the dialog is told.
TEST_F(ClipPlayerTest, APlaybackThatFailsIsNotLeftMarkedAsPlaying) {
    std::vector<std::wstring> reports;
    AfxSetMessageBoxSink([&](const std::wstring& text, UINT) {
        reports.push_back(text);
        return IDOK;
    });
    const auto clip = MakeClip(30, kWidth, kHeight, 30);
    MakePlayer(nullptr);
    m_throwAt = 10;
    ASSERT_TRUE(m_player->Start(clip.get(), nullptr, 0));
    EXPECT_TRUE(WaitForEndMessage());
    EXPECT_FALSE(m_player->IsPlaying());
    AfxSetMessageBoxSink(nullptr);
    EXPECT_EQ(1u, reports.size()) << "the failure is reported once";
}

} // namespace

// The clip maker on its own thread, with a ring of small numbered frames and a sound source that
// stands in for the sound capture (one whose thread ends late or never included).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "ClipMaker.h"
#include "TestFrames.h"
#include "UniqueAny.h"

namespace {

constexpr int kWidth = 160, kHeight = 120, kFps = 10, kPre = 1, kPost = 1;
constexpr int kSlots = kFps * (kPre + kPost);
constexpr DWORD kRingBytes = 4000;

// What happened, in order, across the worker and the test's callbacks.
class Events {
public:
    void Add(const std::string& what) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_events.push_back(what);
    }
    std::vector<std::string> Get() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_events;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(m_lock);
        m_events.clear();
    }
    bool Has(const std::string& what) const {
        const auto all = Get();
        return std::find(all.begin(), all.end(), what) != all.end();
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_events;
};

class FakeClipSound final : public IClipSound {
public:
    explicit FakeClipSound(Events& events) : m_events(events), m_ring(kRingBytes) {
        for (DWORD i = 0; i < kRingBytes; ++i)
            m_ring[i] = static_cast<BYTE>(i * 7 + 3);
    }

    bool m_bEnds = true; // false: a thread that never ends
    DWORD m_dwWritePos = 1234;
    mutable std::atomic<DWORD> m_dwLongestWait{0};
    mutable std::atomic<DWORD> m_dwTotalWait{0};

    BOOL WaitForEnd(DWORD timeoutMs) const override {
        m_dwLongestWait = std::max(m_dwLongestWait.load(), timeoutMs);
        if (m_bEnds) {
            m_events.Add("wait");
            return TRUE;
        }
        Sleep(timeoutMs);
        m_dwTotalWait += timeoutMs;
        return FALSE;
    }
    void TakeRingInto(SoundBlock& block) const override {
        m_events.Add("take");
        block.TakeRing(m_ring.data(), static_cast<int>(m_ring.size()), static_cast<int>(m_dwWritePos));
    }
    DWORD GetRingSize() const override { return kRingBytes; }
    int GetPost() const override { return kPost; }
    BOOL Start() override {
        m_events.Add("start");
        return TRUE;
    }

    std::vector<BYTE> Rotated() const {
        std::vector<BYTE> out(m_ring.begin() + m_dwWritePos, m_ring.end());
        out.insert(out.end(), m_ring.begin(), m_ring.begin() + m_dwWritePos);
        return out;
    }

private:
    Events& m_events;
    std::vector<BYTE> m_ring;
};

// A caption font small enough to stay clear of the numbered blocks of a 160 x 120 frame.
LOGFONTA SmallCaptionFont() {
    LOGFONTA font = {};
    lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
    font.lfHeight = -12;
    font.lfWeight = FW_BOLD;
    font.lfItalic = TRUE;
    return font;
}

class ClipMakerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_ring.Allocate(kWidth, kHeight, kPre, kPost, kFps));
        // A whole ring and a half of frames 1..25, then the press and the post frames 26..35.
        const RECT rc = {0, 0, kWidth, kHeight};
        int seq = 1;
        for (; seq <= 25; ++seq)
            Store(seq, rc);
        m_ring.ArmStop();
        for (; seq <= 35; ++seq)
            ASSERT_EQ(seq == 35, Store(seq, rc) != FALSE) << "frame " << seq;
        m_ring.SetCutStepHookForTesting([this](int k) {
            if (k == 0)
                m_events.Add("cut");
        });
    }

    BOOL Store(int seq, const RECT& rc) {
        const GrabbedFrame frame = SeqFrame(kWidth, kHeight, seq);
        return m_ring.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, rc, rc);
    }

    CClipMaker::Job MakeJob() {
        CClipMaker::Job job;
        job.pRing = &m_ring;
        job.nGeneration = m_ring.GetGeneration();
        job.pSound = &m_sound;
        job.dwSoundWaitMs = 5000;
        job.lfCaption = SmallCaptionFont();
        job.strCaption = "ZELKOR";
        job.ask = [this] {
            m_events.Add("ask");
            return m_nAnswer;
        };
        job.removeOldest = [this] {
            // The dialog's handler claims the removal; a late one finds it withdrawn.
            m_events.Add(!m_bDialogClaims         ? "remove late"
                         : m_maker.ClaimRemoval() ? "remove"
                                                  : "not claimed");
        };
        job.done = [this] { SetEvent(m_done.get()); };
        return job;
    }

    // Runs one job to its end and takes its result.
    CClipMaker::Result Run(CClipMaker::Job job) {
        CClipMaker::Result result;
        EXPECT_TRUE(m_maker.Start(std::move(job)));
        EXPECT_TRUE(m_maker.IsBusy());
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_done.get(), 30000)) << "the clip maker did not finish";
        EXPECT_TRUE(m_maker.TakeResult(result));
        EXPECT_FALSE(m_maker.IsBusy());
        CClipMaker::Result again;
        EXPECT_FALSE(m_maker.TakeResult(again)) << "a result is handed over once";
        return result;
    }

    CFrameStore m_ring;
    Events m_events;
    FakeClipSound m_sound{m_events};
    int m_nAnswer = IDOK;
    bool m_bDialogClaims = true;
    win::UniqueHandle m_done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    MessageBoxRecorder m_reports;
    CClipMaker m_maker; // last: joined before the ring and the sound go
};

// The pixels the caption leaves: some pure red text, some pure white outline, near (10, 10).
void ExpectCaption(const CFrameImage& frame) {
    int red = 0, white = 0;
    for (int y = 5; y < 30; ++y)
        for (int x = 5; x < 80; ++x) {
            const COLORREF c = PixelOf(frame, x, y);
            red += c == RGB(255, 0, 0);
            white += c == RGB(255, 255, 255);
        }
    EXPECT_GT(red, 20);
    EXPECT_GT(white, 20);
    // Above and left of the outline nothing is drawn.
    EXPECT_NE(RGB(255, 0, 0), PixelOf(frame, 8, 8));
    EXPECT_NE(RGB(255, 255, 255), PixelOf(frame, 8, 8));
}

TEST_F(ClipMakerTest, MakesTheSpanCaptionedWithItsSoundAndLeavesNothingBehind) {
    const int imagesBefore = CFrameImage::GetLiveImageCount();
    const int gdiBefore = CFrameImage::GetGdiObjectCount();
    {
        CClipMaker::Result result = Run(MakeJob());
        ASSERT_TRUE(result.pClip);
        const CFrameArray& clip = *result.pClip;
        ASSERT_EQ(kSlots, clip.GetSize());
        // The press came after frame 25 and the post time was 10 frames: the ring's 19 newest
        // frames, oldest first, then a black one.
        for (int k = 0; k + 1 < kSlots; ++k) {
            SCOPED_TRACE("clip frame " + std::to_string(k));
            EXPECT_EQ(17 + k, ReadSeq(*clip.GetAt(k)));
            ExpectCaption(*clip.GetAt(k));
            EXPECT_EQ(RGB(kSeqBackground, kSeqBackground, kSeqBackground),
                      PixelOf(*clip.GetAt(k), kWidth - 2, kHeight - 2));
        }
        const CFrameImage& last = *clip.GetAt(kSlots - 1);
        EXPECT_EQ(-1, ReadSeq(last));
        EXPECT_EQ(RGB(0, 0, 0), PixelOf(last, kWidth - 2, kHeight - 2));
        ExpectCaption(last);

        ASSERT_TRUE(result.pSound);
        const std::vector<BYTE> expected = m_sound.Rotated();
        ASSERT_EQ(static_cast<int>(expected.size()), result.pSound->GetSize());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), result.pSound->GetData()));
        EXPECT_TRUE(result.bSoundRestarted);
        EXPECT_FALSE(result.bRemovedOldest);
        EXPECT_EQ((std::vector<std::string>{"cut", "wait", "take", "start"}), m_events.Get());
        EXPECT_GT(m_sound.m_dwLongestWait.load(), 0u);
        EXPECT_LE(m_sound.m_dwLongestWait.load(), 5000u) << "the sound wait is bounded";
        EXPECT_TRUE(m_reports.texts.empty());
    }
    EXPECT_EQ(imagesBefore, CFrameImage::GetLiveImageCount());
    EXPECT_EQ(gdiBefore, CFrameImage::GetGdiObjectCount());
}

TEST_F(ClipMakerTest, MemoryShortAsksAndOnlyOkRemovesTheOldestBeforeTheCut) {
    struct Case {
        const char* name;
        int answer;
        bool dialogClaims; // false: the dialog's handler came too late (a send that timed out)
        bool clip;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"OK", IDOK, true, true, {"ask", "remove", "cut", "wait", "take", "start"}},
        {"OK, removal too late", IDOK, false, true, {"ask", "remove late", "cut", "wait", "take", "start"}},
        {"Cancel", IDCANCEL, true, false, {"ask"}},
        {"closed box", 0, true, false, {"ask"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_events.Clear();
        m_nAnswer = c.answer;
        m_bDialogClaims = c.dialogClaims;
        m_maker.SetRoomTestForTesting([] { return FALSE; });
        CClipMaker::Result result = Run(MakeJob());
        EXPECT_EQ(c.clip, result.pClip != nullptr);
        EXPECT_EQ(c.clip, result.pSound != nullptr);
        EXPECT_EQ(c.clip && c.dialogClaims, result.bRemovedOldest);
        EXPECT_EQ(c.clip, result.bSoundRestarted) << "Cancel leaves the sound capture stopped";
        EXPECT_EQ(c.events, m_events.Get());
        EXPECT_FALSE(m_maker.ClaimRemoval()) << "a removal handled late does nothing";
    }
    EXPECT_TRUE(m_reports.texts.empty());
}

TEST_F(ClipMakerTest, ACutShortOfMemoryReportsMakesNoClipAndRestartsTheSound) {
    CFrameImage::SetImageLimitForTesting(CFrameImage::GetLiveImageCount() + 5);
    CClipMaker::Result result = Run(MakeJob());
    CFrameImage::SetImageLimitForTesting(0);
    EXPECT_FALSE(result.pClip);
    EXPECT_FALSE(result.pSound);
    EXPECT_TRUE(result.bSoundRestarted);
    EXPECT_EQ((std::vector<std::string>{"wait", "start"}), m_events.Get());
    EXPECT_EQ((std::vector<std::wstring>{L"Out of memory."}), m_reports.texts);
}

TEST_F(ClipMakerTest, ACaptionShortOfMemoryReportsMakesNoClipAndLeavesTheSoundStopped) {
    // The cut's images are had; the caption's two scratch pictures are not.
    CFrameImage::SetImageLimitForTesting(CFrameImage::GetLiveImageCount() + kSlots);
    CClipMaker::Result result = Run(MakeJob());
    CFrameImage::SetImageLimitForTesting(0);
    EXPECT_FALSE(result.pClip);
    EXPECT_FALSE(result.pSound);
    EXPECT_FALSE(result.bSoundRestarted);
    EXPECT_EQ((std::vector<std::string>{"cut"}), m_events.Get());
    EXPECT_EQ((std::vector<std::wstring>{L"Out of memory."}), m_reports.texts);
}

TEST_F(ClipMakerTest, ASoundThreadThatNeverEndsIsWaitedForWithinTheBoundAndGivesSilence) {
    m_sound.m_bEnds = false;
    CClipMaker::Job job = MakeJob();
    job.dwSoundWaitMs = 300;
    CClipMaker::Result result = Run(std::move(job));
    ASSERT_TRUE(result.pClip);
    ASSERT_TRUE(result.pSound);
    ASSERT_EQ(static_cast<int>(kRingBytes), result.pSound->GetSize());
    EXPECT_TRUE(std::all_of(result.pSound->GetData(), result.pSound->GetData() + kRingBytes,
                            [](BYTE b) { return b == 0; }));
    EXPECT_FALSE(result.bSoundRestarted) << "a thread still running is not started a second time";
    EXPECT_FALSE(m_events.Has("take"));
    EXPECT_FALSE(m_events.Has("start"));
    EXPECT_GE(m_sound.m_dwTotalWait.load(), 300u);
    EXPECT_LE(m_sound.m_dwTotalWait.load(), 400u);
}

TEST_F(ClipMakerTest, ARingRebuiltBeforeTheCutGivesNoClipAndNoReport) {
    CClipMaker::Job job = MakeJob();
    ASSERT_TRUE(m_ring.Allocate(kWidth, kHeight, kPre, kPost, kFps)); // a format announcement, say
    CClipMaker::Result result = Run(std::move(job));
    EXPECT_FALSE(result.pClip);
    EXPECT_FALSE(result.pSound);
    EXPECT_TRUE(result.bSoundRestarted);
    EXPECT_TRUE(m_reports.texts.empty());
}

TEST_F(ClipMakerTest, NoSoundCaptureGivesAClipWithoutSound) {
    CClipMaker::Job job = MakeJob();
    job.pSound = nullptr;
    CClipMaker::Result result = Run(std::move(job));
    ASSERT_TRUE(result.pClip);
    EXPECT_EQ(kSlots, result.pClip->GetSize());
    EXPECT_FALSE(result.pSound);
    EXPECT_FALSE(result.bSoundRestarted);
}

// Stop while the worker waits for the user's answer in a real message box, and while it waits in
// a send to the stopping thread: neither keeps the join from ending at once.
TEST_F(ClipMakerTest, StopClosesTheQuestionAndHandlesWhatTheWorkerSends) {
    AfxSetMessageBoxSink(nullptr); // the real box this time
    std::atomic<int> answer{-1};
    m_maker.SetRoomTestForTesting([] { return FALSE; });
    CClipMaker::Job job = MakeJob();
    job.ask = [&answer] {
        answer = MessageBoxW(nullptr, L"memory short?", L"clip maker test", MB_OKCANCEL);
        return answer.load();
    };
    ASSERT_TRUE(m_maker.Start(std::move(job)));
    HWND box = nullptr;
    for (int i = 0; i < 500 && !box; ++i) {
        box = FindWindowW(L"#32770", L"clip maker test");
        if (!box)
            Sleep(20);
    }
    ASSERT_TRUE(box) << "the question did not appear";
    EXPECT_TRUE(m_maker.Stop(10000));
    EXPECT_EQ(IDCANCEL, answer.load());
    EXPECT_FALSE(m_maker.IsBusy());
    EXPECT_NE(WAIT_OBJECT_0, WaitForSingleObject(m_done.get(), 0)) << "a stopped worker reports nothing";

    // The worker sends to a window of this thread with a long timeout, as the dialog's removal
    // does; Stop handles the send and the worker, told to end, makes no clip.
    struct Window {
        HWND hwnd =
            CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ~Window() { DestroyWindow(hwnd); }
    } target;
    ASSERT_TRUE(target.hwnd);
    job = MakeJob();
    job.ask = [] { return IDOK; };
    std::atomic<bool> sent{false};
    job.removeOldest = [&] {
        DWORD_PTR result = 0;
        sent = SendMessageTimeoutW(target.hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &result) != 0;
    };
    ASSERT_TRUE(m_maker.Start(std::move(job)));
    Sleep(200); // the worker is now inside its send
    // Without the send handled the worker would sit in it for 20 s, beyond Stop's 10.
    EXPECT_TRUE(m_maker.Stop(10000));
    EXPECT_TRUE(sent.load());
    EXPECT_FALSE(m_events.Has("cut"));
}

} // namespace

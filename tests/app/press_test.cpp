// The capture press in the main dialog, in-process, with the Zarvex Test Camera delivering live
// frames: the clip it makes (frames, caption, list item, sound), PreTime or EndTime 0, the memory
// question, the way out of a press that cannot complete, a rebuild during the clip, delete, live
// frames dropped while a clip plays, and twenty presses that leave nothing behind.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FrameArray.h"
#include "GdiProbe.h"
#include "SoundBlock.h"
#include "SharedMem.h"
#include "SoundCapture.h"
#include "dialog_fixture.h"
#include "resource.h"
#include "testcam_code.h"
#include "wait_until.h"

using testing_support::DialogThread;
using testing_support::MessageBoxRecorder;
using testing_support::WaitUntil;
using Access = testing_support::ZarvexDlgTestAccess;

namespace {

// The sound ring of pre + post seconds, in whole blocks of 22048 bytes.
int SoundRingBytes(int seconds) {
    return static_cast<int>(seconds * 176400u / 22048u * 22048u);
}

std::string Settings(int pre, int post) {
    return "[Settings]\r\nPreTime=" + std::to_string(pre) + "\r\nEndTime=" + std::to_string(post) + "\r\n";
}

std::wstring ItemText(const DialogThread& dlg, int id) {
    wchar_t text[64] = {};
    GetDlgItemTextW(dlg.window(), id, text, 64);
    return text;
}

// The capture button, as a click sends it.
void Click(const DialogThread& dlg, int id) {
    SendMessageW(dlg.window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dlg.item(id)));
}

// The test camera's number in a ring slot, or -1.
int SlotSeq(const CFrameImage* image) {
    std::uint32_t seq = 0;
    return image && image->HasPixels() &&
                   TestCamDecodeSequence(image->GetBits(), image->GetWidth(), image->GetHeight(), &seq)
               ? static_cast<int>(seq)
               : -1;
}

// The number in a clip frame. The caption covers the upper rows of the code band at its left; the
// band's lower rows, below the caption, carry the same code, so they are copied over the rows
// above before the frame is read.
int ClipSeq(const CFrameImage& frame) {
    const int w = frame.GetWidth(), h = frame.GetHeight();
    const int stride = ((w * 24 + 31) / 32) * 4;
    const int clear = h / TESTCAM_BAND_DIVISOR - 3;
    std::vector<BYTE> copy(frame.GetBits(), frame.GetBits() + frame.GetImageSize());
    const auto row = [&](int y) { return copy.data() + static_cast<size_t>(h - 1 - y) * stride; };
    for (int y = 0; y < clear; ++y)
        std::memcpy(row(y), row(clear), static_cast<size_t>(stride));
    std::uint32_t seq = 0;
    return TestCamDecodeSequence(copy.data(), w, h, &seq) ? static_cast<int>(seq) : -1;
}

COLORREF PixelAt(const CFrameImage& image, int x, int y) {
    const int stride = ((image.GetWidth() * 24 + 31) / 32) * 4;
    const BYTE* p = image.GetBits() + static_cast<size_t>(image.GetHeight() - 1 - y) * stride + x * 3;
    return RGB(p[2], p[1], p[0]);
}

// "ZELKOR" in red with its white outline, near (10, 10), and nothing of it above and left of (9, 9).
::testing::AssertionResult HasCaption(const CFrameImage& frame) {
    int red = 0, white = 0;
    for (int y = 9; y < 45; ++y)
        for (int x = 9; x < 160; ++x) {
            const COLORREF c = PixelAt(frame, x, y);
            red += c == RGB(255, 0, 0);
            white += c == RGB(255, 255, 255);
        }
    if (red < 100 || white < 100)
        return ::testing::AssertionFailure() << red << " red and " << white << " white caption pixels";
    return ::testing::AssertionSuccess();
}

// What a finished press left in the dialog, read on its thread.
struct ClipState {
    int clips = 0;
    int sounds = 0;
    int frames = 0;
    std::vector<int> seqs;       // clip 1's frames, read after the caption
    std::vector<bool> captioned; // clip 1's frames carry the caption
    bool lastBlack = false;      // below the caption, clip 1's last frame is black
    int soundBytes = -1;         // clip 1's sound block
    bool soundRunning = false;   // the sound capture runs again
};

ClipState ReadClip(DialogThread& dlg, int clip = 0) {
    ClipState s;
    EXPECT_TRUE(dlg.Run([&](CZarvexDlg& d) {
        const CClipArray& clips = Access::Clips(d);
        s.clips = clips.GetSize();
        s.sounds = Access::Sounds(d).GetSize();
        if (const SoundBlock* block = Access::Sounds(d).GetAt(clip))
            s.soundBytes = block->GetSize();
        s.soundRunning = Access::SoundCapture(d) && Access::SoundCapture(d)->IsRunning();
        const CFrameArray* frames = clips.GetAt(clip);
        if (!frames)
            return;
        s.frames = frames->GetSize();
        for (int k = 0; k < frames->GetSize(); ++k) {
            s.seqs.push_back(ClipSeq(*frames->GetAt(k)));
            s.captioned.push_back(HasCaption(*frames->GetAt(k)));
        }
        const CFrameImage& last = *frames->GetAt(frames->GetSize() - 1);
        s.lastBlack = true;
        for (int y = 60; y < last.GetHeight(); y += 7)
            for (int x = 0; x < last.GetWidth(); x += 5)
                s.lastBlack = s.lastBlack && PixelAt(last, x, y) == 0;
    }));
    return s;
}

// The press, made on the dialog thread between two frames: the number of the newest frame in the
// ring at that moment, or -1 when the ring holds none.
int PressAndTakeNewest(DialogThread& dlg) {
    int newest = -1;
    EXPECT_TRUE(dlg.Run([&](CZarvexDlg& d) {
        const CFrameStore& ring = Access::Ring(d);
        const int n = ring.GetSlotCount();
        newest = n ? SlotSeq(ring.GetSlot((ring.GetWriteIndex() + n - 1) % n)) : -1;
        Access::Press(d);
    }));
    return newest;
}

int WriteIndex(DialogThread& dlg) {
    int index = -1;
    EXPECT_TRUE(dlg.Run([&](CZarvexDlg& d) { index = Access::Ring(d).GetWriteIndex(); }));
    return index;
}

bool ControlsBack(const DialogThread& dlg) {
    return IsWindowEnabled(dlg.item(IDCANCEL)) && IsWindowEnabled(dlg.item(IDOK));
}

// The clip's frames hold the camera's frames from `first` on in order, the press split between
// `before` frames up to `newest` and the rest after it. A frame the capture graph gave up on under
// load is a gap in the camera's numbering, not a fault of the ring; a few are let pass.
void ExpectSpan(const ClipState& clip, int newest, int before, int after) {
    ASSERT_EQ(before + after + 1, clip.frames);
    int gaps = 0, upTo = 0;
    for (int k = 0; k + 1 < clip.frames; ++k) {
        SCOPED_TRACE("clip frame " + std::to_string(k));
        ASSERT_GE(clip.seqs[k], 0) << "no test camera frame";
        if (k > 0) {
            ASSERT_GT(clip.seqs[k], clip.seqs[k - 1]);
            gaps += clip.seqs[k] != clip.seqs[k - 1] + 1;
        }
        upTo += clip.seqs[k] <= newest;
    }
    EXPECT_EQ(before, upTo) << "frames up to the press";
    if (before > 0) {
        EXPECT_EQ(newest, clip.seqs[before - 1]) << "the newest frame at the press";
    }
    EXPECT_LE(gaps * 20, clip.frames) << gaps << " gaps";
    std::printf("    clip of %d frames: %d to %d, %d gaps\n", clip.frames, clip.seqs.front(),
                clip.seqs[clip.frames - 2], gaps);
    EXPECT_EQ(-1, clip.seqs.back()) << "the last frame is black";
    EXPECT_TRUE(clip.lastBlack);
    EXPECT_EQ(clip.frames, std::count(clip.captioned.begin(), clip.captioned.end(), true))
        << "every frame carries the caption";
}

class PressTest : public testing::Test {
protected:
    void Start(const std::optional<std::string>& settings = std::nullopt) {
        m_dlg = std::make_unique<DialogThread>(settings);
        ASSERT_TRUE(m_dlg->window()) << "the dialog did not appear";
        ASSERT_TRUE(WaitUntil([&] { return WriteIndex(*m_dlg) > 0; }, 20000))
            << "no live frame: the Zarvex Test Camera must be registered in the bench "
               "(tools/testcam/register-testcam.sh build)";
    }
    DialogThread& Dlg() { return *m_dlg; }
    // Waits for the press to end: the clip maker's result taken, the controls back.
    bool WaitForClipDone(DWORD timeoutMs = 30000) {
        return WaitUntil(
            [&] {
                bool busy = true;
                m_dlg->Run(
                    [&](CZarvexDlg& d) { busy = Access::IsArmed(d) || Access::ClipMaker(d).IsBusy(); });
                return !busy && ControlsBack(*m_dlg);
            },
            timeoutMs);
    }

    std::unique_ptr<DialogThread> m_dlg;
};

TEST_F(PressTest, APressAtTheDefaultsMakesClipOneOfTheSpanCaptionedWithItsSound) {
    MessageBoxRecorder boxes;
    Start();
    EXPECT_EQ(L"168 MB", ItemText(Dlg(), IDC_USED_MEMORY));
    // A ring that holds more than the pre time, so the clip's first half is all camera frames.
    ASSERT_TRUE(WaitUntil([&] { return WriteIndex(Dlg()) >= 160; }, 30000));
    const int newest = PressAndTakeNewest(Dlg());
    ASSERT_GE(newest, 0);
    EXPECT_FALSE(ControlsBack(Dlg()));
    // A second press while armed (the Enter key reaches OnOK with the button disabled) changes
    // nothing: the ring completes where the first press put it.
    int stop = -1, stopAgain = -2;
    ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) {
        stop = Access::Ring(d).GetStopIndex();
        Access::Press(d);
        stopAgain = Access::Ring(d).GetStopIndex();
    }));
    EXPECT_EQ(stop, stopAgain);

    ASSERT_TRUE(WaitForClipDone()) << "the controls did not come back";
    const ClipState clip = ReadClip(Dlg());
    EXPECT_EQ(1, clip.clips);
    // Part of the span: the 149 frames up to the press (the oldest slot of the ring, the one the
    // live writer overwrites first, is left out) and the 150 after it, then a black frame.
    ExpectSpan(clip, newest, 149, 150);
    EXPECT_EQ(1, clip.sounds);
    EXPECT_EQ(1763840, clip.soundBytes);
    EXPECT_EQ(SoundRingBytes(10), clip.soundBytes);
    EXPECT_TRUE(clip.soundRunning) << "the sound capture runs again for the next press";

    const HWND list = Dlg().item(IDC_CLIP_LIST);
    ASSERT_EQ(1, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    wchar_t text[16] = {};
    LVITEMW item = {};
    item.pszText = text;
    item.cchTextMax = 16;
    SendMessageW(list, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(std::wstring(L"1"), text);
    int cx = 0, cy = 0;
    EXPECT_TRUE(ImageList_GetIconSize(
        reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_NORMAL, 0)), &cx, &cy));
    EXPECT_EQ(96, cx);
    EXPECT_EQ(72, cy);
    const std::wstring free = ItemText(Dlg(), IDC_FREE_MEMORY);
    EXPECT_EQ(L" MB", free.substr(free.size() - 3));
    EXPECT_TRUE(boxes.Texts().empty());
}

// PreTime 0: the clip holds the post time from the press on (its first frame after the press is
// the slot left out). EndTime 0: the ring completes after a whole ring, so the clip holds the pre
// time after the press; the sound stops at once.
TEST_F(PressTest, PreTimeOrEndTimeZero) {
    struct Case {
        const char* name;
        int pre, post;
    };
    for (const Case& c : {Case{"PreTime 0", 0, 5}, Case{"EndTime 0", 5, 0}}) {
        SCOPED_TRACE(c.name);
        MessageBoxRecorder boxes;
        Start(Settings(c.pre, c.post));
        const int newest = PressAndTakeNewest(Dlg());
        ASSERT_GE(newest, 0);
        ASSERT_TRUE(WaitForClipDone()) << "the controls did not come back";
        const ClipState clip = ReadClip(Dlg());
        EXPECT_EQ(1, clip.clips);
        ExpectSpan(clip, newest, 0, 149);
        EXPECT_GE(clip.seqs.front(), newest + 2) << "the first frame after the press is the slot left out";
        EXPECT_EQ(SoundRingBytes(5), clip.soundBytes);
        m_dlg.reset();
    }
}

// The memory question, the room test forced short: OK removes clip 1 and its sound before the
// cut and makes the clip; OK with an empty list still makes it; Cancel makes none and leaves the
// sound capture stopped.
TEST_F(PressTest, MemoryShortAsksAndOkRemovesClipOneWhileCancelMakesNone) {
    struct Case {
        const char* name;
        int answer;
        int clipsBefore;
        std::vector<int> clipsAfter; // the fake clips' marks, 0 for the new clip
        bool soundRunning;
    };
    const Case cases[] = {
        {"OK with clips", IDOK, 2, {2, 0}, true},
        {"OK with an empty list", IDOK, 0, {0}, true},
        {"Cancel", IDCANCEL, 1, {1}, false},
    };
    const std::wstring question = AfxLoadStringW(IDS_MEMORY_QUESTION);
    ASSERT_NE(std::wstring::npos, question.find(L"空きメモリが足りません。"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBoxRecorder boxes(c.answer);
        Start(Settings(1, 1));
        ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) {
            for (int i = 1; i <= c.clipsBefore; ++i) {
                auto* clip = new CFrameArray;
                clip->Add(new CFrameImage(64, 48, 24));
                clip->GetAt(0)->GetBits()[0] = static_cast<BYTE>(i);
                Access::Clips(d).Add(clip);
                auto* block = new SoundBlock;
                block->SetSize(i);
                Access::Sounds(d).Add(block);
            }
            Access::RefillClipList(d);
            Access::ClipMaker(d).SetRoomTestForTesting([] { return FALSE; });
        }));
        (void)PressAndTakeNewest(Dlg());
        ASSERT_TRUE(WaitForClipDone()) << "the controls did not come back";
        EXPECT_EQ(std::vector<std::wstring>{question}, boxes.Texts());
        std::vector<int> marks, sounds;
        bool running = false;
        ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) {
            const CClipArray& clips = Access::Clips(d);
            for (int i = 0; i < clips.GetSize(); ++i)
                marks.push_back(clips.GetAt(i)->GetSize() == 1 ? clips.GetAt(i)->GetAt(0)->GetBits()[0] : 0);
            for (int i = 0; i < Access::Sounds(d).GetSize(); ++i)
                sounds.push_back(Access::Sounds(d).GetAt(i)->GetSize());
            // The capture stops by itself a post time after the press, which is about when the
            // clip maker, answered at once, has ended too.
            running = Access::SoundCapture(d)->WaitForEnd(CSoundCapture::kBlockWaitMs * 4) == FALSE;
        }));
        EXPECT_EQ(c.clipsAfter, marks);
        // Each clip keeps its own sound block: the fakes' blocks are as long as their mark.
        std::vector<int> expectedSounds;
        for (int mark : c.clipsAfter)
            expectedSounds.push_back(mark ? mark : SoundRingBytes(2));
        EXPECT_EQ(expectedSounds, sounds);
        EXPECT_EQ(c.soundRunning, running);
        EXPECT_EQ(static_cast<LRESULT>(c.clipsAfter.size()),
                  SendMessageW(Dlg().item(IDC_CLIP_LIST), LVM_GETITEMCOUNT, 0, 0));
        m_dlg.reset();
    }
}

// The way out: a press with the camera unplugged (the graph stopped), and a press whose ring is
// rebuilt by a format announcement, each give the controls and the sound capture back, and the
// program closes.
TEST_F(PressTest, APressThatCannotCompleteGivesTheControlsBackAndTheProgramCloses) {
    struct Case {
        const char* name;
        bool unplug;
    };
    for (const Case& c : {Case{"no frame follows", true}, Case{"format announcement", false}}) {
        SCOPED_TRACE(c.name);
        MessageBoxRecorder boxes;
        Start();
        if (c.unplug) {
            ASSERT_TRUE(Dlg().Run([](CZarvexDlg& d) { Access::StopVideoCapture(d); }));
        }
        Click(Dlg(), IDOK);
        EXPECT_FALSE(IsWindowEnabled(Dlg().item(IDCANCEL))) << "the press disables the exit button";
        if (!c.unplug) {
            SendMessageW(Dlg().window(), WM_CAMERA_FORMAT, kFormatAnnouncedBySetFormat, 0);
            EXPECT_TRUE(ControlsBack(Dlg())) << "a rebuilt ring gives the press up at once";
        }
        // The bound: three seconds without a frame, seen by a half-second timer.
        ASSERT_TRUE(WaitUntil([&] { return ControlsBack(Dlg()); }, 10000)) << "the controls stayed disabled";
        // The exit and capture buttons come back first: let the handler enable the rest before looking.
        ASSERT_TRUE(Dlg().Run([](CZarvexDlg&) {}));
        for (int id : {IDOK, IDCANCEL, IDC_PRE_TIME, IDC_END_TIME, IDC_DELETE}) {
            SCOPED_TRACE(id);
            EXPECT_TRUE(IsWindowEnabled(Dlg().item(id)));
        }
        bool armed = true, running = false;
        ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) {
            armed = Access::IsArmed(d);
            running = Access::SoundCapture(d) && Access::SoundCapture(d)->IsRunning();
        }));
        EXPECT_FALSE(armed);
        EXPECT_TRUE(running) << "the sound capture was not started again";
        Sleep(1000);
        EXPECT_EQ(0, ReadClip(Dlg()).clips) << "a press given up makes no clip";
        EXPECT_TRUE(Dlg().Close()) << "the program cannot be closed";
        m_dlg.reset();
    }
}

// A format announcement while the clip is being cut: the rebuild waits for the cut, which goes on
// over the ring as it completed; the clip is whole and the ring is rebuilt after it.
TEST_F(PressTest, ARebuildDuringTheCutWaitsForItAndTheClipIsWhole) {
    MessageBoxRecorder boxes;
    Start(Settings(1, 1));
    ASSERT_TRUE(WaitUntil([&] { return WriteIndex(Dlg()) >= 40; }, 20000));
    const HWND hwnd = Dlg().window();
    unsigned generationAtCut = 0;
    CFrameStore* ring = nullptr;
    ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) {
        ring = &Access::Ring(d);
        ring->SetCutStepHookForTesting([&, hwnd](int k) {
            if (k != 20)
                return;
            generationAtCut = ring->GetGeneration();
            PostMessageW(hwnd, WM_CAMERA_FORMAT, kFormatAnnouncedByConnection, 0);
            Sleep(500); // the dialog thread is inside the rebuild by now, waiting for the cut
        });
    }));
    const int newest = PressAndTakeNewest(Dlg());
    ASSERT_TRUE(WaitForClipDone()) << "the controls did not come back";
    ASSERT_TRUE(Dlg().Run([&](CZarvexDlg&) { ring->SetCutStepHookForTesting(nullptr); }));
    const ClipState clip = ReadClip(Dlg());
    ASSERT_EQ(1, clip.clips);
    ExpectSpan(clip, newest, 29, 30);
    EXPECT_NE(generationAtCut, ring->GetGeneration()) << "the ring was rebuilt after the cut";
}

// While a clip plays, live frames are dropped (the ring does not move); once the playback has
// ended they are stored again.
TEST_F(PressTest, LiveFramesAreDroppedWhileAClipPlays) {
    Start();
    CFrameArray playing; // ten seconds of black
    for (int k = 0; k < 300; ++k)
        playing.Add(new CFrameImage(64, 48, 24));
    playing.SetFrameRate(30);
    bool started = false;
    ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) { started = Access::Player(d).Start(&playing, nullptr, 0); }));
    ASSERT_TRUE(started);
    const int at = WriteIndex(Dlg());
    Sleep(500);
    EXPECT_EQ(at, WriteIndex(Dlg()));
    ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) { EXPECT_TRUE(Access::Player(d).Abort()); }));
    EXPECT_TRUE(WaitUntil([&] { return WriteIndex(Dlg()) != at; }, 5000));
}

// A format announcement from the virtual camera, answered on the dialog thread between two live
// frames: wParam 1 or 2 rebuilds the ring at the size the channel's header asks for, clears the
// format bits and publishes the rebuilt ring's blank frame; any other wParam changes nothing. A
// size whose frame would not fit the pixel area, as any process may write into the header, is
// refused: the ring is rebuilt at the size it had.
TEST_F(PressTest, AFormatAnnouncementRebuildsTheRingAtTheChannelsCheckedSize) {
    struct Case {
        const char* name;
        WPARAM wParam;
        LONG width, height;
        SIZE ring;    // the ring's frames afterwards
        bool rebuilt; // the ring was rebuilt and its blank frame published
        const wchar_t* used;
    };
    const Case cases[] = {
        {"SetFormat 320 x 240", kFormatAnnouncedBySetFormat, 320, 240, {320, 240}, true, L"65 MB"},
        {"connection 640 x 480", kFormatAnnouncedByConnection, 640, 480, {640, 480}, true, L"263 MB"},
        {"wParam 3", 3, 320, 240, {640, 480}, false, L"263 MB"},
        {"wParam 0", 0, 320, 240, {640, 480}, false, L"263 MB"},
        {"wider than the pixel area", 1, 641, 480, {640, 480}, true, L"263 MB"},
        {"huge", 1, 0x7FFFFFFF, 0x7FFFFFFF, {640, 480}, true, L"263 MB"},
        {"one row too many", 2, 512, 601, {640, 480}, true, L"263 MB"},
        {"not above 0 keeps each", 1, -320, 0, {640, 480}, true, L"263 MB"},
        {"back to 512 x 384", 1, 512, 384, {512, 384}, true, L"168 MB"},
    };
    MessageBoxRecorder boxes;
    Start();
    CSharedMem channel;
    ASSERT_TRUE(channel.Open(kChannelName));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SIZE ring = {};
        int writeIndex = -1;
        DWORD flags = 0;
        bool blank = false;
        ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) {
            ASSERT_TRUE(channel.Lock());
            SharedFrameHeader* header = channel.Header();
            header->bmiHeader.biWidth = c.width;
            header->bmiHeader.biHeight = c.height;
            header->dwFlags = kFormatFromSetFormat | kFormatFromConnection;
            std::memset(header->pixels, 0x5A, sizeof header->pixels);
            ASSERT_TRUE(channel.Unlock());
            SendMessageW(Dlg().window(), WM_CAMERA_FORMAT, c.wParam, 0);
            const CFrameStore& store = Access::Ring(d);
            ring = {store.GetSlot(0)->GetWidth(), store.GetSlot(0)->GetHeight()};
            writeIndex = store.GetWriteIndex();
            ASSERT_TRUE(channel.Lock());
            flags = header->dwFlags;
            blank = std::all_of(header->pixels, header->pixels + sizeof header->pixels,
                                [](uint8_t b) { return b == 0; });
            ASSERT_TRUE(channel.Unlock());
        }));
        EXPECT_EQ(c.ring.cx, ring.cx);
        EXPECT_EQ(c.ring.cy, ring.cy);
        EXPECT_EQ(c.used, ItemText(Dlg(), IDC_USED_MEMORY));
        if (c.rebuilt) {
            EXPECT_EQ(0, writeIndex) << "a rebuilt ring starts at slot 0";
            EXPECT_EQ(kFrameReady, flags) << "format bits cleared, the blank frame published";
            EXPECT_TRUE(blank) << "the whole pixel area is zeroed and the blank frame published";
        } else {
            EXPECT_EQ(kFormatFromSetFormat | kFormatFromConnection, flags) << "the header is not read";
            EXPECT_FALSE(blank);
        }
    }
}

// Clips 1..n each made of one 64 x 48 frame whose first byte is its number, with sound blocks of
// n bytes for the first `sounds` of them.
void AddClips(DialogThread& dlg, int n, int sounds) {
    ASSERT_TRUE(dlg.Run([&](CZarvexDlg& d) {
        for (int i = 1; i <= n; ++i) {
            auto* clip = new CFrameArray;
            auto* frame = new CFrameImage(64, 48, 24);
            frame->GetBits()[0] = static_cast<BYTE>(i);
            clip->Add(frame);
            Access::Clips(d).Add(clip);
            if (i <= sounds) {
                auto* block = new SoundBlock;
                block->SetSize(i);
                Access::Sounds(d).Add(block);
            }
        }
        Access::RefillClipList(d);
    }));
}

TEST_F(PressTest, DeleteRemovesTheSelectedClipOrClipOneWithItsSound) {
    struct Case {
        const char* name;
        int clips, sounds, select; // select -1: nothing selected
        std::vector<int> clipsLeft, soundsLeft;
    };
    const Case cases[] = {
        {"nothing selected", 3, 3, -1, {2, 3}, {2, 3}},
        {"item 2 selected", 3, 3, 1, {1, 3}, {1, 3}},
        {"the last clip had no sound", 3, 2, 2, {1, 2}, {1, 2}},
        {"empty list", 0, 0, -1, {}, {}},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Dlg().Run([](CZarvexDlg& d) {
            Access::Clips(d).DeleteAll();
            Access::Sounds(d).DeleteAll();
            Access::RefillClipList(d);
        }));
        AddClips(Dlg(), c.clips, c.sounds);
        const HWND list = Dlg().item(IDC_CLIP_LIST);
        if (c.select >= 0) {
            LVITEMW item = {};
            item.stateMask = LVIS_SELECTED;
            item.state = LVIS_SELECTED;
            SendMessageW(list, LVM_SETITEMSTATE, c.select, reinterpret_cast<LPARAM>(&item));
        }
        SetDlgItemTextW(Dlg().window(), IDC_FREE_MEMORY, L"stale");
        SetDlgItemTextW(Dlg().window(), IDC_USED_MEMORY, L"used");
        Click(Dlg(), IDC_DELETE);
        std::vector<int> clips, sounds;
        ASSERT_TRUE(Dlg().Run([&](CZarvexDlg& d) {
            const CClipArray& all = Access::Clips(d);
            for (int i = 0; i < all.GetSize(); ++i)
                clips.push_back(all.GetAt(i)->GetAt(0)->GetBits()[0]);
            for (int i = 0; i < Access::Sounds(d).GetSize(); ++i)
                sounds.push_back(Access::Sounds(d).GetAt(i)->GetSize());
        }));
        EXPECT_EQ(c.clipsLeft, clips);
        EXPECT_EQ(c.soundsLeft, sounds);
        // The list is rebuilt and renumbered: items "1".."n".
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        ASSERT_EQ(static_cast<int>(c.clipsLeft.size()), count);
        for (int i = 0; i < count; ++i) {
            wchar_t text[16] = {};
            LVITEMW item = {};
            item.pszText = text;
            item.cchTextMax = 16;
            SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            EXPECT_EQ(std::to_wstring(i + 1), text);
        }
        const std::wstring free = ItemText(Dlg(), IDC_FREE_MEMORY);
        EXPECT_NE(L"stale", free) << "the free figure was not refreshed";
        EXPECT_EQ(L" MB", free.substr(free.size() - 3));
        EXPECT_EQ(L"used", ItemText(Dlg(), IDC_USED_MEMORY)) << "the ring did not change";
    }
}

// Twenty presses, each clip deleted before the next: the frame images, the GDI objects they hold
// and the process's private memory come back to where the first round left them.
TEST_F(PressTest, TwentyPressesWithDeletesLeaveMemoryAndGdiObjectsWhereTheyStarted) {
    MessageBoxRecorder boxes;
    Start(Settings(1, 1));
    // Frame images hold their pixels in memory of their own (VirtualAlloc), so a clip left behind
    // takes address space; GetGuiResources and the private byte count answer 0 under Wine.
    const auto usedVirtual = [] {
        MEMORYSTATUSEX status = {};
        status.dwLength = sizeof status;
        GlobalMemoryStatusEx(&status);
        return static_cast<long long>(status.ullTotalVirtual - status.ullAvailVirtual);
    };
    // Probed on the dialog thread, which then makes no GDI object of its own.
    const auto freeGdiSlots = [&] {
        int slots = 0;
        EXPECT_TRUE(Dlg().Run([&](CZarvexDlg&) { slots = FreeGdiObjectSlots(); }));
        return slots;
    };
    int images = 0, gdi = 0, gdiSlots = 0;
    long long bytes = 0;
    // Round -1 settles what presses make once (fonts, the image list, heaps); the counts are taken
    // after round 0, and the address space after round 1, once the GDI probe's own growth of the
    // system's tables is behind it.
    for (int round = -1; round <= 21; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        (void)PressAndTakeNewest(Dlg());
        ASSERT_TRUE(WaitForClipDone()) << "the controls did not come back";
        ASSERT_EQ(1, ReadClip(Dlg()).clips);
        Click(Dlg(), IDC_DELETE);
        ASSERT_EQ(0, ReadClip(Dlg()).clips);
        if (round == 0) {
            images = CFrameImage::GetLiveImageCount();
            gdi = CFrameImage::GetGdiObjectCount();
            gdiSlots = freeGdiSlots();
        } else if (round > 0) {
            EXPECT_EQ(images, CFrameImage::GetLiveImageCount());
            EXPECT_EQ(gdi, CFrameImage::GetGdiObjectCount());
        }
        if (round == 1)
            bytes = usedVirtual();
    }
    // One clip of 60 frames at 512 x 384 takes 35 MB and its sound block 352 KB: either left behind
    // once a round shows well above what the heaps may still grow by.
    const long long grown = usedVirtual() - bytes;
    EXPECT_EQ(gdiSlots, freeGdiSlots()) << "GDI objects of the process";
    std::printf("    address space in use: %lld MB after three presses, %+lld KB after 20 more\n",
                bytes / 1048576, grown / 1024);
    EXPECT_LT(grown, 4ll * 1024 * 1024);
    EXPECT_TRUE(boxes.Texts().empty());
}

} // namespace

// A cut made while live frames keep arriving and the ring may be rebuilt: the clip maker's thread
// cuts, the window thread stores frames and rebuilds the ring under the store lock.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FrameStore.h"
#include "TestFrames.h"
#include "UniqueAny.h"

namespace {

// A frame of one colour that spells its number: blue and green are its low 16 bits, red its high
// bits with the top bit set, so no numbered frame is black. A torn frame is not one colour.
void PaintNumber(GrabbedFrame& frame, int seq) {
    frame.FillRect(0, 0, frame.Width(), frame.Height(), static_cast<BYTE>(seq & 0xFF),
                   static_cast<BYTE>((seq >> 8) & 0xFF), static_cast<BYTE>(0x80 | ((seq >> 16) & 0x7F)));
}

// The number a clip frame spells, 0 for a black frame, -1 for anything else (torn, garbage).
int NumberOf(const CFrameImage& image) {
    if (!image.HasPixels())
        return -1;
    const BYTE* p = image.GetBits();
    const DWORD size = image.GetImageSize();
    for (DWORD i = 3; i < size; ++i)
        if (p[i] != p[i % 3])
            return -1;
    if (p[0] == 0 && p[1] == 0 && p[2] == 0)
        return 0;
    if ((p[2] & 0x80) == 0)
        return -1;
    return p[0] | (p[1] << 8) | ((p[2] & 0x7F) << 16);
}

// Whether a clip cut with cut index 0 is the ring as it stood at one moment: clip frame k is slot
// k + 1. The slots up to the writer's position hold one lap of consecutive numbers, the slots
// after it the lap before (consecutive as well, or black when the ring was new), and the last
// clip frame is black. Returns what is wrong, or an empty string.
std::string CheckSnapshot(const CFrameArray& clip, int slots, int width, int height) {
    if (clip.GetSize() != slots)
        return "the clip has " + std::to_string(clip.GetSize()) + " frames, not " + std::to_string(slots);
    std::vector<int> seq;
    for (int k = 0; k < slots; ++k) {
        const CFrameImage* frame = clip.GetAt(k);
        if (!frame || frame->GetWidth() != width || frame->GetHeight() != height)
            return "frame " + std::to_string(k) + " is missing or of another size";
        seq.push_back(NumberOf(*frame));
        if (seq.back() < 0)
            return "frame " + std::to_string(k) + " is torn";
    }
    if (seq.back() != 0)
        return "the last frame is not black";
    seq.pop_back();
    // Split into runs of consecutive numbers (black frames form runs of zeros).
    struct Run {
        int first, last;
    };
    std::vector<Run> runs;
    for (int v : seq) {
        if (!runs.empty() && ((v == 0 && runs.back().last == 0) ||
                              (v != 0 && runs.back().last != 0 && v == runs.back().last + 1)))
            runs.back().last = v;
        else
            runs.push_back({v, v});
    }
    const auto describe = [&] {
        std::string text;
        for (const Run& r : runs)
            text += " [" + std::to_string(r.first) + ".." + std::to_string(r.last) + "]";
        return text;
    };
    if (runs.size() == 1)
        return {}; // all black, or one lap
    if (runs.size() == 2 && runs[0].first != 0 && runs[1].first == 0)
        return {}; // a new ring filled up to the writer
    if (runs.size() == 2 && runs[0].first != 0 && runs[1].first != 0 &&
        runs[1].first == runs[0].last - slots + 1 && runs[1].last == runs[0].first - 2)
        return {}; // this lap, then the lap before
    return "not one moment of the ring:" + describe();
}

class CutWhileLiveTest : public testing::Test {
protected:
    void Store(int seq, int width, int height) {
        GrabbedFrame frame(width, height);
        PaintNumber(frame, seq);
        const RECT rect = {0, 0, width, height};
        store_.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, rect, rect);
    }

    CCriticalSection lock_; // the dialog's store lock
    CFrameStore store_{&lock_};
    MessageBoxRecorder boxes_;
};

win::UniqueHandle MakeEvent() {
    return win::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// A thread that is joined when it goes out of scope, so that a failed assertion cannot leave it
// running (or end the test run).
class JoiningThread {
public:
    template <class F> explicit JoiningThread(F&& f) : thread_(std::forward<F>(f)) {}
    ~JoiningThread() { Join(); }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
};

// A cut on the clip maker's own thread, held before clip frame `at` until Release, so that a test
// can act while it is under way. The hold lasts 10 s at most.
class HeldCut {
public:
    HeldCut(CFrameStore& store, int at) : store_(store) {
        store_.SetCutStepHookForTesting([this, at](int k) {
            if (k == at) {
                SetEvent(held_.get());
                WaitForSingleObject(go_.get(), 10000);
            }
        });
        thread_ = std::thread([this] { result_ = store_.CutInto(&clip_); });
        isHeld_ = WaitForSingleObject(held_.get(), 10000) == WAIT_OBJECT_0;
    }
    ~HeldCut() {
        Release();
        store_.SetCutStepHookForTesting(nullptr);
    }
    HeldCut(const HeldCut&) = delete;
    HeldCut& operator=(const HeldCut&) = delete;

    bool IsHeld() const { return isHeld_; }
    // Lets the cut go on, waits for it to end, and tells whether it cut.
    BOOL Release() {
        SetEvent(go_.get());
        if (thread_.joinable())
            thread_.join();
        return result_;
    }
    const CFrameArray& Clip() const { return clip_; }

private:
    CFrameStore& store_;
    win::UniqueHandle held_ = MakeEvent(), go_ = MakeEvent();
    CFrameArray clip_;
    BOOL result_ = FALSE;
    bool isHeld_ = false;
    std::thread thread_;
};

} // namespace

TEST_F(CutWhileLiveTest, LoopedCutsAgainstLiveFramesAndRebuildsNeverFaultLoseOrTear) {
    // The window thread stores numbered frames and, every 37 frames, rebuilds the ring under the
    // store lock at the other of two shapes; the clip maker's thread cuts as fast as it can.
    struct Shape {
        int width, height, pre, post, fps;
    } const shapes[] = {{64, 48, 1, 0, 30}, {80, 60, 1, 1, 20}};
    ASSERT_TRUE(store_.Allocate(64, 48, 1, 0, 30));
    std::atomic<bool> stop{false};
    std::atomic<int> rebuilds{0};
    std::atomic<int> stored{0};
    JoiningThread window([&] {
        int seq = 1, shape = 0;
        while (!stop) {
            const Shape& s = shapes[shape];
            Store(seq++, s.width, s.height);
            ++stored;
            if (seq % 37 == 0) {
                shape ^= 1;
                const Shape& next = shapes[shape];
                std::lock_guard<CCriticalSection> hold(lock_);
                EXPECT_TRUE(store_.Allocate(next.width, next.height, next.pre, next.post, next.fps));
                ++rebuilds;
            }
        }
    });

    int cuts = 0;
    const DWORD deadline = GetTickCount() + 60000;
    std::string fault;
    while ((cuts < 200 || rebuilds < 100) && GetTickCount() < deadline && fault.empty()) {
        CFrameArray clip;
        const CFrameImage* first = store_.CutInto(&clip) ? clip.GetAt(0) : nullptr;
        if (!first) {
            fault = "the cut failed";
            break;
        }
        // The clip is of one shape; which one tells the ring it was cut from.
        const Shape& s = first->GetWidth() == 64 ? shapes[0] : shapes[1];
        fault = CheckSnapshot(clip, s.fps * (s.pre + s.post), s.width, s.height);
        ++cuts;
    }
    stop = true;
    window.Join();
    std::printf("  %d cuts, %d rebuilds, %d frames stored\n", cuts, rebuilds.load(), stored.load());
    EXPECT_EQ("", fault) << "after " << cuts << " cuts";
    EXPECT_GE(cuts, 200) << "the cuts did not keep going";
    EXPECT_GE(rebuilds.load(), 100) << "the rebuilds did not keep going";
    EXPECT_TRUE(boxes_.texts.empty());
}

TEST_F(CutWhileLiveTest, ARebuildAskedForDuringACutHappensAfterIt) {
    ASSERT_TRUE(store_.Allocate(64, 48, 1, 0, 30));
    for (int seq = 1; seq <= 30; ++seq)
        Store(seq, 64, 48); // slot i holds frame i + 1
    HeldCut cut(store_, 10);
    ASSERT_TRUE(cut.IsHeld()) << "the cut never got going";

    std::atomic<bool> rebuilt{false};
    JoiningThread window([&] {
        std::lock_guard<CCriticalSection> hold(lock_);
        EXPECT_TRUE(store_.Allocate(80, 60, 1, 1, 30));
        rebuilt = true;
    });
    Sleep(300); // a rebuild of 60 small images that did not wait would be long done
    EXPECT_FALSE(rebuilt.load()) << "the rebuild did not wait for the cut";
    EXPECT_TRUE(cut.Release());
    window.Join();

    EXPECT_EQ("", CheckSnapshot(cut.Clip(), 30, 64, 48));
    for (int k = 0; k < 29; ++k)
        ASSERT_EQ(k + 2, NumberOf(*cut.Clip().GetAt(k))) << "frame " << k;
    EXPECT_TRUE(rebuilt.load());
    ASSERT_EQ(60, store_.GetSlotCount()) << "the rebuild happened after the cut";
    EXPECT_EQ(80, store_.GetSlot(0)->GetWidth());
}

TEST_F(CutWhileLiveTest, LiveFramesOvertakingAHeldCutAreStoredAndTheSpanIsKept) {
    // A cut that falls behind the frame rate (here held at frame 5) must neither make the writer
    // wait nor take frames stored after it began.
    ASSERT_TRUE(store_.Allocate(64, 48, 1, 0, 30));
    for (int seq = 1; seq <= 30; ++seq)
        Store(seq, 64, 48); // slot i holds frame i + 1; the writer is back at slot 0
    HeldCut cut(store_, 5);
    ASSERT_TRUE(cut.IsHeld()) << "the cut never got going";

    // Twenty frames overwrite slots 0..19 while the cut holds: slots 6..19 are ones it still needs.
    win::UniqueHandle stored = MakeEvent();
    JoiningThread window([&] {
        for (int seq = 31; seq <= 50; ++seq)
            Store(seq, 64, 48);
        SetEvent(stored.get());
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stored.get(), 10000)) << "live frames waited for the cut";
    ASSERT_TRUE(cut.Release());
    window.Join();

    const CFrameArray& clip = cut.Clip();
    ASSERT_EQ(30, clip.GetSize());
    for (int k = 0; k < 29; ++k)
        ASSERT_EQ(k + 2, NumberOf(*clip.GetAt(k))) << "clip frame " << k << " is not the span's";
    EXPECT_EQ(0, NumberOf(*clip.GetAt(29)));
    // The ring holds what was stored: the twenty new frames, then the rest of the lap before.
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(i < 20 ? 31 + i : i + 1, NumberOf(*store_.GetSlot(i))) << "slot " << i;
    EXPECT_EQ(20, store_.GetWriteIndex());
}

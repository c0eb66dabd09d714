#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "FrameStore.h"
#include "SoundBlock.h"
#include "TestFrames.h"

namespace {

const RECT kSameSize = {0, 0, 512, 384}; // x, y, width, height

// A store at the defaults' slot size whose frames carry their sequence numbers. Every out-of-
// memory report is recorded instead of shown.
class FrameStoreTest : public testing::Test {
protected:
    void TearDown() override {
        CFrameImage::SetImageLimitForTesting(0);
        CFrameImage::SetGdiObjectLimitForTesting(0);
    }

    // Stores frames first..last (inclusive) and returns how many of them completed the store.
    int StoreRange(CFrameStore& store, int first, int last) {
        int completions = 0;
        for (int seq = first; seq <= last; ++seq) {
            WriteSeq(frame_, seq);
            if (store.StoreFrame(frame_.bits.data(), frame_.bits.size(), &frame_.header, kSameSize,
                                 kSameSize))
                ++completions;
        }
        return completions;
    }

    // Checks every frame of a clip against the sequence numbers expected (-1: black).
    static void ExpectClip(const CFrameArray& clip, const std::vector<int>& expected) {
        ASSERT_EQ(static_cast<int>(expected.size()), clip.GetSize());
        for (int k = 0; k < clip.GetSize(); ++k) {
            ASSERT_NE(nullptr, clip.GetAt(k)) << "frame " << k;
            ASSERT_TRUE(clip.GetAt(k)->HasPixels()) << "frame " << k;
            if (expected[k] < 0)
                ASSERT_TRUE(IsBlack(*clip.GetAt(k))) << "frame " << k << " should be black";
            else
                ASSERT_EQ(expected[k], ReadSeq(*clip.GetAt(k))) << "frame " << k;
        }
    }

    GrabbedFrame frame_{512, 384};
    MessageBoxRecorder boxes_;
};

} // namespace

TEST_F(FrameStoreTest, DefaultsHold300FramesOf168MB) {
    CFrameStore store;
    EXPECT_EQ(5, store.GetPreTime());
    EXPECT_EQ(5, store.GetPostTime());
    EXPECT_EQ(30, store.GetFrameRate());
    EXPECT_EQ(0, store.GetSlotCount());
    EXPECT_EQ(0, store.GetMemoryBytes());
    EXPECT_TRUE(CFrameStore::HasRoomForClip(&store, 1)) << "an empty store needs no room";

    ASSERT_TRUE(store.Allocate(512, 384, 5, 5, 30));
    EXPECT_EQ(300, store.GetSlotCount());
    EXPECT_EQ(176947200, store.GetMemoryBytes());
    EXPECT_EQ(168, store.GetMemoryBytes() / 1048576);
    EXPECT_EQ(0, store.GetWriteIndex());
    EXPECT_EQ(-1, store.GetStopIndex());
    for (int i = 0; i < store.GetSlotCount(); ++i) {
        ASSERT_EQ(512, store.GetSlot(i)->GetWidth());
        ASSERT_EQ(384, store.GetSlot(i)->GetHeight());
    }
    EXPECT_TRUE(IsBlack(*store.GetSlot(299)));

    // The room test wants more than twice the store in free physical memory.
    EXPECT_FALSE(CFrameStore::HasRoomForClip(&store, 353894400));
    EXPECT_TRUE(CFrameStore::HasRoomForClip(&store, 353894401));
    EXPECT_TRUE(CFrameStore::HasRoomForClip(nullptr, 0));
    EXPECT_TRUE(boxes_.texts.empty());
}

TEST_F(FrameStoreTest, StoreFrameScalesIntoTheSlotAndPublishesItBeforeAdvancing) {
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(512, 384, 1, 0, 3));
    // A 640 x 480 camera frame in four large quadrants.
    GrabbedFrame camera(640, 480);
    camera.FillRect(0, 0, 320, 240, 0x10, 0x20, 0x30);
    camera.FillRect(320, 0, 640, 240, 0x40, 0x50, 0x60);
    camera.FillRect(0, 240, 320, 480, 0x70, 0x80, 0x90);
    camera.FillRect(320, 240, 640, 480, 0xA0, 0xB0, 0xC0);
    const RECT src = {0, 0, 640, 480}, dst = {0, 0, 512, 384};

    CFrameImage* published = nullptr;
    int publishedAt = -1;
    EXPECT_FALSE(store.StoreFrame(camera.bits.data(), camera.bits.size(), &camera.header, src, dst,
                                  [&](CFrameImage& slot) {
                                      published = &slot;
                                      publishedAt = store.GetWriteIndex();
                                  }));
    EXPECT_EQ(store.GetSlot(0), published);
    EXPECT_EQ(0, publishedAt) << "published before the write index moves on";
    EXPECT_EQ(1, store.GetWriteIndex());

    const CFrameImage& slot = *store.GetSlot(0);
    struct Quadrant {
        int x0, y0;
        COLORREF colour;
    } quadrants[] = {{0, 0, RGB(0x30, 0x20, 0x10)},
                     {256, 0, RGB(0x60, 0x50, 0x40)},
                     {0, 192, RGB(0x90, 0x80, 0x70)},
                     {256, 192, RGB(0xC0, 0xB0, 0xA0)}};
    for (const Quadrant& q : quadrants) {
        SCOPED_TRACE(testing::Message() << "quadrant at " << q.x0 << "," << q.y0);
        for (int y = q.y0 + 2; y < q.y0 + 190; y += 17)
            for (int x = q.x0 + 2; x < q.x0 + 254; x += 23)
                ASSERT_EQ(q.colour, PixelOf(slot, x, y)) << x << "," << y;
    }

    // Numbered frames survive the same scaling.
    GrabbedFrame numbered = SeqFrame(640, 480, 0x1234);
    store.StoreFrame(numbered.bits.data(), numbered.bits.size(), &numbered.header, src, dst);
    EXPECT_EQ(0x1234, ReadSeq(*store.GetSlot(1)));
    EXPECT_EQ(2, store.GetWriteIndex());
    store.StoreFrame(numbered.bits.data(), numbered.bits.size(), &numbered.header, src, dst);
    EXPECT_EQ(0, store.GetWriteIndex()) << "wraps at N = 3";
}

TEST_F(FrameStoreTest, ArmAt250CompletesAfter150AndCutsTheSpanOldestFirst) {
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(512, 384, 5, 5, 30));
    ASSERT_EQ(0, StoreRange(store, 1, 250)); // slot k holds frame k + 1
    ASSERT_EQ(250, store.GetWriteIndex());
    store.ArmStop();
    EXPECT_EQ(100, store.GetStopIndex());
    EXPECT_EQ(100, store.GetCutIndex());

    EXPECT_EQ(0, StoreRange(store, 251, 399));
    EXPECT_EQ(1, StoreRange(store, 400, 400)) << "complete with the 150th frame after the press";
    EXPECT_EQ(-1, store.GetStopIndex());
    EXPECT_EQ(100, store.GetCutIndex());
    EXPECT_EQ(100, store.GetWriteIndex());

    // Slots 101..299 hold frames 102..300, slots 0..99 frames 301..400; slot 100 (frame 101,
    // the next to be overwritten) is left out and the last clip frame is black.
    auto clip = std::make_unique<CFrameArray>();
    clip->Add(new CFrameImage(8, 8, 24)); // junk the cut must replace
    ASSERT_TRUE(store.CutInto(clip.get()));
    std::vector<int> expected;
    for (int k = 0; k <= 198; ++k)
        expected.push_back(102 + k);
    for (int k = 199; k <= 298; ++k)
        expected.push_back(301 + (k - 199));
    expected.push_back(-1);
    ExpectClip(*clip, expected);
    EXPECT_EQ(101, ReadSeq(*store.GetSlot(100)));
    EXPECT_TRUE(boxes_.texts.empty());

    // Live frames go on into the same ring, starting at the slot the cut left out.
    StoreRange(store, 401, 401);
    EXPECT_EQ(401, ReadSeq(*store.GetSlot(100)));
}

TEST_F(FrameStoreTest, ArmingEdgeCases) {
    struct Case {
        const char* name;
        int pre, post;
        int framesBefore;   // stored before the press
        int stop;           // stop index after the press
        int framesToFinish; // frames after the press until completion
        // The clip as (first sequence number, count) runs; a count with sequence 0 is black.
        std::vector<std::pair<int, int>> runs;
    } cases[] = {
        // Cut index N - 1: clip frames 0..N - 2 are slots 0..N - 2.
        {"cut at N - 1", 5, 5, 449, 299, 150, {{301, 299}, {0, 1}}},
        // pre 0: the stop index is the write index; the clip holds the 2nd to the 150th frame
        // after the press.
        {"pre 0", 0, 5, 20, 20, 150, {{22, 149}, {0, 1}}},
        // Before the ring wrapped: the slots never written are cut as black frames.
        {"before the wrap", 5, 5, 10, 160, 150, {{0, 139}, {1, 160}, {0, 1}}},
        // post 0: the store completes after a whole ring.
        {"post 0", 5, 0, 40, 40, 150, {{42, 149}, {0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFrameStore store;
        ASSERT_TRUE(store.Allocate(512, 384, c.pre, c.post, 30));
        const int n = 30 * (c.pre + c.post);
        ASSERT_EQ(0, StoreRange(store, 1, c.framesBefore));
        store.ArmStop();
        EXPECT_EQ(c.stop, store.GetStopIndex());
        EXPECT_EQ(0, StoreRange(store, c.framesBefore + 1, c.framesBefore + c.framesToFinish - 1));
        EXPECT_EQ(1, StoreRange(store, c.framesBefore + c.framesToFinish, c.framesBefore + c.framesToFinish));
        CFrameArray clip;
        ASSERT_TRUE(store.CutInto(&clip));
        std::vector<int> expected;
        for (const auto& run : c.runs)
            for (int i = 0; i < run.second; ++i)
                expected.push_back(run.first == 0 ? -1 : run.first + i);
        ASSERT_EQ(static_cast<size_t>(n), expected.size());
        ExpectClip(clip, expected);
    }
}

TEST_F(FrameStoreTest, AClipKeepsTheRateItsRingWasRecordedAt) {
    GrabbedFrame small(64, 48);
    const RECT smallSize = {0, 0, 64, 48};
    CFrameStore store;
    std::vector<std::unique_ptr<CFrameArray>> clips;
    // A format change between two presses rebuilds the ring at the new rate; every clip keeps its own.
    for (const int fps : {30, 15, 60, 25}) {
        SCOPED_TRACE(testing::Message() << fps << " fps");
        ASSERT_TRUE(store.Allocate(64, 48, 1, 1, fps));
        store.ArmStop();
        int stored = 0;
        while (!store.StoreFrame(small.bits.data(), small.bits.size(), &small.header, smallSize, smallSize))
            ASSERT_LT(++stored, 1000);
        clips.emplace_back(new CFrameArray);
        ASSERT_TRUE(store.CutInto(clips.back().get()));
        EXPECT_EQ(2 * fps, clips.back()->GetSize());
    }
    const int rates[] = {30, 15, 60, 25};
    for (size_t i = 0; i < clips.size(); ++i)
        EXPECT_EQ(rates[i], clips[i]->GetFrameRate()) << "clip " << i;

    // A cut that finds nothing leaves the clip empty, and without the rate it had before.
    CFrameStore empty;
    ASSERT_TRUE(empty.Allocate(64, 48, 0, 0, 30));
    EXPECT_FALSE(empty.CutInto(clips[0].get()));
    EXPECT_EQ(0, clips[0]->GetSize());
    EXPECT_EQ(0, clips[0]->GetFrameRate());
}

TEST_F(FrameStoreTest, AllocateWhileArmedLosesTheArming) {
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(512, 384, 1, 1, 30));
    StoreRange(store, 1, 70);
    store.ArmStop();
    ASSERT_EQ(40, store.GetStopIndex());
    ASSERT_TRUE(store.Allocate(512, 384, 1, 1, 30));
    EXPECT_EQ(-1, store.GetStopIndex());
    EXPECT_EQ(0, store.GetCutIndex());
    EXPECT_EQ(0, store.GetWriteIndex());
    EXPECT_TRUE(IsBlack(*store.GetSlot(0))) << "every stored frame is discarded";
    EXPECT_EQ(0, StoreRange(store, 1, 200)) << "no clip for that press";
}

TEST_F(FrameStoreTest, AStoreWithoutSlotsDropsFramesAndCutsNothing) {
    struct Case {
        int width, height, pre, post, fps;
    } cases[] = {{512, 384, 0, 0, 30}, {512, 384, 5, 5, 0},   {0, 384, 5, 5, 30},
                 {512, 0, 5, 5, 30},   {512, 384, -5, 1, 30}, {512, 384, -5, -5, -30}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", " << c.pre << " + " << c.post
                                        << " s at " << c.fps);
        CFrameStore store;
        EXPECT_TRUE(store.Allocate(c.width, c.height, c.pre, c.post, c.fps));
        EXPECT_EQ(0, store.GetSlotCount());
        EXPECT_EQ(0, store.GetMemoryBytes());
        EXPECT_EQ(nullptr, store.GetCurrentFrame());
        bool published = false;
        EXPECT_FALSE(store.StoreFrame(frame_.bits.data(), frame_.bits.size(), &frame_.header, kSameSize,
                                      kSameSize, [&](CFrameImage&) { published = true; }));
        EXPECT_FALSE(published);
        EXPECT_EQ(0, store.GetWriteIndex());
        store.ArmStop();
        EXPECT_EQ(-1, store.GetStopIndex());
        CFrameArray clip;
        clip.Add(new CFrameImage(8, 8, 24));
        EXPECT_FALSE(store.CutInto(&clip));
        EXPECT_EQ(0, clip.GetSize());
    }
    EXPECT_TRUE(boxes_.texts.empty()) << "nothing ran out of memory";
}

TEST_F(FrameStoreTest, AStoreLeftShortByAFailedAllocateUsesOnlyTheSlotsItHas) {
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(512, 384, 5, 5, 30));
    StoreRange(store, 1, 250);
    store.ArmStop();
    ASSERT_EQ(100, store.GetStopIndex());

    // Room for 100 images only: the rebuild fails after making them.
    CFrameImage::SetImageLimitForTesting(CFrameImage::GetLiveImageCount() - 300 + 100);
    EXPECT_FALSE(store.Allocate(512, 384, 10, 10, 30));
    CFrameImage::SetImageLimitForTesting(0);
    ASSERT_EQ(1u, boxes_.texts.size());
    EXPECT_EQ(L"Out of memory.", boxes_.texts[0]);
    ASSERT_EQ(100, store.GetSlotCount()) << "the images made so far stay";
    EXPECT_EQ(100LL * 589824, store.GetMemoryBytes());
    EXPECT_EQ(5, store.GetPreTime()) << "pre, post, fps and the indexes keep their values";
    EXPECT_EQ(30, store.GetFrameRate());
    EXPECT_EQ(250, store.GetWriteIndex());
    EXPECT_EQ(100, store.GetStopIndex());
    EXPECT_EQ(nullptr, store.GetCurrentFrame()) << "the write index points past the slots";

    // The cut index 100 lies past the slots: nothing is cut, and it is no memory failure.
    CFrameArray clip;
    EXPECT_FALSE(store.CutInto(&clip));
    EXPECT_EQ(0, clip.GetSize());
    EXPECT_EQ(1u, boxes_.texts.size());

    // Frames go into the slots that exist, from slot 0; the stale arming never completes.
    EXPECT_EQ(0, StoreRange(store, 1001, 1250));
    EXPECT_EQ(1250, ReadSeq(*store.GetSlot(49)));
    EXPECT_EQ(50, store.GetWriteIndex());

    // A new press arms within those slots, and the cut is a clip of the 100 of them.
    store.ArmStop();
    ASSERT_GE(store.GetStopIndex(), 0);
    ASSERT_LT(store.GetStopIndex(), 100);
    int stored = 1251;
    while (!StoreRange(store, stored, stored))
        ASSERT_LT(++stored, 1400);
    ASSERT_TRUE(store.CutInto(&clip));
    std::vector<int> expected;
    for (int k = 0; k < 99; ++k)
        expected.push_back(stored - 98 + k);
    expected.push_back(-1);
    ExpectClip(clip, expected);
}

TEST_F(FrameStoreTest, ACutWhoseImagesCannotAllBeMadeFailsLikeOutOfMemory) {
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(512, 384, 5, 5, 30));
    StoreRange(store, 1, 300);
    const int live = CFrameImage::GetLiveImageCount();

    CFrameArray clip;
    clip.Add(new CFrameImage(8, 8, 24));              // junk: deleted by the cut
    CFrameImage::SetImageLimitForTesting(live + 150); // half the clip's images can be made
    EXPECT_FALSE(store.CutInto(&clip));
    CFrameImage::SetImageLimitForTesting(0);
    EXPECT_EQ(0, clip.GetSize()) << "no clip, and no black frames";
    ASSERT_EQ(1u, boxes_.texts.size());
    EXPECT_EQ(L"Out of memory.", boxes_.texts[0]);
    EXPECT_EQ(live, CFrameImage::GetLiveImageCount()) << "the images made for the failed cut are gone";

    ASSERT_TRUE(store.CutInto(&clip));
    EXPECT_EQ(300, clip.GetSize());
    EXPECT_EQ(2, ReadSeq(*clip.GetAt(0)));
}

TEST_F(FrameStoreTest, TheRingAndItsClipsNeedNoGdiObjects) {
    // Wine allows about 65,000 GDI objects per process, far more than Windows' 10,000, so the
    // table is filled for real: with no object to spare the ring is built, frames are stored and a
    // clip is cut, because none of it draws with GDI.
    CFrameStore store;
    const RECT rect = {0, 0, 32, 24};
    GrabbedFrame small = SeqFrame(32, 24, 5);
    ASSERT_TRUE(store.Allocate(32, 24, 1, 0, 8)); // first use of GDI made its lasting objects
    const int freeBefore = FreeGdiObjectSlots();
    const DWORD guiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    CFrameArray clip;
    {
        GdiExhaustion full(0);
        ASSERT_GT(full.Held(), 1000u);
        ASSERT_TRUE(store.Allocate(32, 24, 1, 0, 8));
        for (int i = 0; i < 8; ++i)
            store.StoreFrame(small.bits.data(), small.bits.size(), &small.header, rect, rect);
        EXPECT_EQ(5, ReadSeq(*store.GetSlot(7)));
        EXPECT_TRUE(store.CutInto(&clip));
        EXPECT_EQ(0, CreateRectRgn(0, 0, 1, 1)) << "the table was full throughout";
    }
    ASSERT_EQ(8, clip.GetSize());
    EXPECT_EQ(5, ReadSeq(*clip.GetAt(0)));
    EXPECT_TRUE(boxes_.texts.empty());

    // GDI objects per ring slot and per clip frame at rest: none, by the project's own count, by
    // the handle table, and by GetGuiResources where the platform reports it (it answers 0 under
    // Wine).
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
    EXPECT_EQ(freeBefore, FreeGdiObjectSlots());
    ASSERT_TRUE(store.Allocate(512, 384, 5, 5, 30));
    GrabbedFrame frame = SeqFrame(640, 480, 9);
    const RECT src = {0, 0, 640, 480}, dst = {0, 0, 512, 384};
    for (int i = 0; i < 300; ++i)
        store.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, src, dst);
    CFrameArray big;
    ASSERT_TRUE(store.CutInto(&big));
    ASSERT_EQ(300, big.GetSize());
    EXPECT_EQ(9, ReadSeq(*big.GetAt(0)));
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount()) << "300 slots and 300 clip frames";
    EXPECT_EQ(freeBefore, FreeGdiObjectSlots()) << "300 slots and 300 clip frames";
    if (guiBefore != 0) { // Windows; Wine answers 0
        EXPECT_EQ(guiBefore, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    }
}

TEST_F(FrameStoreTest, WithWindowsQuotaOfGdiObjectsMemoryAloneBoundsTheClips) {
    // The test cap stands in for Windows' 10,000 objects a process. Frames that kept a DC and a
    // section each (two objects) let about 16 clips of 300 frames fit; frames in plain memory
    // let as many fit as memory holds. Small frames keep the memory modest.
    CFrameImage::SetGdiObjectLimitForTesting(10000);
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(32, 24, 5, 5, 30));
    GrabbedFrame small = SeqFrame(32, 24, 77);
    const RECT rect = {0, 0, 32, 24};
    for (int i = 0; i < 300; ++i)
        store.StoreFrame(small.bits.data(), small.bits.size(), &small.header, rect, rect);
    CClipArray clips;
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(testing::Message() << "clip " << i + 1);
        auto clip = std::make_unique<CFrameArray>();
        ASSERT_TRUE(store.CutInto(clip.get()));
        ASSERT_EQ(300, clip->GetSize());
        ASSERT_EQ(77, ReadSeq(*clip->GetAt(298)));
        clips.Add(clip.release());
    }
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
    EXPECT_TRUE(boxes_.texts.empty()) << "12,000 clip frames and not one out-of-memory report";
    CFrameImage::SetGdiObjectLimitForTesting(0);
}

namespace {

// Committed memory the process has touched. Wine answers 0 for PrivateUsage but keeps this one.
SIZE_T CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters));
    return counters.PagefileUsage;
}

} // namespace

TEST_F(FrameStoreTest, TwentyAllocateCutDeleteCyclesLeakNothing) {
    // Small frames show a leak as well as full-size ones: what one cycle would lose is counted per
    // image (its header, its pixel block, a GDI object), and a cycle makes 600 images.
    const int w = 64, h = 48;
    const size_t frameBytes = static_cast<size_t>(w) * h * 3;
    const RECT rect = {0, 0, w, h};
    GrabbedFrame frame(w, h);
    CFrameStore store;
    SIZE_T withClip = 0;
    auto cycle = [&](int seq) {
        ASSERT_TRUE(store.Allocate(w, h, 5, 5, 30));
        for (int i = 0; i < 10; ++i) {
            WriteSeq(frame, seq + i);
            store.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, rect, rect);
        }
        store.ArmStop();
        auto clip = std::make_unique<CFrameArray>();
        ASSERT_TRUE(store.CutInto(clip.get()));
        ASSERT_EQ(300, clip->GetSize());
        withClip = CommittedBytes();
    };
    cycle(1); // warm-up: GDI and the heap make their one-time allocations
    const int live = CFrameImage::GetLiveImageCount();
    const int freeSlots = FreeGdiObjectSlots();
    const SIZE_T before = CommittedBytes();
    // The counter sees a clip: its 299 copied frames are touched memory.
    EXPECT_GT(withClip, before + 299u * frameBytes * 9 / 10);
    for (int i = 0; i < 20; ++i)
        cycle(100 * (i + 2));
    const SIZE_T after = CommittedBytes();
    EXPECT_EQ(live, CFrameImage::GetLiveImageCount());
    EXPECT_EQ(freeSlots, FreeGdiObjectSlots()) << "GDI objects leaked";
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
    // One leaked clip would be 300 pixel blocks (at least a page each, 72 MB over the run); one
    // leaked header per image 12 MB over the run.
    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    EXPECT_LT(growth, 8 * 1024 * 1024) << "committed memory grew by " << growth << " bytes";
    EXPECT_TRUE(boxes_.texts.empty());
}

TEST(SoundBlockTest, TakeRingStartsWithTheOldestByte) {
    const BYTE ring[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Case {
        int writePos;
        BYTE first;
    } cases[] = {{3, 3}, {0, 0}, {9, 9}, {10, 0}, {-1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "write position " << c.writePos);
        SoundBlock block;
        block.Add(0xEE); // junk the block must replace
        block.TakeRing(ring, 10, c.writePos);
        ASSERT_EQ(10, block.GetSize());
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ((c.first + i) % 10, block[i]) << i;
    }
}

namespace {

struct Counted {
    explicit Counted(int* deletions) : deletions_(deletions) {}
    ~Counted() { ++*deletions_; }
    int* deletions_;
};

} // namespace

TEST(OwningArrayTest, RemovingAnEntryOrTheArrayDeletesIt) {
    int deletions = 0;
    {
        COwningArray<Counted> list;
        for (int i = 0; i < 5; ++i)
            list.Add(new Counted(&deletions));
        Counted* second = list.GetAt(1);
        list.RemoveAt(0);
        EXPECT_EQ(1, deletions);
        EXPECT_EQ(second, list.GetAt(0)) << "later entries move down";
        EXPECT_EQ(4, list.GetSize());
        list.RemoveAt(4); // outside: ignored
        list.RemoveAt(-1);
        EXPECT_EQ(1, deletions);
        std::unique_ptr<Counted> taken(list.Detach(0));
        EXPECT_EQ(1, deletions);
        EXPECT_EQ(3, list.GetSize());
        EXPECT_EQ(nullptr, list.GetAt(3));
        taken.reset();
        EXPECT_EQ(2, deletions);
        list.DeleteAll();
        EXPECT_EQ(5, deletions);
        EXPECT_EQ(0, list.GetSize());
        EXPECT_EQ(0, list.GetCapacity()) << "the pointer block is freed";
        list.Add(new Counted(&deletions));
    }
    EXPECT_EQ(6, deletions) << "the destructor deletes what is left";

    // A clip's images go with the clip.
    const int live = CFrameImage::GetLiveImageCount();
    {
        CClipArray clips;
        auto clip = std::make_unique<CFrameArray>();
        for (int i = 0; i < 3; ++i)
            clip->Add(new CFrameImage(16, 16, 24));
        clip->Add(nullptr); // an empty entry is allowed and skipped
        clips.Add(clip.release());
        EXPECT_EQ(live + 3, CFrameImage::GetLiveImageCount());
    }
    EXPECT_EQ(live, CFrameImage::GetLiveImageCount());
}

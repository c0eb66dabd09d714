// CFrameStore: the ring of the last pre + post seconds of live video, N = fps x (pre + post)
// preallocated frame images. A capture press arms it; once the post seconds have been stored the
// ring holds exactly the span around the press, and the clip maker cuts it into a clip while live
// frames go on into the same ring.
//
// Threading:
// - The window thread calls Allocate (its caller holds the store lock for the whole rebuild),
//   StoreFrame (which takes the store lock while it draws one frame), ArmStop and the accessors.
// - The clip maker's thread calls CutInto, and GetMemoryBytes through the room test, without the
//   store lock: holding it for a whole cut would stall live frames, which the capture graph
//   delivers with a 50 ms send timeout.
// - The ring lock (m_ringMutex, the store's own) guards what the two threads share: which image
//   each slot holds, the slots' pixels while the cut may read them, the cut index and the
//   progress of a running cut. StoreFrame holds it while it draws one frame, CutInto while it
//   copies one frame, Allocate for a rebuild; nobody takes the store lock while holding it
//   (StoreFrame takes the store lock first).
// - A cut is a snapshot of the ring as it stood when the cut began. It copies one frame at a time
//   under the ring lock. Should the writer reach a slot the cut has not copied yet (a cut that has
//   fallen behind the frame rate), StoreFrame hands that slot's image to the clip and takes the
//   clip's still-black image in exchange before it draws, so no frame of the span is lost and the
//   writer waits at most for the one frame the cut is copying.
// - Allocate waits until a running cut has ended and then rebuilds (a cut never sees a ring that
//   is being torn down); a cut that starts during a rebuild waits for the rebuilt ring.
//
// The slots that exist are the ring: after a failed Allocate, or with N = 0, nothing is stored
// into or cut from a slot that is not there.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "FrameArray.h"
#include "FrameScaler.h"
#include "afx_sync.h"

class CFrameStore {
public:
    // lock: the store lock StoreFrame takes (the dialog owns it); none for a store used alone.
    explicit CFrameStore(CCriticalSection* lock = nullptr);
    // Waits for a running cut to end before the slots go.
    virtual ~CFrameStore();
    CFrameStore(const CFrameStore&) = delete;
    CFrameStore& operator=(const CFrameStore&) = delete;

    // Discards every slot and makes fps x (pre + post) black images of width x height x 24, then
    // sets write index 0 and disarms. No slots when the count or the size is 0 or less. 1 done.
    // 0 when memory or an image runs out: the standard out-of-memory report is shown, the images
    // made so far stay, and pre, post, fps and the indexes keep their previous values. Waits for a
    // running cut to end first.
    BOOL Allocate(int width, int height, int pre, int post, int fps);

    // Scales one grabbed frame into the slot at the write index (nearest pixel, CFrameScaler),
    // hands that slot to publish, and advances. length is the number of bytes delivered at bits;
    // src and dst are (x, y, width, height). TRUE when this frame completed the armed store (the
    // stop index is then cleared and the caller starts the clip maker). The frame is dropped
    // (nothing is stored, published or advanced) when there are no slots, when the header is not a
    // 24-bit BI_RGB frame, when its rows need more bytes than were delivered (nothing is ever read
    // past bits + length) or when the source rectangle leaves the frame.
    BOOL StoreFrame(const void* bits, size_t length, const BITMAPINFOHEADER* header, const RECT& src,
                    const RECT& dst, const std::function<void(CFrameImage&)>& publish = nullptr);

    // Bytes a grabbed frame with this header occupies: stride x |height| with rows padded to 4
    // bytes. 0 for a header that does not describe a 24-bit BI_RGB frame.
    static size_t FrameBytesNeeded(const BITMAPINFOHEADER& header) {
        return CFrameScaler::FrameBytesNeeded(header);
    }

    // The capture press: the store completes after fps x post more frames (a whole ring when
    // post is 0). Nothing is armed when there are no slots.
    void ArmStop();
    // Forgets the press: the store no longer completes (the way out of a press no frame follows).
    void Disarm() { m_nStopIndex = -1; }

    // Replaces the clip's frames by N new images: frame k is slot (cut index + 1 + k) mod N for
    // k = 0..N - 2 as the ring stood when the cut began, and frame N - 1 stays black; the clip's
    // frame rate becomes the store's (0 while the clip is empty). 1 done.
    // 0, with the clip left empty, when there is nothing to cut, and also, after the standard
    // out-of-memory report, when memory runs out or the clip's images cannot all be made: a clip
    // never holds frames that are not there. The clip is the store's to fill until the call
    // returns. Safe against a concurrent StoreFrame and Allocate (see Threading).
    // generation: the ring that completed (GetGeneration then); a ring rebuilt since is not cut
    // (0, no report), since its frames are not the span of the press. kAnyGeneration cuts the
    // ring as it stands.
    BOOL CutInto(CFrameArray* clip, unsigned generation = kAnyGeneration) const;
    static constexpr unsigned kAnyGeneration = ~0u;
    // Counts the rebuilds: every Allocate, successful or not, makes a new ring. Any thread.
    unsigned GetGeneration() const;

    // N x bytes per pixel x height x width, from slot 0's header; 0 without slots. Any thread.
    LONGLONG GetMemoryBytes() const;

    // Room for one more clip: twice the store's bytes below the available physical memory.
    // With no store there is always room.
    static BOOL HasRoomForClip(const CFrameStore* store);
    static BOOL HasRoomForClip(const CFrameStore* store, ULONGLONG availablePhysical);

    // Window thread only.
    int GetSlotCount() const { return m_slots.GetSize(); }
    CFrameImage* GetSlot(int index) const { return m_slots.GetAt(index); }
    // The slot at the write index (the one the frame publisher shows), or nullptr.
    CFrameImage* GetCurrentFrame() const { return m_slots.GetAt(m_nWriteIndex); }
    int GetPreTime() const { return m_nPre; }
    int GetPostTime() const { return m_nPost; }
    int GetFrameRate() const { return m_nFps; }
    int GetWriteIndex() const { return m_nWriteIndex; }
    int GetStopIndex() const { return m_nStopIndex; }
    int GetCutIndex() const { return m_nCutIndex; }

    // Test hook: called on the cutting thread, without the ring lock, before each clip frame k
    // is copied, so that a test can hold a cut at a known point.
    void SetCutStepHookForTesting(std::function<void(int k)> hook) { m_cutStepHook = std::move(hook); }

private:
    // Under the ring lock, on the window thread: when a running cut still needs the slot at
    // index, its image goes to the clip and the clip's black image takes its place.
    void HandSlotToCut(int index);
    // Under the ring lock: the ring standing is the one asked for.
    bool IsGeneration(unsigned generation) const {
        return generation == kAnyGeneration || generation == m_nGeneration;
    }

    CCriticalSection* m_pLock;
    int m_nPre = 5;
    int m_nPost = 5;
    int m_nFps = 30;
    int m_nWriteIndex = 0;
    int m_nStopIndex = -1;      // -1: not armed
    int m_nCutIndex = 0;        // the stop index of the last arming, kept for the cut
    unsigned m_nGeneration = 0; // under the ring lock
    CFrameArray m_slots;
    CFrameScaler m_scaler; // window thread, under the store lock

    // The ring lock and the running cut (guarded by it).
    mutable std::mutex m_ringMutex;
    mutable std::condition_variable m_cutEnded;
    mutable bool m_bCutting = false;
    mutable CFrameArray* m_pCutClip = nullptr;
    mutable int m_nCutFrom = 0;            // the cut index the running cut started from
    mutable int m_nCutNext = 0;            // clip frames below this one are copied
    mutable bool* m_pCutTaken = nullptr;   // clip frames the writer handed over, N - 1 of them
    std::atomic<int> m_nWritersWaiting{0}; // StoreFrame calls waiting for the ring lock
    std::function<void(int)> m_cutStepHook;
};

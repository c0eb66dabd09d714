// CFrameStore: the ring of the last pre + post seconds of live video, N = fps x (pre + post)
// preallocated frame images. A capture press arms it; once the post seconds have been stored the
// ring holds exactly the span around the press, and the clip maker cuts it into a clip while live
// frames go on into the same ring.
//
// Threading: the window thread calls Allocate (the caller holds the store lock for the whole
// rebuild), StoreFrame (which takes the store lock while it draws one frame) and ArmStop. The
// clip maker's thread calls CutInto without the lock: the writer's next slot is the one at the
// cut index, which the cut leaves out, and the other N - 1 slots are copied long before the
// writer comes round to them.
//
// The slots that exist are the ring: after a failed Allocate, or with N = 0, nothing is stored
// into or cut from a slot that is not there.
#pragma once

#include <windows.h>

#include <functional>

#include "FrameArray.h"
#include "FrameScaler.h"
#include "afx_sync.h"

class CFrameStore {
public:
    // lock: the store lock StoreFrame takes (the dialog owns it); none for a store used alone.
    explicit CFrameStore(CCriticalSection* lock = nullptr);
    virtual ~CFrameStore();
    CFrameStore(const CFrameStore&) = delete;
    CFrameStore& operator=(const CFrameStore&) = delete;

    // Discards every slot and makes fps x (pre + post) black images of width x height x 24, then
    // sets write index 0 and disarms. No slots when the count or the size is 0 or less. 1 done. 0 when memory
    // or an image runs out: the standard out-of-memory report is shown, the images made so far stay, and pre,
    // post, fps and the indexes keep their previous values.
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

    // Replaces the clip's frames by N new images: frame k is slot (cut index + 1 + k) mod N for
    // k = 0..N - 2, and frame N - 1 stays black. 1 done. 0, with the clip left empty, when there
    // is nothing to cut, and also, after the standard out-of-memory report, when memory runs out
    // or the clip's images cannot all be made: a clip never holds frames that are not there.
    BOOL CutInto(CFrameArray* clip) const;

    // N x bytes per pixel x height x width, from slot 0's header; 0 without slots.
    LONGLONG GetMemoryBytes() const;

    // Room for one more clip: twice the store's bytes below the available physical memory.
    // With no store there is always room.
    static BOOL HasRoomForClip(const CFrameStore* store);
    static BOOL HasRoomForClip(const CFrameStore* store, ULONGLONG availablePhysical);

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

private:
    CCriticalSection* m_pLock;
    int m_nPre = 5;
    int m_nPost = 5;
    int m_nFps = 30;
    int m_nWriteIndex = 0;
    int m_nStopIndex = -1; // -1: not armed
    int m_nCutIndex = 0;   // the stop index of the last arming, kept for the cut
    CFrameArray m_slots;
    CFrameScaler m_scaler; // window thread, under the store lock
};

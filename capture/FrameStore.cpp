#include "FrameStore.h"

#include <climits>
#include <memory>
#include <mutex>
#include <new>

#include "afx_exceptions.h"

CFrameStore::CFrameStore(CCriticalSection* lock) : m_pLock(lock) {}

CFrameStore::~CFrameStore() = default;

BOOL CFrameStore::Allocate(int width, int height, int pre, int post, int fps) {
    try {
        m_slots.DeleteAll();
        // No frame rate, no seconds or no picture: a store without slots, which drops every frame.
        long long count = static_cast<long long>(fps) * (static_cast<long long>(pre) + post);
        if (width <= 0 || height <= 0 || fps <= 0 || static_cast<long long>(pre) + post <= 0)
            count = 0;
        if (count > INT_MAX)
            AfxThrowMemoryException();
        m_scaler.Reserve(width);
        for (long long i = 0; i < count; ++i) {
            std::unique_ptr<CFrameImage> image(new CFrameImage(width, height, 24));
            // A slot without pixels would be stored into and cut as a black frame without anyone
            // knowing; running out of images is running out of memory.
            if (!image->HasPixels())
                AfxThrowMemoryException();
            m_slots.Add(image.get());
            image.release();
        }
    } catch (const std::bad_alloc&) {
        AfxReportMemoryException();
        return FALSE;
    }
    m_nPre = pre;
    m_nPost = post;
    m_nFps = fps;
    m_nWriteIndex = 0;
    m_nStopIndex = -1;
    m_nCutIndex = 0;
    return TRUE;
}

BOOL CFrameStore::StoreFrame(const void* bits, size_t length, const BITMAPINFOHEADER* header, const RECT& src,
                             const RECT& dst, const std::function<void(CFrameImage&)>& publish) {
    const int count = m_slots.GetSize();
    if (count == 0 || !bits || !header)
        return FALSE;
    // After a failed Allocate the write index may point past the slots that exist.
    if (m_nWriteIndex < 0 || m_nWriteIndex >= count)
        m_nWriteIndex = 0;
    CFrameImage* slot = m_slots.GetAt(m_nWriteIndex);
    {
        std::unique_lock<CCriticalSection> hold;
        if (m_pLock)
            hold = std::unique_lock<CCriticalSection>(*m_pLock);
        // A short, foreign or misplaced frame is not drawn at all, and the ring does not move:
        // publishing the slot anyway would show a frame from a whole ring ago.
        if (!m_scaler.Prepare(*header, length, src, *slot, dst))
            return FALSE;
        m_scaler.Draw(static_cast<const BYTE*>(bits), *slot);
    }
    if (publish)
        publish(*slot);
    if (++m_nWriteIndex >= count)
        m_nWriteIndex = 0;
    if (m_nWriteIndex == m_nStopIndex) {
        m_nStopIndex = -1;
        return TRUE;
    }
    return FALSE;
}

void CFrameStore::ArmStop() {
    const int count = m_slots.GetSize();
    if (count == 0)
        return;
    const int write = (m_nWriteIndex >= 0 && m_nWriteIndex < count) ? m_nWriteIndex : 0;
    long long stop = static_cast<long long>(write) + static_cast<long long>(m_nFps) * m_nPost;
    // fps x post never exceeds a whole ring, so one subtraction suffices; the remainder only
    // matters for a ring left short by a failed Allocate.
    if (stop >= count)
        stop -= count;
    if (stop < 0 || stop >= count)
        stop = ((stop % count) + count) % count;
    m_nStopIndex = static_cast<int>(stop);
    m_nCutIndex = m_nStopIndex;
}

BOOL CFrameStore::CutInto(CFrameArray* clip) const {
    if (!clip)
        return FALSE;
    clip->DeleteAll();
    const int count = m_slots.GetSize();
    const CFrameImage* first = m_slots.GetAt(0);
    if (count == 0 || !first || m_nCutIndex < 0 || m_nCutIndex >= count)
        return FALSE;
    const int width = first->GetWidth();
    const int height = first->GetHeight();
    const int bitCount = first->GetBitCount();
    try {
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<CFrameImage> image(new CFrameImage(width, height, bitCount));
            if (!image->HasPixels())
                AfxThrowMemoryException();
            clip->Add(image.get());
            image.release();
        }
    } catch (const std::bad_alloc&) {
        clip->DeleteAll();
        AfxReportMemoryException();
        return FALSE;
    }
    // The slot at the cut index is the oldest of the span and the first the live writer
    // overwrites, so it is left out; the last clip frame stays black.
    for (int k = 0; k + 1 < count; ++k) {
        const CFrameImage* slot = m_slots.GetAt((m_nCutIndex + 1 + k) % count);
        (void)slot->CopyTo(clip->GetAt(k)); // every slot has the shape of slot 0
    }
    return TRUE;
}

LONGLONG CFrameStore::GetMemoryBytes() const {
    const CFrameImage* first = m_slots.GetAt(0);
    if (!first)
        return 0;
    return static_cast<LONGLONG>(m_slots.GetSize()) * (first->GetBitCount() / 8) * first->GetHeight() *
           first->GetWidth();
}

BOOL CFrameStore::HasRoomForClip(const CFrameStore* store, ULONGLONG availablePhysical) {
    if (!store)
        return TRUE;
    return static_cast<ULONGLONG>(2 * store->GetMemoryBytes()) < availablePhysical;
}

BOOL CFrameStore::HasRoomForClip(const CFrameStore* store) {
    MEMORYSTATUS status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    return HasRoomForClip(store, status.dwAvailPhys);
}

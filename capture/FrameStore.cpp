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

size_t CFrameStore::FrameBytesNeeded(const BITMAPINFOHEADER& header) {
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biBitCount != 24 ||
        header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biHeight == LONG_MIN)
        return 0;
    // biSizeImage is not trusted: the grabber writes width x 3 x height there, which is short of
    // the padded rows it actually delivers whenever width x 3 is not a multiple of 4.
    const unsigned long long stride = (static_cast<unsigned long long>(header.biWidth) * 24 + 31) / 32 * 4;
    const unsigned long long rows = header.biHeight < 0 ? -static_cast<long long>(header.biHeight)
                                                        : static_cast<long long>(header.biHeight);
    const unsigned long long bytes = stride * rows;
    return bytes > SIZE_MAX ? 0 : static_cast<size_t>(bytes);
}

BOOL CFrameStore::StoreFrame(const void* bits, size_t length, const BITMAPINFOHEADER* header, const RECT& src,
                             const RECT& dst, const std::function<void(CFrameImage&)>& publish) {
    const int count = m_slots.GetSize();
    if (count == 0 || !bits || !header)
        return FALSE;
    const size_t needed = FrameBytesNeeded(*header);
    if (needed == 0 || needed > length)
        return FALSE; // a short or unknown frame is not drawn at all, and the ring does not move
    // After a failed Allocate the write index may point past the slots that exist.
    if (m_nWriteIndex < 0 || m_nWriteIndex >= count)
        m_nWriteIndex = 0;
    CFrameImage* slot = m_slots.GetAt(m_nWriteIndex);
    {
        std::unique_lock<CCriticalSection> hold;
        if (m_pLock)
            hold = std::unique_lock<CCriticalSection>(*m_pLock);
        // The slot's stretch mode is left alone: the DC's default applies.
        (void)StretchDIBits(slot->GetDC(), dst.left, dst.top, dst.right, dst.bottom, src.left, src.top,
                            src.right, src.bottom, bits, reinterpret_cast<const BITMAPINFO*>(header),
                            DIB_RGB_COLORS,
                            SRCCOPY); // a frame that cannot be drawn leaves the slot as it was
        // The pixels are read directly (publisher, cut on another thread): nothing may stay queued.
        GdiFlush();
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

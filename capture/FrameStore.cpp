#include "FrameStore.h"

#include <climits>
#include <memory>
#include <new>
#include <thread>

#include "afx_exceptions.h"

CFrameStore::CFrameStore(CCriticalSection* lock) : m_pLock(lock) {}

CFrameStore::~CFrameStore() {
    std::unique_lock<std::mutex> ring(m_ringMutex);
    m_cutEnded.wait(ring, [this] { return !m_bCutting; });
}

BOOL CFrameStore::Allocate(int width, int height, int pre, int post, int fps) {
    bool failed = false;
    {
        // A rebuild asked for during a cut happens after it: the cut reads the slots to the end.
        std::unique_lock<std::mutex> ring(m_ringMutex);
        m_cutEnded.wait(ring, [this] { return !m_bCutting; });
        // The slots go now, whatever follows: a cut asked for the ring that stood must not take
        // this one for it.
        if (++m_nGeneration == kAnyGeneration)
            m_nGeneration = 0;
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
            m_nPre = pre;
            m_nPost = post;
            m_nFps = fps;
            m_nWriteIndex = 0;
            m_nStopIndex = -1;
            m_nCutIndex = 0;
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    }
    // The report runs a message loop on this thread, which may deliver the next live frame to
    // StoreFrame: the ring lock must be free by then.
    if (failed) {
        AfxReportMemoryException();
        return FALSE;
    }
    return TRUE;
}

void CFrameStore::HandSlotToCut(int index) {
    const int count = m_slots.GetSize();
    const int k = ((index - m_nCutFrom - 1) % count + count) % count;
    if (k >= count - 1 || k < m_nCutNext || m_pCutTaken[k])
        return; // not part of the cut (the slot at the cut index), or copied already
    CFrameImage* blank = m_pCutClip->Exchange(k, m_slots.GetAt(index));
    m_slots.Exchange(index, blank);
    m_pCutTaken[k] = true;
}

BOOL CFrameStore::StoreFrame(const void* bits, size_t length, const BITMAPINFOHEADER* header, const RECT& src,
                             const RECT& dst, const std::function<void(CFrameImage&)>& publish) {
    const int count = m_slots.GetSize();
    if (count == 0 || !bits || !header)
        return FALSE;
    // After a failed Allocate the write index may point past the slots that exist.
    if (m_nWriteIndex < 0 || m_nWriteIndex >= count)
        m_nWriteIndex = 0;
    CFrameImage* slot = nullptr;
    {
        std::unique_lock<CCriticalSection> hold;
        if (m_pLock)
            hold = std::unique_lock<CCriticalSection>(*m_pLock);
        // A short, foreign or misplaced frame is not drawn at all, and the ring does not move:
        // publishing the slot anyway would show a frame from a whole ring ago.
        if (!m_scaler.Prepare(*header, length, src, *m_slots.GetAt(m_nWriteIndex), dst))
            return FALSE;
        // The draw happens under the ring lock: a cut that starts meanwhile must not copy the
        // slot half drawn. It costs the cut one frame's wait at most.
        ++m_nWritersWaiting;
        std::lock_guard<std::mutex> ring(m_ringMutex);
        --m_nWritersWaiting;
        if (m_bCutting)
            HandSlotToCut(m_nWriteIndex);
        slot = m_slots.GetAt(m_nWriteIndex);
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
    std::lock_guard<std::mutex> ring(m_ringMutex);
    m_nStopIndex = static_cast<int>(stop);
    m_nCutIndex = m_nStopIndex;
}

unsigned CFrameStore::GetGeneration() const {
    std::lock_guard<std::mutex> ring(m_ringMutex);
    return m_nGeneration;
}

BOOL CFrameStore::CutInto(CFrameArray* clip, unsigned generation) const {
    if (!clip)
        return FALSE;
    clip->DeleteAll();
    clip->SetFrameRate(0); // a clip left empty has no rate either
    std::unique_lock<std::mutex> ring(m_ringMutex);
    for (;;) {
        // One cut at a time: a second one waits for the first.
        m_cutEnded.wait(ring, [this] { return !m_bCutting; });
        const int count = m_slots.GetSize();
        const CFrameImage* first = m_slots.GetAt(0);
        if (count == 0 || !first || m_nCutIndex < 0 || m_nCutIndex >= count || !IsGeneration(generation))
            return FALSE;
        const int width = first->GetWidth();
        const int height = first->GetHeight();
        const int bitCount = first->GetBitCount();

        // The images are made without the ring lock, so that live frames and a rebuild need not
        // wait for the allocation; a ring rebuilt meanwhile at another shape means doing it again.
        ring.unlock();
        std::unique_ptr<bool[]> taken;
        bool outOfMemory = false;
        try {
            taken.reset(new bool[static_cast<size_t>(count)]());
            for (int i = 0; i < count; ++i) {
                std::unique_ptr<CFrameImage> image(new CFrameImage(width, height, bitCount));
                if (!image->HasPixels())
                    AfxThrowMemoryException();
                clip->Add(image.get());
                image.release();
            }
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
        if (outOfMemory) {
            clip->DeleteAll();
            AfxReportMemoryException();
            return FALSE;
        }
        ring.lock();
        const CFrameImage* now = m_slots.GetAt(0);
        if (m_bCutting || m_slots.GetSize() != count || !now || now->GetWidth() != width ||
            now->GetHeight() != height || now->GetBitCount() != bitCount) {
            ring.unlock();
            clip->DeleteAll();
            ring.lock();
            continue;
        }
        if (m_nCutIndex < 0 || m_nCutIndex >= count || !IsGeneration(generation)) {
            ring.unlock();
            clip->DeleteAll();
            return FALSE;
        }

        // Allocate waits for the cut, so the rate cannot change under it.
        const int fps = m_nFps;
        m_bCutting = true;
        m_pCutClip = clip;
        m_nCutFrom = m_nCutIndex;
        m_nCutNext = 0;
        m_pCutTaken = taken.get();
        ring.unlock();
        // The slot at the cut index is the oldest of the span and the first the live writer
        // overwrites, so it is left out; the last clip frame stays black.
        for (int k = 0; k + 1 < count; ++k) {
            if (m_cutStepHook)
                m_cutStepHook(k);
            ring.lock();
            if (!taken[k])
                (void)m_slots.GetAt((m_nCutFrom + 1 + k) % count)->CopyTo(clip->GetAt(k)); // same shape
            m_nCutNext = k + 1;
            ring.unlock();
            // Between two frames the writer gets its turn, and may hand over the slot it is about
            // to draw into. The lock is not fair, so the cut steps aside while the writer waits.
            while (m_nWritersWaiting.load() > 0)
                std::this_thread::yield();
        }
        ring.lock();
        m_bCutting = false;
        m_pCutClip = nullptr;
        m_pCutTaken = nullptr;
        ring.unlock();
        m_cutEnded.notify_all();
        clip->SetFrameRate(fps);
        return TRUE;
    }
}

LONGLONG CFrameStore::GetMemoryBytes() const {
    std::lock_guard<std::mutex> ring(m_ringMutex);
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

#include "FramePublisher.h"

#include <cstring>

#include "FrameImage.h"
#include "SharedMem.h"

namespace {

// Holds the channel lock for one access; releases it on every way out.
class CChannelAccess {
public:
    explicit CChannelAccess(CSharedMem* pChannel)
        : m_pChannel(pChannel && pChannel->IsOpen() && pChannel->Lock() ? pChannel : nullptr) {}
    ~CChannelAccess() {
        if (m_pChannel)
            (void)m_pChannel->Unlock(); // a failed release is recorded in the channel object
    }
    CChannelAccess(const CChannelAccess&) = delete;
    CChannelAccess& operator=(const CChannelAccess&) = delete;

    // The header while the lock is held, or nullptr (no lock, or no size word yet).
    SharedFrameHeader* Header() const { return m_pChannel ? m_pChannel->Header() : nullptr; }

private:
    CSharedMem* m_pChannel;
};

} // namespace

BOOL CFramePublisher::RegisterOwner(HWND hwnd) {
    CChannelAccess access(m_pChannel);
    SharedFrameHeader* header = access.Header();
    if (!header)
        return FALSE;
    SetOwnerWindow(*header, hwnd);
    return TRUE;
}

BOOL CFramePublisher::PublishFrame(const CFrameImage& image) {
    // Checked before the lock: a refused frame costs the other side nothing.
    const DWORD bytes = image.GetImageSize();
    if (!image.HasPixels() || bytes == 0 || bytes > kChannelPixelBytes)
        return FALSE;
    CChannelAccess access(m_pChannel);
    SharedFrameHeader* header = access.Header();
    if (!header)
        return FALSE;
    std::memcpy(header->pixels, image.GetBits(), bytes);
    header->dwFlags |= kFrameReady;
    return TRUE;
}

BOOL CFramePublisher::ReadFormat(int& nWidth, int& nHeight) {
    CChannelAccess access(m_pChannel);
    SharedFrameHeader* header = access.Header();
    if (!header)
        return FALSE;
    header->dwFlags &= ~(kFormatFromConnection | kFormatFromSetFormat);

    // Each field read once: a writer that ignores the mutex must not change a value between its
    // check and its use.
    const LONG biWidth = header->bmiHeader.biWidth;
    const LONG biHeight = header->bmiHeader.biHeight;
    BITMAPINFOHEADER wanted = {};
    wanted.biSize = sizeof wanted;
    wanted.biWidth = biWidth > 0 ? biWidth : nWidth;
    wanted.biHeight = biHeight > 0 ? biHeight : nHeight;
    wanted.biPlanes = 1;
    wanted.biBitCount = 24; // the store's frames, whatever depth the header names
    // The ring is rebuilt at this size and every stored frame is published whole, so a size whose
    // frame would not fit the pixel area would have each publish refused, or worse, allocate a ring
    // of absurd frames. Such a size is no request the filter can make; keep the one we have.
    if (wanted.biWidth > 0 && wanted.biHeight > 0 && ChannelFrameBytes(wanted) != 0) {
        nWidth = wanted.biWidth;
        nHeight = wanted.biHeight;
    }
    std::memset(header->pixels, 0, sizeof header->pixels);
    return TRUE;
}

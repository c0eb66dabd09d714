// CFramePublisher: the capture program's side of the shared frame channel. It registers the
// dialog as the channel's owner window, copies each shown frame (live or played) into the pixel
// area and raises FrameReady, and reads the size a client of the virtual camera asked for.
//
// The channel is the dialog's; the publisher only borrows it and may be given none, or one that
// did not open: every operation then does nothing and says so. It keeps no state of its own between
// calls: FrameReady in the header is the only record that a frame is waiting.
//
// Threading: PublishFrame runs on the dialog thread (live frames, the format message) and on the
// playback thread (played frames) at the same time; RegisterOwner and ReadFormat run on the dialog
// thread. Every access takes the channel's named mutex for at most 50 ms and skips the whole access
// when it is not had, so neither thread can stall longer on the virtual camera. No other lock is
// held while the channel lock is.
#pragma once

#include <windows.h>

class CFrameImage;
class CSharedMem;

class CFramePublisher {
public:
    // pChannel: the dialog's channel, not owned; it must outlive the publisher.
    explicit CFramePublisher(CSharedMem* pChannel) : m_pChannel(pChannel) {}
    CFramePublisher(const CFramePublisher&) = delete;
    CFramePublisher& operator=(const CFramePublisher&) = delete;

    // Writes hwnd as the channel's owner window, to which the virtual camera posts its format
    // announcements. TRUE when it was written.
    BOOL RegisterOwner(HWND hwnd);

    // Copies the image's pixel bytes to the start of the pixel area and sets FrameReady (the other
    // flag bits stay). An image without pixels, or larger than the pixel area, is refused whole:
    // nothing is written. TRUE when the frame is in the channel.
    BOOL PublishFrame(const CFrameImage& image);

    // The channel part of a frame store rebuild: clears both format bits (the rest stay), takes the
    // header's biWidth into nWidth and biHeight into nHeight where each is above 0, and zeroes the
    // whole pixel area. A size that is no frame the pixel area can carry at 24 bits (too large, or
    // values any process on the machine may have written) is refused whole: both stay as they
    // were. TRUE when the channel was read; FALSE, with nothing changed, without a channel or when
    // its lock is not had within 50 ms.
    BOOL ReadFormat(int& nWidth, int& nHeight);

private:
    CSharedMem* m_pChannel;
};

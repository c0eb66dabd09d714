#include "ClipSaver.h"

#include <new>

#include "ClipPlayer.h"
#include "SoundFormat.h"
#include "afx_app.h"
#include "afx_exceptions.h"
#include "afx_filedialog.h"
#include "afx_wnd.h"

namespace {

// The hourglass while the file is written; the dialog runs no messages meanwhile, so nothing puts
// the arrow back before the destructor does.
class CWaitCursor {
public:
    CWaitCursor() : m_hOld(SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)))) {}
    ~CWaitCursor() { SetCursor(m_hOld); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_hOld;
};

// Where clip stands in clips now, or -1 when it is gone.
int IndexOf(const CClipArray& clips, const CFrameArray* clip) {
    for (int i = 0; i < clips.GetSize(); ++i)
        if (clips.GetAt(i) == clip)
            return i;
    return -1;
}

AviResult Tell(AviResult result) {
    if (const char* text = ClipSaveMessage(result))
        (void)AfxMessageBox(text, MB_OK | (AviWritten(result) ? MB_ICONINFORMATION : MB_ICONEXCLAMATION));
    return result;
}

} // namespace

const char* ClipSaveMessage(AviResult result) {
    switch (result) {
    case AviResult::Written:
    case AviResult::Cancelled:
        return nullptr;
    case AviResult::WrittenUncompressed:
        return "The chosen compressor cannot compress this clip, so it was saved uncompressed.";
    case AviResult::CannotCreate:
        return "The clip was not saved: no file can be created there.";
    case AviResult::CannotReplace:
        return "The clip was not saved: the existing file cannot be replaced.";
    case AviResult::WriteFailed:
        return "The clip was not saved: writing the file failed. The disk may be full.";
    case AviResult::BadClip:
    case AviResult::BadFrameRate:
    case AviResult::BadSound:
        break;
    }
    return "The clip was not saved.";
}

AviResult SaveClipAs(CWnd* pOwner, const CClipArray& clips, const CSoundBlockArray& sounds, int index,
                     const WAVEFORMATEX* soundFormat, int nCurrentFrameRate) {
    const CFrameArray* clip = clips.GetAt(index);
    if (!clip)
        return AviResult::BadClip; // no clip selected: the button does nothing
    // Taken now: the sound capture may be replaced while the dialogs run the owner's messages.
    const WAVEFORMATEX format = soundFormat ? *soundFormat : ClipSoundFormat();
    try {
        CFileDialog dialog(FALSE, kAviDefaultExtension, "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                           kAviFileFilter, pOwner);
        if (dialog.DoModal() != IDOK)
            return AviResult::Cancelled;
        const CString path = dialog.GetPathName();
        // Each modal dialog ran the owner's messages: the clip may have moved in the list, or gone.
        if (IndexOf(clips, clip) < 0)
            return Tell(AviResult::BadClip);

        CCompressorChoice compressor;
        const CFrameImage* first = clip->GetAt(0);
        if (first && first->HasPixels()) {
            // A copy: the chooser reads the format while it is open, and the clip may go meanwhile.
            BITMAPINFO input = *first->GetHeader();
            // Owned by the dialog, which it disables while it is open; an ownerless chooser would
            // leave the dialog usable, and the clip could be deleted before it is written.
            if (!compressor.Choose(pOwner ? pOwner->m_hWnd : nullptr, &input))
                return AviResult::Cancelled;
        }
        index = IndexOf(clips, clip);
        if (index < 0)
            return Tell(AviResult::BadClip);
        const SoundBlock* sound = sounds.GetAt(index);
        // A rate nobody knows is saved as the player plays it: an AVI file needs one above 0.
        const int rate = clip->GetFrameRate() > 0 ? clip->GetFrameRate()
                         : nCurrentFrameRate > 0  ? nCurrentFrameRate
                                                  : CClipPlayer::kDefaultFrameRate;

        CWaitCursor wait;
        return Tell(WriteAvi(*clip, path, rate, sound ? &format : nullptr, sound ? sound->GetData() : nullptr,
                             sound ? static_cast<DWORD>(sound->GetSize()) : 0, compressor));
    } catch (const std::bad_alloc&) {
        // WriteAvi left the disk as it was; the framework's report says why.
        AfxReportMemoryException();
        return AviResult::WriteFailed;
    }
}

#include "ClipThumbnails.h"

#include <commctrl.h>

#include "FrameDc.h"
#include "afx_string.h"

void RefillClipThumbnails(HWND list, CImageList& thumbs, const CClipArray& clips) {
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    if (clips.IsEmpty())
        return;
    const CFrameArray* firstClip = clips.GetAt(0);
    const CFrameImage* firstFrame = firstClip ? firstClip->GetAt(0) : nullptr;
    if (!firstFrame || firstFrame->GetWidth() <= 0)
        return;
    const int height = firstFrame->GetHeight() * kThumbnailWidth / firstFrame->GetWidth();
    if (height <= 0)
        return;

    // The list view must not hold the image list while it is destroyed and made again.
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
    thumbs.DeleteImageList();
    if (!thumbs.Create(kThumbnailWidth, height, ILC_COLOR24, 0, clips.GetSize()))
        return;
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(thumbs.m_hImageList));

    // One DC for the scratch image serves every thumbnail; the clips' frames are drawn from memory.
    CFrameImage scratch(kThumbnailWidth, height, 24);
    CFrameDc scratchDc(scratch);
    for (int i = 0; i < clips.GetSize(); ++i) {
        const CFrameArray* clip = clips.GetAt(i);
        const CFrameImage* frame = clip ? clip->GetAt(0) : nullptr;
        // A clip without a picture gets a black one, not the previous clip's; every clip gets its
        // item, because item numbers are positions.
        if (!frame || !frame->StretchDraw(scratchDc.get(), 0, 0, kThumbnailWidth, height, FALSE, FALSE))
            scratch.Fill(0);
        GdiFlush(); // the list copies the scratch image's bytes
        const int image = scratch.AddToImageList(&thumbs);

        CString text;
        text.Format("%d", i + 1);
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = const_cast<char*>(text.GetString());
        item.iImage = image >= 0 ? image : I_IMAGENONE;
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
}

// CImageList: an owned common-controls image list.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "afx_object.h"

class CImageList : public CObject {
public:
    CImageList() = default;
    ~CImageList() override { DeleteImageList(); }

    // Makes a new list (deleting the one held, if any). FALSE when the platform refuses.
    BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
    // Destroys the list held; FALSE when there was none.
    BOOL DeleteImageList();

    HIMAGELIST GetSafeHandle() const { return m_hImageList; }
    int GetImageCount() const { return m_hImageList ? ImageList_GetImageCount(m_hImageList) : 0; }

    HIMAGELIST m_hImageList = nullptr;
};

// CRemoteListView: a list view control of another process, driven the way its own program would:
// LVM_* messages whose structures (LVITEM, RECT, the text buffer) are placed in that process's
// memory, since a pointer into the probe's memory means nothing there.
//
// Both processes must have the same bitness: LVITEM holds pointers, so its layout differs
// between 32-bit and 64-bit programs. Open refuses a target of the other kind.
#pragma once

#include <windows.h>

#include <string>

#include "UniqueAny.h"

namespace probe {

class CRemoteListView {
public:
    explicit CRemoteListView(HWND list) : m_list(list) {}
    CRemoteListView(const CRemoteListView&) = delete;
    CRemoteListView& operator=(const CRemoteListView&) = delete;

    // Opens the list's process and commits the shared scratch memory there. False, with the
    // reason in Error(), when that cannot be done.
    bool Open();

    // The number of items, or -1 when the list does not answer.
    int Count();
    // The first selected item, or -1 when none is (or the list does not answer).
    int Selected();
    // Makes index the one selected and focused item, as a click on it would, and scrolls it into
    // view. The list tells its parent (LVN_ITEMCHANGED) by itself.
    bool Select(int index);
    // The item's text.
    bool ItemText(int index, std::wstring* pText);
    // A point on the item, in the list's client coordinates, after scrolling it into view: where a
    // user would click it (its icon's centre when the list agrees that is on the item).
    bool ItemPoint(int index, POINT* pPoint);

    const std::wstring& Error() const { return m_error; }

private:
    bool Fail(const std::wstring& text);
    // Sends message to the list; false when it did not answer in time.
    bool Send(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    bool Write(const void* p, SIZE_T cb, SIZE_T offset = 0);
    bool Read(void* p, SIZE_T cb, SIZE_T offset = 0);
    // False, with the reason, when the list has no item index.
    bool RequireItem(int index);
    // Whether the list's hit test puts point on item index.
    bool HitsItem(POINT point, int index, bool* pHit);
    LPARAM Remote(SIZE_T offset = 0) const {
        return reinterpret_cast<LPARAM>(static_cast<BYTE*>(m_memory.get()) + offset);
    }

    // Scratch layout in the list's process: the LVITEMW (or RECT) first, the text buffer after it.
    static constexpr SIZE_T kTextOffset = 256;
    static constexpr int kTextChars = 1024;
    static constexpr SIZE_T kScratchSize = kTextOffset + kTextChars * sizeof(wchar_t);

    const HWND m_list;
    win::UniqueHandle m_process;
    win::UniqueRemoteMemory m_memory; // freed before m_process closes (reverse declaration order)
    std::wstring m_error;
};

} // namespace probe

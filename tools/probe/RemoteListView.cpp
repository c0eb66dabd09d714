#include "RemoteListView.h"

#include <windows.h>

#include <commctrl.h>

#include "ProbeWindows.h"

namespace probe {

namespace {

bool IsWow64(HANDLE process, BOOL* pWow64) {
    return IsWow64Process(process, pWow64) != FALSE;
}

} // namespace

bool CRemoteListView::Fail(const std::wstring& text) {
    m_error = text;
    return false;
}

bool CRemoteListView::Open() {
    DWORD processId = 0;
    if (!GetWindowThreadProcessId(m_list, &processId))
        return Fail(L"the list view is gone");
    m_process.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                    PROCESS_QUERY_LIMITED_INFORMATION,
                                FALSE, processId));
    if (!m_process)
        return Fail(L"cannot open the list view's process (error " + std::to_wstring(GetLastError()) + L")");
    BOOL ours = FALSE, theirs = FALSE;
    if (!IsWow64(GetCurrentProcess(), &ours) || !IsWow64(m_process.get(), &theirs))
        return Fail(L"cannot tell the list view's process's bitness (error " +
                    std::to_wstring(GetLastError()) + L")");
    if (ours != theirs)
        return Fail(L"the list view's process is not of the probe's bitness, so LVITEM's layout differs");
    m_memory = win::UniqueRemoteMemory(m_process.get(), kScratchSize);
    if (!m_memory)
        return Fail(L"cannot commit memory in the list view's process (error " +
                    std::to_wstring(GetLastError()) + L")");
    return true;
}

bool CRemoteListView::Send(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(m_list, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result))
        return Fail(L"the list view did not answer message 0x" + std::to_wstring(message));
    if (pResult)
        *pResult = static_cast<LRESULT>(result);
    return true;
}

bool CRemoteListView::Write(const void* p, SIZE_T cb, SIZE_T offset) {
    SIZE_T done = 0;
    if (!WriteProcessMemory(m_process.get(), static_cast<BYTE*>(m_memory.get()) + offset, p, cb, &done) ||
        done != cb)
        return Fail(L"cannot write into the list view's process (error " + std::to_wstring(GetLastError()) +
                    L")");
    return true;
}

bool CRemoteListView::Read(void* p, SIZE_T cb, SIZE_T offset) {
    SIZE_T done = 0;
    if (!ReadProcessMemory(m_process.get(), static_cast<BYTE*>(m_memory.get()) + offset, p, cb, &done) ||
        done != cb)
        return Fail(L"cannot read from the list view's process (error " + std::to_wstring(GetLastError()) +
                    L")");
    return true;
}

int CRemoteListView::Count() {
    LRESULT count = 0;
    return Send(LVM_GETITEMCOUNT, 0, 0, &count) ? static_cast<int>(count) : -1;
}

int CRemoteListView::Selected() {
    LRESULT index = -1;
    return Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0), &index)
               ? static_cast<int>(index)
               : -1;
}

bool CRemoteListView::RequireItem(int index) {
    const int count = Count();
    if (count < 0)
        return false;
    if (index < 0 || index >= count)
        return Fail(L"the list view has " + std::to_wstring(count) + L" items, no item " +
                    std::to_wstring(index));
    return true;
}

bool CRemoteListView::Select(int index) {
    if (!RequireItem(index))
        return false;
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    // Every other item loses its selection first, as a plain click leaves only one selected.
    item.state = 0;
    LRESULT ok = FALSE;
    if (!Write(&item, sizeof item) || !Send(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), Remote(), &ok))
        return false;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    if (!Write(&item, sizeof item) || !Send(LVM_SETITEMSTATE, static_cast<WPARAM>(index), Remote(), &ok))
        return false;
    if (!ok)
        return Fail(L"the list view refused to select item " + std::to_wstring(index));
    return Send(LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE, nullptr);
}

bool CRemoteListView::ItemText(int index, std::wstring* pText) {
    // LVM_GETITEMTEXT answers an empty text for an item that does not exist.
    if (!RequireItem(index))
        return false;
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = reinterpret_cast<LPWSTR>(Remote(kTextOffset));
    item.cchTextMax = kTextChars;
    const wchar_t empty = 0;
    LRESULT length = 0;
    if (!Write(&item, sizeof item) || !Write(&empty, sizeof empty, kTextOffset) ||
        !Send(LVM_GETITEMTEXTW, static_cast<WPARAM>(index), Remote(), &length))
        return false;
    if (length < 0 || length >= kTextChars)
        return Fail(L"item " + std::to_wstring(index) + L" has no text that fits");
    std::wstring text(static_cast<size_t>(length), L'\0');
    if (length > 0 && !Read(&text[0], static_cast<SIZE_T>(length) * sizeof(wchar_t), kTextOffset))
        return false;
    *pText = text;
    return true;
}

bool CRemoteListView::HitsItem(POINT point, int index, bool* pHit) {
    LVHITTESTINFO test = {};
    test.pt = point;
    LRESULT hit = -1;
    if (!Write(&test, sizeof test) || !Send(LVM_HITTEST, 0, Remote(), &hit))
        return false;
    *pHit = hit == index;
    return true;
}

bool CRemoteListView::ItemPoint(int index, POINT* pPoint) {
    if (!RequireItem(index))
        return false;
    if (!Send(LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE, nullptr))
        return false;
    // The list's own hit test decides, not the rectangles alone: Wine's icon view gives an item
    // without an image an empty icon rectangle and a label rectangle that reaches below the band
    // its hit test accepts. So each part's centre is tried first, then a grid over the part.
    for (int part : {LVIR_ICON, LVIR_LABEL, LVIR_BOUNDS}) {
        RECT rc = {part, 0, 0, 0}; // LVM_GETITEMRECT reads the part from left
        LRESULT ok = FALSE;
        if (!Write(&rc, sizeof rc) || !Send(LVM_GETITEMRECT, static_cast<WPARAM>(index), Remote(), &ok) ||
            !Read(&rc, sizeof rc))
            return false;
        if (!ok || rc.right <= rc.left || rc.bottom <= rc.top)
            continue;
        const LONG stepX = (rc.right - rc.left + 7) / 8, stepY = (rc.bottom - rc.top + 7) / 8;
        POINT candidate = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        bool hit = false;
        if (!HitsItem(candidate, index, &hit))
            return false;
        for (LONG y = rc.top + stepY / 2; !hit && y < rc.bottom; y += stepY) {
            for (LONG x = rc.left + stepX / 2; !hit && x < rc.right; x += stepX) {
                candidate = {x, y};
                if (!HitsItem(candidate, index, &hit))
                    return false;
            }
        }
        if (hit) {
            *pPoint = candidate;
            return true;
        }
    }
    return Fail(L"no point of item " + std::to_wstring(index) + L" is on it by the list's own hit test");
}

} // namespace probe

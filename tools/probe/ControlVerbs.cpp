// The verbs on a dialog's controls: pressing, sliding, choosing and reading them as a user would,
// and waiting for them to change.
#include <windows.h>

#include <commctrl.h>

#include "ProbeVerb.h"
#include "ProbeWindows.h"
#include "RemoteListView.h"

namespace probe {

namespace {

enum class Kind { Button, TrackBar, ComboBox, ListView, Other };

Kind KindOf(HWND control) {
    const std::wstring name = ClassOf(control);
    if (lstrcmpiW(name.c_str(), L"Button") == 0)
        return Kind::Button;
    if (lstrcmpiW(name.c_str(), TRACKBAR_CLASSW) == 0)
        return Kind::TrackBar;
    if (lstrcmpiW(name.c_str(), L"ComboBox") == 0)
        return Kind::ComboBox;
    if (lstrcmpiW(name.c_str(), WC_LISTVIEWW) == 0)
        return Kind::ListView;
    return Kind::Other;
}

bool WrongKind(HWND control, const wchar_t* wanted, std::wstring* pWhy) {
    *pWhy = L"control " + std::to_wstring(GetDlgCtrlID(control)) + L" is a " + ClassOf(control) + L", not " +
            wanted;
    return false;
}

// A user can reach only a control that is shown and enabled.
bool Usable(HWND control, std::wstring* pWhy) {
    if (!IsWindowVisible(control)) {
        *pWhy = L"control " + std::to_wstring(GetDlgCtrlID(control)) + L" is hidden";
        return false;
    }
    if (!IsWindowEnabled(control)) {
        *pWhy = L"control " + std::to_wstring(GetDlgCtrlID(control)) + L" is disabled";
        return false;
    }
    return true;
}

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult, std::wstring* pWhy) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result)) {
        *pWhy = L"no answer to message 0x" + std::to_wstring(message) + L" within " +
                std::to_wstring(kAnswerTimeoutMs) + L" ms";
        return false;
    }
    if (pResult)
        *pResult = static_cast<LRESULT>(result);
    return true;
}

// The control's notification to its dialog, sent (not posted) so that the dialog has handled it
// when the verb returns.
bool Notify(HWND control, UINT message, WPARAM wParam, std::wstring* pWhy) {
    return Send(GetParent(control), message, wParam, reinterpret_cast<LPARAM>(control), nullptr, pWhy);
}

bool OpenList(CRemoteListView& list, std::wstring* pWhy) {
    if (list.Open())
        return true;
    *pWhy = list.Error();
    return false;
}

// Items in a combo box or list view; -1 with a reason when it cannot be told.
int ItemCount(HWND control, std::wstring* pWhy) {
    switch (KindOf(control)) {
    case Kind::ComboBox: {
        LRESULT count = CB_ERR;
        return Send(control, CB_GETCOUNT, 0, 0, &count, pWhy) ? static_cast<int>(count) : -1;
    }
    case Kind::ListView: {
        CRemoteListView list(control);
        if (!OpenList(list, pWhy))
            return -1;
        const int count = list.Count();
        if (count < 0)
            *pWhy = list.Error();
        return count;
    }
    default:
        WrongKind(control, L"a combo box or list view", pWhy);
        return -1;
    }
}

bool ParseIndex(const std::wstring& text, int* pIndex, std::wstring* pWhy) {
    if (ParseInt(text, pIndex) && *pIndex >= 0)
        return true;
    *pWhy = L"not an item index: " + text;
    return false;
}

bool OutOfRange(int index, int count, std::wstring* pWhy) {
    *pWhy = L"there are " + std::to_wstring(count) + L" items, no item " + std::to_wstring(index);
    return false;
}

} // namespace

bool VerbClick(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    if (!control || !Usable(control, pWhy))
        return false;
    if (KindOf(control) != Kind::Button)
        return WrongKind(control, L"a button", pWhy);
    // Posted: a click that opens a modal dialog (save, confirm) would hold a sent message until
    // that dialog closes. BM_CLICK, unlike a bare WM_COMMAND, also ticks a check box as a click does.
    if (!PostMessageW(control, BM_CLICK, 0, 0)) {
        *pWhy = L"cannot post BM_CLICK (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    return true;
}

bool VerbSlide(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    if (!control || !Usable(control, pWhy))
        return false;
    if (KindOf(control) != Kind::TrackBar)
        return WrongKind(control, L"a track bar", pWhy);
    int position = 0;
    if (!ParseInt(args[2], &position)) {
        *pWhy = L"not a position: " + args[2];
        return false;
    }
    LRESULT low = 0, high = 0;
    if (!Send(control, TBM_GETRANGEMIN, 0, 0, &low, pWhy) ||
        !Send(control, TBM_GETRANGEMAX, 0, 0, &high, pWhy))
        return false;
    if (position < low || position > high) {
        *pWhy = L"position " + args[2] + L" lies outside the track bar's range " + std::to_wstring(low) +
                L".." + std::to_wstring(high);
        return false;
    }
    // What a drag to the position and a release there send: the thumb moves, the dialog hears the
    // track, the final position and the end of the track, in that order.
    const UINT scroll = (GetWindowLongW(control, GWL_STYLE) & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
    return Send(control, TBM_SETPOS, TRUE, position, nullptr, pWhy) &&
           Notify(control, scroll, MAKEWPARAM(TB_THUMBTRACK, position), pWhy) &&
           Notify(control, scroll, MAKEWPARAM(TB_THUMBPOSITION, position), pWhy) &&
           Notify(control, scroll, MAKEWPARAM(TB_ENDTRACK, 0), pWhy);
}

bool VerbSelect(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    int index = 0;
    if (!control || !Usable(control, pWhy) || !ParseIndex(args[2], &index, pWhy))
        return false;
    switch (KindOf(control)) {
    case Kind::ComboBox: {
        LRESULT count = 0, chosen = CB_ERR;
        if (!Send(control, CB_GETCOUNT, 0, 0, &count, pWhy))
            return false;
        if (index >= count)
            return OutOfRange(index, static_cast<int>(count), pWhy);
        if (!Send(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0, &chosen, pWhy))
            return false;
        if (chosen != index) {
            *pWhy = L"the combo box refused item " + args[2];
            return false;
        }
        // CB_SETCURSEL does not notify; a user's choice does.
        return Notify(control, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), CBN_SELCHANGE), pWhy);
    }
    case Kind::ListView: {
        CRemoteListView list(control);
        if (!OpenList(list, pWhy))
            return false;
        if (!list.Select(index)) {
            *pWhy = list.Error();
            return false;
        }
        return true;
    }
    default:
        return WrongKind(control, L"a combo box or list view", pWhy);
    }
}

bool VerbCount(const VerbArgs& args, std::wstring* pOut, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    if (!control)
        return false;
    const int count = ItemCount(control, pWhy);
    if (count < 0)
        return false;
    *pOut = std::to_wstring(count);
    return true;
}

bool VerbSelected(const VerbArgs& args, std::wstring* pOut, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    if (!control)
        return false;
    switch (KindOf(control)) {
    case Kind::ComboBox: {
        LRESULT index = CB_ERR;
        if (!Send(control, CB_GETCURSEL, 0, 0, &index, pWhy))
            return false;
        *pOut = std::to_wstring(index == CB_ERR ? -1 : index);
        return true;
    }
    case Kind::ListView: {
        CRemoteListView list(control);
        if (!OpenList(list, pWhy))
            return false;
        *pOut = std::to_wstring(list.Selected());
        return true;
    }
    default:
        return WrongKind(control, L"a combo box or list view", pWhy);
    }
}

bool VerbText(const VerbArgs& args, std::wstring* pOut, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    if (!control)
        return false;
    if (args.size() < 3) {
        if (TextOf(control, pOut))
            return true;
        *pWhy = L"control " + args[1] + L" did not give its text";
        return false;
    }
    int index = 0;
    if (!ParseIndex(args[2], &index, pWhy))
        return false;
    switch (KindOf(control)) {
    case Kind::ComboBox: {
        LRESULT length = CB_ERR;
        if (!Send(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0, &length, pWhy))
            return false;
        if (length == CB_ERR) {
            LRESULT count = 0;
            return Send(control, CB_GETCOUNT, 0, 0, &count, pWhy) &&
                   OutOfRange(index, static_cast<int>(count), pWhy);
        }
        // The system carries CB_GETLBTEXT's buffer across processes, as it does WM_GETTEXT's.
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        if (!Send(control, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]),
                  &length, pWhy))
            return false;
        text.resize(length >= 0 && static_cast<size_t>(length) < text.size() ? static_cast<size_t>(length)
                                                                             : 0);
        *pOut = text;
        return true;
    }
    case Kind::ListView: {
        CRemoteListView list(control);
        if (!OpenList(list, pWhy))
            return false;
        if (!list.ItemText(index, pOut)) {
            *pWhy = list.Error();
            return false;
        }
        return true;
    }
    default:
        return WrongKind(control, L"a combo box or list view", pWhy);
    }
}

bool VerbDoubleClick(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    int index = 0;
    if (!control || !Usable(control, pWhy) || !ParseIndex(args[2], &index, pWhy))
        return false;
    if (KindOf(control) != Kind::ListView)
        return WrongKind(control, L"a list view", pWhy);
    CRemoteListView list(control);
    POINT point = {};
    if (!OpenList(list, pWhy))
        return false;
    if (!list.ItemPoint(index, &point)) {
        *pWhy = list.Error();
        return false;
    }
    // The mouse messages of a real double-click on the item, in their order. The list view itself
    // turns them into a selection, NM_CLICK and NM_DBLCLK to its dialog, exactly as for a user.
    // Posted, because the list may track the mouse in a loop of its own after the first press.
    const LPARAM at = MAKELPARAM(point.x, point.y);
    const struct {
        UINT message;
        WPARAM keys;
    } sequence[] = {{WM_MOUSEMOVE, 0},
                    {WM_LBUTTONDOWN, MK_LBUTTON},
                    {WM_LBUTTONUP, 0},
                    {WM_LBUTTONDBLCLK, MK_LBUTTON},
                    {WM_LBUTTONUP, 0}};
    for (const auto& step : sequence) {
        if (!PostMessageW(control, step.message, step.keys, at)) {
            *pWhy = L"cannot post the mouse messages (error " + std::to_wstring(GetLastError()) + L")";
            return false;
        }
    }
    return true;
}

bool VerbWaitEnabled(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    DWORD timeout = 0;
    if (!control)
        return false;
    if ((args[2] != L"0" && args[2] != L"1") || !ParseTimeout(args, 3, 10000, &timeout)) {
        *pWhy = L"wait-enabled takes 0 or 1 and a time-out";
        return false;
    }
    const bool wanted = args[2] == L"1";
    if (PollUntil(timeout, [&] { return (IsWindowEnabled(control) != FALSE) == wanted; }))
        return true;
    *pWhy = L"control " + args[1] + L" is still " + (wanted ? L"disabled" : L"enabled") + L" after " +
            std::to_wstring(timeout) + L" ms";
    return false;
}

bool VerbWaitText(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    DWORD timeout = 0;
    if (!control)
        return false;
    if (!ParseTimeout(args, 3, 10000, &timeout)) {
        *pWhy = L"not a time-out: " + args[3];
        return false;
    }
    std::wstring text;
    if (PollUntil(timeout, [&] { return TextOf(control, &text) && text == args[2]; }))
        return true;
    *pWhy = L"control " + args[1] + L" shows \"" + text + L"\", not \"" + args[2] + L"\", after " +
            std::to_wstring(timeout) + L" ms";
    return false;
}

bool VerbWaitCount(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND control = RequireControl(args[0], args[1], pWhy);
    int wanted = 0;
    DWORD timeout = 0;
    if (!control)
        return false;
    if (!ParseInt(args[2], &wanted) || wanted < 0 || !ParseTimeout(args, 3, 10000, &timeout)) {
        *pWhy = L"wait-count takes an item count and a time-out";
        return false;
    }
    int count = -1;
    if (PollUntil(timeout, [&] { return (count = ItemCount(control, pWhy)) == wanted; }))
        return true;
    if (count >= 0)
        *pWhy = L"control " + args[1] + L" has " + std::to_wstring(count) + L" items, not " + args[2] +
                L", after " + std::to_wstring(timeout) + L" ms";
    return false;
}

} // namespace probe

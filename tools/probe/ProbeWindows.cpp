#include "ProbeWindows.h"

#include <algorithm>

namespace probe {

namespace {

std::wstring TitleOf(HWND window) {
    wchar_t title[512] = {};
    // InternalGetWindowText reads the title the system keeps, without a message to the window, so
    // a busy or hung program cannot stall the search.
    InternalGetWindowText(window, title, 512);
    return title;
}

bool IsDialogBox(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return lstrcmpW(name, L"#32770") == 0;
}

bool TitleMatches(const std::wstring& title, const std::wstring& pattern) {
    if (!pattern.empty() && pattern.back() == L'*')
        return title.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return title == pattern;
}

} // namespace

HWND FindTopLevel(const std::wstring& pattern) {
    struct Search {
        const std::wstring* pattern;
        HWND visible = nullptr;
        HWND hidden = nullptr;
    } search;
    search.pattern = &pattern;
    EnumWindows(
        [](HWND window, LPARAM param) noexcept -> BOOL {
            Search* s = reinterpret_cast<Search*>(param);
            try {
                if (!TitleMatches(TitleOf(window), *s->pattern))
                    return TRUE;
            } catch (...) {
                return TRUE; // no memory for a title: that window is not the one
            }
            if (IsWindowVisible(window)) {
                s->visible = window;
                return FALSE;
            }
            if (!s->hidden)
                s->hidden = window;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.visible ? search.visible : search.hidden;
}

HWND FindControl(HWND window, int id) {
    if (HWND control = GetDlgItem(window, id))
        return control;
    return FindDescendant(window, nullptr, id);
}

HWND FindDescendant(HWND parent, const wchar_t* className, int id) {
    struct Search {
        const wchar_t* className;
        int id;
        HWND found = nullptr;
    } search = {className, id};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM param) noexcept -> BOOL {
            Search* s = reinterpret_cast<Search*>(param);
            wchar_t name[64] = {};
            GetClassNameW(child, name, 64);
            if ((!s->className || lstrcmpiW(name, s->className) == 0) &&
                (s->id == -1 || GetDlgCtrlID(child) == s->id)) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool TextOf(HWND window, std::wstring* pText) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length))
        return false;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &copied))
        return false;
    text.resize(std::min<size_t>(static_cast<size_t>(copied), text.size() - 1));
    *pText = text;
    return true;
}

std::vector<HWND> OpenDialogs(HWND window) {
    struct Search {
        HWND window;
        DWORD process;
        std::vector<HWND>* found;
    };
    std::vector<HWND> found;
    Search search = {window, 0, &found};
    GetWindowThreadProcessId(window, &search.process);
    EnumWindows(
        [](HWND candidate, LPARAM param) noexcept -> BOOL {
            Search* s = reinterpret_cast<Search*>(param);
            DWORD process = 0;
            GetWindowThreadProcessId(candidate, &process);
            if (candidate == s->window || process != s->process || !IsWindowVisible(candidate) ||
                !IsWindowEnabled(candidate) || !IsDialogBox(candidate))
                return TRUE;
            try {
                s->found->push_back(candidate);
            } catch (...) {
                return FALSE; // no memory: what was found so far has to do
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    std::stable_partition(found.begin(), found.end(),
                          [window](HWND dialog) { return GetWindow(dialog, GW_OWNER) == window; });
    return found;
}

} // namespace probe

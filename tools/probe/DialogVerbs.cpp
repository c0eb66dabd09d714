// The verbs that answer the common dialogs a program opens: the save-as file dialog and any other
// dialog box to confirm (the compressor chooser). They look for the dialog among the program's
// open dialog boxes, answer it as a user would, and wait until it has closed.
#include "ProbeVerb.h"
#include "ProbeWindows.h"

namespace probe {

namespace {

// The file name field of a file dialog: the edit inside the file name combo box (control 1148,
// cmb13) in the Explorer-style dialog, the edit 1152 (edt1) in older ones. Null for any other
// dialog box.
HWND FileNameField(HWND dialog) {
    if (HWND box = FindDescendant(dialog, nullptr, 1148)) {
        if (lstrcmpiW(ClassOf(box).c_str(), L"Edit") == 0)
            return box;
        if (HWND edit = FindDescendant(box, L"Edit"))
            return edit;
    }
    return FindDescendant(dialog, L"Edit", 1152);
}

// What pressing the dialog's OK (or Save) button sends.
bool PressOk(HWND dialog, std::wstring* pWhy) {
    if (PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK))))
        return true;
    *pWhy = L"cannot post IDOK (error " + std::to_wstring(GetLastError()) + L")";
    return false;
}

bool WaitClosed(HWND dialog, const std::wstring& title, DWORD timeout, std::wstring* pWhy) {
    // A dialog that opens a prompt of its own (a file that exists) stays, disabled under it.
    if (PollUntil(timeout, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        return true;
    *pWhy = L"\"" + title + L"\" is still open " + std::to_wstring(timeout) + L" ms after OK";
    return false;
}

std::wstring TitleOf(HWND window) {
    std::wstring title;
    return TextOf(window, &title) ? title : std::wstring();
}

} // namespace

bool VerbSaveAs(const VerbArgs& args, std::wstring* pOut, std::wstring* pWhy) {
    HWND owner = RequireWindow(args[0], pWhy);
    DWORD timeout = 0;
    if (!owner)
        return false;
    if (!ParseTimeout(args, 2, 10000, &timeout)) {
        *pWhy = L"not a time-out: " + args[2];
        return false;
    }
    HWND dialog = nullptr, field = nullptr;
    if (!PollUntil(timeout, [&] {
            for (HWND candidate : OpenDialogs(owner))
                if ((field = FileNameField(candidate)) != nullptr) {
                    dialog = candidate;
                    return true;
                }
            return false;
        })) {
        *pWhy = L"\"" + args[0] + L"\" opened no file dialog within " + std::to_wstring(timeout) + L" ms";
        return false;
    }
    const std::wstring title = TitleOf(dialog);
    DWORD_PTR set = FALSE;
    if (!SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[1].c_str()),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &set) ||
        !set) {
        *pWhy = L"the file name field of \"" + title + L"\" took no text";
        return false;
    }
    if (!PressOk(dialog, pWhy) || !WaitClosed(dialog, title, timeout, pWhy))
        return false;
    *pOut = title;
    return true;
}

bool VerbConfirm(const VerbArgs& args, std::wstring* pOut, std::wstring* pWhy) {
    HWND owner = RequireWindow(args[0], pWhy);
    DWORD timeout = 0;
    if (!owner)
        return false;
    if (!ParseTimeout(args, 1, 10000, &timeout)) {
        *pWhy = L"not a time-out: " + args[1];
        return false;
    }
    HWND dialog = nullptr;
    if (!PollUntil(timeout, [&] {
            for (HWND candidate : OpenDialogs(owner))
                if (!FileNameField(candidate)) {
                    dialog = candidate;
                    return true;
                }
            return false;
        })) {
        *pWhy = L"\"" + args[0] + L"\" opened no dialog box within " + std::to_wstring(timeout) + L" ms";
        return false;
    }
    const std::wstring title = TitleOf(dialog);
    if (!PressOk(dialog, pWhy) || !WaitClosed(dialog, title, timeout, pWhy))
        return false;
    *pOut = title;
    return true;
}

} // namespace probe

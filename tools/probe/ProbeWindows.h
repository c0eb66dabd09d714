// Finding windows of another process: top-level windows by title, controls by id, the dialog boxes
// a program has open, and the text of any of them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

// How long a message to another process's window may take before the probe gives up on it. A
// handler that builds a capture graph under Wine can take seconds on a busy machine.
constexpr UINT kAnswerTimeoutMs = 20000;

// A top-level window by its title: "<title>" exactly, or "<prefix>*" for any title beginning with
// prefix. A visible window is preferred to a hidden one. Null when there is none.
HWND FindTopLevel(const std::wstring& pattern);

// The control with this id among window's descendants (a control inside a group or a child
// dialog still counts). Null when there is none.
HWND FindControl(HWND window, int id);

// The first descendant of parent of this class (case-insensitive) and, unless id is -1, this id.
HWND FindDescendant(HWND parent, const wchar_t* className, int id = -1);

std::wstring ClassOf(HWND window);

// The text of a window of any process (WM_GETTEXT, which the system carries across). False when
// the window did not answer in time.
bool TextOf(HWND window, std::wstring* pText);

// The visible, enabled top-level dialog boxes ("#32770") of the process that owns window, other
// than window itself: the modal dialogs it has open. Those owned by window come first.
std::vector<HWND> OpenDialogs(HWND window);

} // namespace probe

// What lets a video application running at a lower integrity level than Zarvex use the channel.
//
// Windows gives every process an integrity level and every named object a mandatory label; a
// process may not write to an object labelled above its own level, and the system drops window
// messages sent or posted to a window of a higher-level process. Sandboxed hosts (a browser's
// rendering process, a packaged app) run at low integrity, so without this their ZarvexDevice could
// neither open the channel for writing nor tell Zarvex about a format.
//
// Threading: no state of its own beyond one object's lifetime; any thread.
#pragma once

#include <windows.h>

#include "UniqueAny.h"

// Security attributes for a new section or mutex of the channel: a security descriptor with nothing
// but a low mandatory label (no write up from low), so the object keeps its creator's default DACL
// and any process of the same user, low integrity included, may open it for writing.
class CLowIntegrityAttributes {
public:
    CLowIntegrityAttributes();
    CLowIntegrityAttributes(const CLowIntegrityAttributes&) = delete;
    CLowIntegrityAttributes& operator=(const CLowIntegrityAttributes&) = delete;

    // The attributes to create with, or nullptr when the descriptor could not be made (the object
    // then gets the default label, and only hosts of the creator's level or above can write it).
    SECURITY_ATTRIBUTES* Get() { return m_pDescriptor ? &m_attributes : nullptr; }

private:
    win::UniqueLocalMemory m_pDescriptor;
    SECURITY_ATTRIBUTES m_attributes = {};
};

// The SDDL text of that descriptor's label.
constexpr wchar_t kLowIntegrityLabel[] = L"S:(ML;;NW;;;LW)";

// Lets hwnd receive WM_CAMERA_FORMAT from a filter in a process of lower integrity, which the
// system's message filter would otherwise drop. Only that message. FALSE (last error set) when the
// system refuses, as for a window of another process.
BOOL AllowCameraFormatMessage(HWND hwnd);

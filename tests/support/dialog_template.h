// Reads a dialog template (DIALOG or DIALOGEX) out of a module's resources, so tests can compare
// a template with what it must hold, independently of how the window renders it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct DialogItem {
    int id = 0;
    std::wstring className; // predefined classes by name: "Button", "Edit", "Static", "ComboBox"…
    std::wstring text;      // "" when the title is a resource ordinal (textOrdinal holds it)
    int textOrdinal = -1;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring faceName;
    std::vector<DialogItem> items;
};

// False when the module has no such dialog resource.
bool LoadDialogTemplate(HMODULE module, int id, DialogTemplate* out);

} // namespace testing_support

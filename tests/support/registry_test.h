// Registry reads for the registration tests: what regsvr32 and the filter mapper left under a key.
#pragma once

#include <windows.h>

#include <string>

#include "UniqueAny.h"

// The REG_SZ text of a value ("" or null: the key's default value), "<no key>" or "<no value>".
inline std::wstring ReadRegString(HKEY root, const std::wstring& key, const wchar_t* value) {
    win::UniqueRegKey h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, h.put()) != ERROR_SUCCESS)
        return L"<no key>";
    wchar_t buf[MAX_PATH * 2] = {};
    DWORD cb = sizeof(buf) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(h.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return L"<no value>";
    return buf;
}

inline bool RegKeyExists(HKEY root, const std::wstring& key) {
    win::UniqueRegKey h;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, h.put()) == ERROR_SUCCESS;
}

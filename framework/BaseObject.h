// CBaseObject: counts the module's live framework objects.
//
// Every filter, pin, enumerator, property page and class factory is one, so DllCanUnloadNow can
// tell whether any code of this module may still be called. The count is changed with interlocked
// operations and may be touched from any thread.
#pragma once

#include <windows.h>

class CBaseObject {
public:
    // The name is for the creator's benefit only; it is not kept.
    explicit CBaseObject(const wchar_t* pName);
    ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    // The number of CBaseObject instances alive in this module.
    static LONG ObjectsActive();
};

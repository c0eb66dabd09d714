// Initialises COM (apartment model) on the constructing thread for the owner's whole life.
#pragma once

#include <objbase.h>

class CComScope {
public:
    // The result is not examined: a failure here shows up later as failing COM calls, which every
    // user of COM in the program already handles.
    CComScope() { (void)CoInitialize(nullptr); }
    ~CComScope() { CoUninitialize(); }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;
};

// A property page site for the page tests: counts its references (a leak-free test ends with it
// back at 1) and records every status change the page tells it of. Anything with an IUnknown can
// also stand in for the object a page is set on.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "Unknown.h"

COM_CLASSES_BEGIN
class CFakePageSite : public IPropertyPageSite {
public:
    LONG refs = 1;
    std::vector<DWORD> changes;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IPropertyPageSite) {
            *ppv = static_cast<IPropertyPageSite*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP OnStatusChange(DWORD flags) override {
        changes.push_back(flags);
        return S_OK;
    }
    STDMETHODIMP GetLocaleID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
};
COM_CLASSES_END

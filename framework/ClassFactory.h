// CFactoryTemplate and CClassFactory: how a filter module creates its COM objects.
//
// A module keeps a table of templates, one row per class it serves; DllGetClassObject hands out a
// CClassFactory for the row whose class identifier was asked for. The factory is itself a counted
// framework object, so a client holding one keeps the module loaded.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include "SetupData.h"
#include "Unknown.h"

// Creates a new object aggregated by pUnkOuter (may be null). *phr starts at S_OK; the function
// sets a failure there when the object it made is unusable.
typedef CUnknown*(CALLBACK* LPFNNewCOMObject)(LPUNKNOWN pUnkOuter, HRESULT* phr);
// Called with TRUE when the module is loaded into a process and with FALSE when it leaves it.
typedef void(CALLBACK* LPFNInitRoutine)(BOOL bLoading, const CLSID* rclsid);

class CFactoryTemplate {
public:
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    BOOL IsClassID(REFCLSID rclsid) const { return rclsid == *m_ClsID; }
    CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) const { return m_lpfnNew(pUnk, phr); }
};

COM_CLASSES_BEGIN
class CClassFactory : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* pTemplate);
    virtual ~CClassFactory() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    volatile LONG m_cRef = 0;
    const CFactoryTemplate* const m_pTemplate;
};
COM_CLASSES_END

// CFilterModule: the plumbing every filter module (.ax) shares, over its factory template table.
//
// A module keeps one CFilterModule for its table and forwards its exports to it:
//
//   static const CFilterModule g_module(g_Templates, g_cTemplates, &CLSID_VideoInputDeviceCategory);
//   BOOL WINAPI DllMain(HINSTANCE h, DWORD r, LPVOID p) { return g_module.DllMain(h, r, p); }
//   STDAPI DllGetClassObject(REFCLSID c, REFIID i, void** pp) { return g_module.GetClassObject(c, i, pp); }
//   STDAPI DllCanUnloadNow() { return CFilterModule::CanUnloadNow(); }
//   STDAPI DllRegisterServer() { return g_module.RegisterServer(); }
//   STDAPI DllUnregisterServer() { return g_module.UnregisterServer(); }
//
// Module-wide state (one copy per loaded module, since the framework is a static library): the
// module instance, the platform identifier, the server lock count; the live-object count is
// CBaseObject's.
#pragma once

#include <windows.h>

#include "ClassFactory.h"

class CFilterModule {
public:
    // deviceCategory: the category (for example CLSID_VideoInputDeviceCategory) in which every
    // template with setup data is listed as a device, besides the default filter category; null
    // for a module whose filters are no devices.
    CFilterModule(const CFactoryTemplate* pTemplates, int cTemplates, const CLSID* pDeviceCategory);

    BOOL DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved) const;
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const;
    HRESULT RegisterServer() const;
    HRESULT UnregisterServer() const;

    // S_OK once no framework object is alive and no server lock is held; else S_FALSE.
    static HRESULT CanUnloadNow();
    static void LockServer(BOOL fLock);
    static LONG ServerLocks();

    // The module instance DllMain recorded; in an executable that links the framework directly
    // (no DllMain runs), the executable's own instance.
    static HINSTANCE Instance();
    static void SetInstance(HINSTANCE hInstance);
    // VER_PLATFORM_WIN32_WINDOWS (1) until DllMain read the real one.
    static DWORD Platform();

    // The COM class keys of every template (CLSID\{...} with its InprocServer32 path and "Both"
    // threading), or their removal with all subkeys.
    HRESULT RegisterComClasses(BOOL bRegister) const;
    // Every template with setup data in the filter mapper's default filter category, through
    // IFilterMapper2 or, where that cannot be created, the older IFilterMapper.
    HRESULT RegisterWithMapper(BOOL bRegister) const;

    const CFactoryTemplate* Templates() const { return m_pTemplates; }
    int TemplateCount() const { return m_cTemplates; }

private:
    // Every template with setup data listed in (or removed from) the device category.
    HRESULT RegisterInDeviceCategory(BOOL bRegister) const;

    const CFactoryTemplate* const m_pTemplates;
    const int m_cTemplates;
    const CLSID* const m_pDeviceCategory;
};

// Registers (or unregisters) one filter's setup record through the older IFilterMapper: the filter,
// each pin and each pin's media types. 0x80070002 (nothing to remove) counts as success.
HRESULT RegisterFilterSetupWithMapper1(IFilterMapper* pMapper, const AMOVIESETUP_FILTER* pSetup,
                                       BOOL bRegister);

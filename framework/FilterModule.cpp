#include "FilterModule.h"

#include <new>

namespace {
HINSTANCE g_hInst = nullptr;
DWORD g_amPlatform = VER_PLATFORM_WIN32_WINDOWS;
// Changed with interlocked operations: two clients may lock and unlock the server from different
// threads, and a lost update would let COM unload the module under a client that holds a lock.
volatile LONG g_cServerLocks = 0;
} // namespace

CFilterModule::CFilterModule(const CFactoryTemplate* pTemplates, int cTemplates, const CLSID* pDeviceCategory)
    : m_pTemplates(pTemplates), m_cTemplates(cTemplates), m_pDeviceCategory(pDeviceCategory) {}

BOOL CFilterModule::DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*pReserved*/) const {
    switch (dwReason) {
    case DLL_PROCESS_ATTACH: {
        DisableThreadLibraryCalls(hInstance);
        g_hInst = hInstance;
        OSVERSIONINFOW info = {};
        info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
        if (GetVersionExW(&info))
            g_amPlatform = info.dwPlatformId;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
        for (int i = 0; i < m_cTemplates; ++i)
            if (m_pTemplates[i].m_lpfnInit)
                m_pTemplates[i].m_lpfnInit(TRUE, m_pTemplates[i].m_ClsID);
        break;
    }
    case DLL_PROCESS_DETACH:
        for (int i = 0; i < m_cTemplates; ++i)
            if (m_pTemplates[i].m_lpfnInit)
                m_pTemplates[i].m_lpfnInit(FALSE, m_pTemplates[i].m_ClsID);
        break;
    default:
        break;
    }
    return TRUE;
}

HRESULT CFilterModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory)
        return E_NOINTERFACE;
    for (int i = 0; i < m_cTemplates; ++i) {
        if (!m_pTemplates[i].IsClassID(rclsid))
            continue;
        CClassFactory* pFactory = new (std::nothrow) CClassFactory(&m_pTemplates[i]);
        if (!pFactory)
            return E_OUTOFMEMORY;
        pFactory->AddRef();
        *ppv = static_cast<IClassFactory*>(pFactory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CFilterModule::CanUnloadNow() {
    return (ServerLocks() > 0 || CBaseObject::ObjectsActive() != 0) ? S_FALSE : S_OK;
}

void CFilterModule::LockServer(BOOL fLock) {
    if (fLock)
        InterlockedIncrement(&g_cServerLocks);
    else
        InterlockedDecrement(&g_cServerLocks);
}

LONG CFilterModule::ServerLocks() {
    return InterlockedCompareExchange(&g_cServerLocks, 0, 0);
}

HINSTANCE CFilterModule::Instance() {
    return g_hInst ? g_hInst : GetModuleHandleW(nullptr);
}

void CFilterModule::SetInstance(HINSTANCE hInstance) {
    g_hInst = hInstance;
}

DWORD CFilterModule::Platform() {
    return g_amPlatform;
}

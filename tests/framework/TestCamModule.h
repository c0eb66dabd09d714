// A filter module (ZarvexTestCamera.ax unless named) loaded from beside the test, the way COM and
// regsvr32 see it.
#pragma once

#include <windows.h>

#include <string>

#include "FrameworkTestUtil.h"

class CTestCamModule {
public:
    typedef HRESULT(STDAPICALLTYPE* PFN_GetClassObject)(REFCLSID, REFIID, void**);
    typedef HRESULT(STDAPICALLTYPE* PFN_Void)();

    explicit CTestCamModule(const wchar_t* name = L"ZarvexTestCamera.ax") : m_path(BesideExe(name)) {
        m_hModule = LoadLibraryW(m_path.c_str());
        if (!m_hModule)
            return;
        GetClassObject = Proc<PFN_GetClassObject>("DllGetClassObject");
        CanUnloadNow = Proc<PFN_Void>("DllCanUnloadNow");
        RegisterServer = Proc<PFN_Void>("DllRegisterServer");
        UnregisterServer = Proc<PFN_Void>("DllUnregisterServer");
    }
    ~CTestCamModule() {
        if (m_hModule)
            FreeLibrary(m_hModule);
    }
    CTestCamModule(const CTestCamModule&) = delete;
    CTestCamModule& operator=(const CTestCamModule&) = delete;

    bool Loaded() const {
        return m_hModule && GetClassObject && CanUnloadNow && RegisterServer && UnregisterServer;
    }
    const std::wstring& Path() const { return m_path; }

    PFN_GetClassObject GetClassObject = nullptr;
    PFN_Void CanUnloadNow = nullptr;
    PFN_Void RegisterServer = nullptr;
    PFN_Void UnregisterServer = nullptr;

private:
    template <typename T> T Proc(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(m_hModule, name)));
    }

    std::wstring m_path;
    HMODULE m_hModule = nullptr;
};

// The moniker of the video input device with this friendly name, or null.
inline ComPtr<IMoniker> FindVideoDevice(const wchar_t* friendlyName) {
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(devEnum.GetAddressOf()))))
        return nullptr;
    ComPtr<IEnumMoniker> monikers;
    if (devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return nullptr;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          reinterpret_cast<void**>(bag.GetAddressOf()))))
            continue;
        VARIANT name;
        VariantInit(&name);
        if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
            lstrcmpW(name.bstrVal, friendlyName) == 0) {
            VariantClear(&name);
            return moniker;
        }
        VariantClear(&name);
    }
    return nullptr;
}

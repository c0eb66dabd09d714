// A filter module (ZarvexDevice.ax, ZarvexTestCamera.ax) loaded from beside the test, the way COM
// and regsvr32 see it, and the bench prefix's registration of it kept as the test found it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "UniqueAny.h"
#include "media_types.h"
#include "test_paths.h"
#include "video_devices.h"

class CModuleLibrary {
public:
    typedef HRESULT(STDAPICALLTYPE* PFN_GetClassObject)(REFCLSID, REFIID, void**);
    typedef HRESULT(STDAPICALLTYPE* PFN_Void)();

    explicit CModuleLibrary(const wchar_t* name) : m_path(testing_support::BinDir() + name) {
        m_module.reset(LoadLibraryW(m_path.c_str()));
        if (!m_module)
            return;
        GetClassObject = Proc<PFN_GetClassObject>("DllGetClassObject");
        CanUnloadNow = Proc<PFN_Void>("DllCanUnloadNow");
        RegisterServer = Proc<PFN_Void>("DllRegisterServer");
        UnregisterServer = Proc<PFN_Void>("DllUnregisterServer");
    }
    CModuleLibrary(const CModuleLibrary&) = delete;
    CModuleLibrary& operator=(const CModuleLibrary&) = delete;

    bool Loaded() const {
        return m_module && GetClassObject && CanUnloadNow && RegisterServer && UnregisterServer;
    }
    const std::wstring& Path() const { return m_path; }

    PFN_GetClassObject GetClassObject = nullptr;
    PFN_Void CanUnloadNow = nullptr;
    PFN_Void RegisterServer = nullptr;
    PFN_Void UnregisterServer = nullptr;

private:
    template <typename T> T Proc(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(m_module.get(), name)));
    }

    std::wstring m_path;
    win::UniqueModule m_module;
};

// Remembers whether the prefix lists the module's device when made, and puts that back when it
// goes: re-registered if it was listed (the bench may have it registered for other tests), else
// unregistered, so that nothing a test registered is left behind.
class CRegistrationKeeper {
public:
    CRegistrationKeeper(CModuleLibrary& module, const wchar_t* friendlyName)
        : m_module(module), m_wasRegistered(FindVideoDevice(friendlyName) != nullptr) {}
    ~CRegistrationKeeper() {
        if (!m_module.Loaded())
            return;
        if (m_wasRegistered) {
            EXPECT_EQ(S_OK, m_module.RegisterServer());
        } else {
            (void)m_module.UnregisterServer(); // nothing of ours may be left either way
        }
    }
    CRegistrationKeeper(const CRegistrationKeeper&) = delete;
    CRegistrationKeeper& operator=(const CRegistrationKeeper&) = delete;

    bool WasRegistered() const { return m_wasRegistered; }

private:
    CModuleLibrary& m_module;
    const bool m_wasRegistered;
};

// A new object of class clsid from the module's own class factory, asked for T; each step must
// succeed, and the factory must go with its last reference.
template <typename T> ComPtr<T> CreateFromModule(CModuleLibrary& module, REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    ComPtr<T> object;
    EXPECT_EQ(S_OK, module.GetClassObject(clsid, IID_IClassFactory,
                                          reinterpret_cast<void**>(factory.GetAddressOf())));
    if (factory) {
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(T),
                                                reinterpret_cast<void**>(object.GetAddressOf())));
        EXPECT_EQ(0u, FinalRelease(factory));
    }
    return object;
}

// ZarvexTestCamera.ax as a module: its exports, its object counts, and registration in the test
// prefix (what regsvr32 does), checked through the system device enumerator and the registry.
#include <windows.h>

#include <gtest/gtest.h>

#include "ComScope.h"
#include "TestCameraIds.h"
#include "media_types.h"
#include "module_library.h"
#include "registry_test.h"

namespace {

const wchar_t kClassKey[] = L"CLSID\\{6B8DAC3B-2D91-46EE-AF05-72698DF6B8F1}";

// The module loaded, and the prefix left as it was: the bench may have the camera registered for
// other tests.
class ModuleTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_TRUE(m_module.Loaded()) << "ZarvexTestCamera.ax must sit beside the test";
    }

    win::ComScope m_com;
    CModuleLibrary m_module{L"ZarvexTestCamera.ax"};
    CRegistrationKeeper m_registration{m_module, TESTCAM_FRIENDLY_NAME};
};

} // namespace

TEST_F(ModuleTest, ExportsAnswerAsAClassObjectServer) {
    void* pv = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, m_module.GetClassObject(CLSID_ZarvexTestCamera, IID_IPersist, &pv));
    EXPECT_EQ(nullptr, pv);
    pv = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m_module.GetClassObject(IID_IPersist, IID_IClassFactory, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(S_OK, m_module.CanUnloadNow());

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, m_module.GetClassObject(CLSID_ZarvexTestCamera, IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.GetAddressOf())));
    EXPECT_EQ(S_FALSE, m_module.CanUnloadNow());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter,
                                            reinterpret_cast<void**>(filter.GetAddressOf())));
    CLSID clsid = {};
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(clsid == CLSID_ZarvexTestCamera);
    pv = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(filter.Get(), IID_IClassFactory, &pv));
    EXPECT_EQ(nullptr, pv);

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(0u, FinalRelease(factory));
    EXPECT_EQ(0u, FinalRelease(filter));
    EXPECT_EQ(S_FALSE, m_module.CanUnloadNow()) << "the server lock alone keeps it";
    ASSERT_EQ(S_OK, m_module.GetClassObject(CLSID_ZarvexTestCamera, IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.GetAddressOf())));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, FinalRelease(factory));
    EXPECT_EQ(S_OK, m_module.CanUnloadNow()) << "every object is gone and no lock is held";
}

TEST_F(ModuleTest, RegistrationListsTheCameraAndUnregistrationRemovesIt) {
    ASSERT_EQ(S_OK, m_module.RegisterServer());
    EXPECT_EQ(L"Zarvex Test Camera", ReadRegString(HKEY_CLASSES_ROOT, kClassKey, nullptr));
    const std::wstring server = std::wstring(kClassKey) + L"\\InprocServer32";
    EXPECT_EQ(0, lstrcmpiW(m_module.Path().c_str(),
                           ReadRegString(HKEY_CLASSES_ROOT, server.c_str(), nullptr).c_str()));
    EXPECT_EQ(L"Both", ReadRegString(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel"));

    ComPtr<IMoniker> moniker = FindVideoDevice(TESTCAM_FRIENDLY_NAME);
    ASSERT_TRUE(moniker) << "the system device enumerator lists the camera";
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                          reinterpret_cast<void**>(filter.GetAddressOf())));
    CLSID clsid = {};
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(clsid == CLSID_ZarvexTestCamera);
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, filter->FindPin(L"1", &pin));
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(S_OK, pin.As(&config));
    config.Reset();
    pin.Reset();
    EXPECT_EQ(0u, FinalRelease(filter));
    moniker.Reset();

    ASSERT_EQ(S_OK, m_module.UnregisterServer());
    EXPECT_FALSE(FindVideoDevice(TESTCAM_FRIENDLY_NAME)) << "gone from the device list";
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kClassKey)) << "COM keys removed";
    EXPECT_EQ(S_OK, m_module.UnregisterServer()) << "unregistering twice finds nothing to remove";
}

TEST(ModuleLoadTest, AServerLockKeepsTheModuleLoadedThroughCom) {
    win::ComScope com;
    const wchar_t* name = L"ZarvexTestCamera.ax";
    bool wasRegistered = false;
    {
        CModuleLibrary module(L"ZarvexTestCamera.ax");
        ASSERT_TRUE(module.Loaded());
        wasRegistered = FindVideoDevice(TESTCAM_FRIENDLY_NAME) != nullptr;
        ASSERT_EQ(S_OK, module.RegisterServer());
    }
    // From here on only COM holds the module, so whether it stays is COM's decision, made from
    // DllCanUnloadNow. The sweep asks for no delay: plain CoFreeUnusedLibraries under Wine keeps a
    // module registered as "Both" for ten more minutes after it agreed to go.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, CoGetClassObject(CLSID_ZarvexTestCamera, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.GetAddressOf())));
    EXPECT_NE(nullptr, GetModuleHandleW(name));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(0u, FinalRelease(factory));
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_NE(nullptr, GetModuleHandleW(name)) << "the lock kept the module loaded";

    ASSERT_EQ(S_OK, CoGetClassObject(CLSID_ZarvexTestCamera, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.GetAddressOf())));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, FinalRelease(factory));
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(nullptr, GetModuleHandleW(name)) << "without the lock COM lets the module go";

    CModuleLibrary module(L"ZarvexTestCamera.ax");
    ASSERT_TRUE(module.Loaded());
    if (!wasRegistered) {
        EXPECT_EQ(S_OK, module.UnregisterServer());
    }
}

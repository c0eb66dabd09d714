// ZarvexDevice.ax as a module: its exports and object counts, registration in the test prefix
// (what regsvr32 does) seen through the system device enumerator, the capture graph builder and the
// registry, and its property page activated in a real window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_test_util.h"
#include "module_library.h"
#include "registry_test.h"
#include "video_devices.h"

namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    (void)StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ClassKey(REFCLSID clsid) {
    return L"CLSID\\" + GuidText(clsid);
}

// The filter's entry under a filter category, where the filter mapper keeps it.
std::wstring InstanceKey(REFCLSID category) {
    return ClassKey(category) + L"\\Instance\\" + GuidText(CLSID_ZarvexDevice);
}

std::wstring ReadString(const std::wstring& key, const wchar_t* value) {
    return ReadRegString(HKEY_CLASSES_ROOT, key, value);
}

bool KeyExists(const std::wstring& key) {
    return RegKeyExists(HKEY_CLASSES_ROOT, key);
}

// The module loaded from beside the test, and the prefix's registration put back as it was found.
class DeviceModuleTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_TRUE(m_module.Loaded()) << "ZarvexDevice.ax must sit beside the test";
        m_settings.Clear();
    }
    template <typename T> ComPtr<T> Create(REFCLSID clsid) { return CreateFromModule<T>(m_module, clsid); }

    win::ComScope m_com;
    CModuleLibrary m_module{L"ZarvexDevice.ax"};
    CRegistrationKeeper m_registration{m_module, L"ZarvexDevice"};
    CSavedFilterSettings m_settings;
};

} // namespace

TEST_F(DeviceModuleTest, ClassObjectsForBothClassesAndNoOthers) {
    EXPECT_NE(nullptr, GetProcAddress(GetModuleHandleW(L"ZarvexDevice.ax"), "DllMain")) << "exported by name";
    const GUID kUnknownClass = {0x3c4b03d4, 0xa958, 0x4358, {0x89, 0x7d, 0xad, 0x5b, 0xa4, 0x6f, 0x27, 0x75}};
    const struct {
        const char* name;
        const CLSID* clsid;
        const IID* iid;
        HRESULT hr;
    } cases[] = {
        {"filter, IClassFactory", &CLSID_ZarvexDevice, &IID_IClassFactory, S_OK},
        {"filter, IUnknown", &CLSID_ZarvexDevice, &IID_IUnknown, S_OK},
        {"page, IClassFactory", &CLSID_ZarvexProp, &IID_IClassFactory, S_OK},
        {"filter, IPersist", &CLSID_ZarvexDevice, &IID_IPersist, E_NOINTERFACE},
        {"unknown class", &kUnknownClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"the settings interface as a class", &IID_IZarvexSettings, &IID_IClassFactory,
         CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        void* pv = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(c.hr, m_module.GetClassObject(*c.clsid, *c.iid, &pv));
        if (c.hr != S_OK) {
            EXPECT_EQ(nullptr, pv);
            continue;
        }
        ASSERT_NE(nullptr, pv);
        EXPECT_EQ(S_FALSE, m_module.CanUnloadNow()) << "a factory keeps the module";
        EXPECT_EQ(0u, static_cast<IUnknown*>(pv)->Release());
        EXPECT_EQ(S_OK, m_module.CanUnloadNow());
    }

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, m_module.GetClassObject(CLSID_ZarvexDevice, IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.GetAddressOf())));
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter,
                                            reinterpret_cast<void**>(filter.GetAddressOf())));
    CLSID clsid = {};
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(clsid == CLSID_ZarvexDevice);
    void* pv = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(filter.Get(), IID_IClassFactory, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(0u, FinalRelease(factory));
    EXPECT_EQ(S_FALSE, m_module.CanUnloadNow()) << "the filter keeps the module";

    ComPtr<IPropertyPage> page = Create<IPropertyPage>(CLSID_ZarvexProp);
    EXPECT_TRUE(page) << "the page's factory makes the page";
    EXPECT_EQ(0u, FinalRelease(page));
    EXPECT_EQ(0u, FinalRelease(filter));
    EXPECT_EQ(S_OK, m_module.CanUnloadNow()) << "after the last release";
}

TEST_F(DeviceModuleTest, RegistrationListsTheCameraAndUnregistrationRemovesEveryTrace) {
    ASSERT_EQ(S_OK, m_module.RegisterServer());
    for (const CLSID* clsid : {&CLSID_ZarvexDevice, &CLSID_ZarvexProp}) {
        const std::wstring key = ClassKey(*clsid);
        SCOPED_TRACE(std::string(key.begin(), key.end()));
        EXPECT_EQ(clsid == &CLSID_ZarvexDevice ? L"ZarvexDevice" : L"Zarvex Property",
                  ReadString(key, nullptr));
        EXPECT_EQ(0,
                  lstrcmpiW(m_module.Path().c_str(), ReadString(key + L"\\InprocServer32", nullptr).c_str()));
        EXPECT_EQ(L"Both", ReadString(key + L"\\InprocServer32", L"ThreadingModel"));
    }
    EXPECT_EQ(L"ZarvexDevice", ReadString(InstanceKey(CLSID_LegacyAmFilterCategory), L"FriendlyName"))
        << "in the default filter category";
    EXPECT_EQ(L"ZarvexDevice", ReadString(InstanceKey(CLSID_VideoInputDeviceCategory), L"FriendlyName"))
        << "in the video input device category";

    ComPtr<IMoniker> moniker = FindVideoDevice(L"ZarvexDevice");
    ASSERT_TRUE(moniker) << "the system device enumerator lists the camera";
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                          reinterpret_cast<void**>(filter.GetAddressOf())));
    moniker.Reset();
    ComPtr<ICaptureGraphBuilder> builder;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICaptureGraphBuilder, reinterpret_cast<void**>(builder.GetAddressOf())));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, filter.Get(), IID_IPin,
                                           reinterpret_cast<void**>(pin.GetAddressOf())));
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_STREQ(L"RGB Out", info.achName);
    info.pFilter->Release();
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, filter.Get(), IID_IAMStreamConfig,
                                           reinterpret_cast<void**>(config.GetAddressOf())));
    config.Reset();
    pin.Reset();
    EXPECT_EQ(0u, FinalRelease(builder));
    EXPECT_EQ(0u, FinalRelease(filter));

    ASSERT_EQ(S_OK, m_module.UnregisterServer());
    EXPECT_FALSE(FindVideoDevice(L"ZarvexDevice")) << "gone from the device list";
    EXPECT_FALSE(KeyExists(InstanceKey(CLSID_VideoInputDeviceCategory)));
    EXPECT_FALSE(KeyExists(InstanceKey(CLSID_LegacyAmFilterCategory)));
    EXPECT_FALSE(KeyExists(ClassKey(CLSID_ZarvexDevice))) << "COM keys removed";
    EXPECT_FALSE(KeyExists(ClassKey(CLSID_ZarvexProp)));
    EXPECT_EQ(S_OK, m_module.UnregisterServer()) << "unregistering twice finds nothing to remove";
}

// An object COM made from the registration keeps the module; its release lets it go.
TEST_F(DeviceModuleTest, ObjectsMadeThroughComKeepTheModuleUntilReleased) {
    ASSERT_EQ(S_OK, m_module.RegisterServer());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZarvexDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(filter.GetAddressOf())));
    EXPECT_EQ(S_FALSE, m_module.CanUnloadNow());
    EXPECT_EQ(0u, FinalRelease(filter));
    EXPECT_EQ(S_OK, m_module.CanUnloadNow());
}

// The device entry made undeletable for real (a subkey under it, which the filter mapper does not
// remove): unregistration reports that failure and leaves the default-category entry and the COM
// keys, so the module stays consistently registered.
TEST_F(DeviceModuleTest, UnregistrationStopsAtTheFirstFailure) {
    ASSERT_EQ(S_OK, m_module.RegisterServer());
    const std::wstring pinned = InstanceKey(CLSID_VideoInputDeviceCategory) + L"\\Pinned";
    {
        win::UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, pinned.c_str(), key.put()));
    }

    const HRESULT hr = m_module.UnregisterServer();
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_TRUE(KeyExists(InstanceKey(CLSID_VideoInputDeviceCategory)));
    EXPECT_TRUE(KeyExists(InstanceKey(CLSID_LegacyAmFilterCategory))) << "default-category entry kept";
    EXPECT_TRUE(KeyExists(ClassKey(CLSID_ZarvexDevice))) << "COM keys kept";
    EXPECT_TRUE(KeyExists(ClassKey(CLSID_ZarvexProp)));

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CLASSES_ROOT, pinned.c_str()));
    EXPECT_EQ(S_OK, m_module.UnregisterServer()) << "with the obstacle gone, everything goes";
    EXPECT_FALSE(KeyExists(ClassKey(CLSID_ZarvexDevice)));
}

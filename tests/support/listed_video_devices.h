// The bench prefix's list of video input devices, changed for one test and put back after it:
// spare test cameras listed under names of the test's choice (CListedTestCamera), and the devices
// already listed taken off the list for a while (CUnlistedVideoDevices).
//
// The list is what the system device enumerator reads: one key per device under
// HKEY_CLASSES_ROOT\CLSID\{video input category}\Instance, holding its "FriendlyName", "CLSID" and
// "FilterData". Wine's enumerator walks those keys in the order of their names, so a test that
// needs its devices in a known order names their keys accordingly, and checks the order it got
// (EnumeratedNames) before it relies on it.
//
// Threading: made and destroyed on a thread that has entered a COM apartment.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <wrl/client.h>

#include <string>
#include <vector>

#include "TestCamCapabilities.h"
#include "TestCameraIds.h"
#include "UniqueAny.h"
#include "video_devices.h"

namespace testing_support {

inline std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    (void)StringFromGUID2(guid, text, 40); // 40 characters always hold a braced GUID
    return text;
}

inline std::wstring DeviceInstanceRoot() {
    return L"CLSID\\" + GuidText(CLSID_VideoInputDeviceCategory) + L"\\Instance";
}

// The friendly names of the video input devices in enumeration order.
inline std::vector<std::wstring> EnumeratedNames() {
    std::vector<std::wstring> names;
    for (const auto& moniker : VideoDevices())
        names.push_back(FriendlyNameOf(moniker.Get()));
    return names;
}

// The class identifier a device moniker stands for ("CLSID" of its property bag), or GUID_NULL.
inline CLSID DeviceClassOf(IMoniker* moniker) {
    CLSID clsid = {};
    Microsoft::WRL::ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                      reinterpret_cast<void**>(bag.GetAddressOf()))))
        return clsid;
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(bag->Read(L"CLSID", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        (void)CLSIDFromString(value.bstrVal, &clsid); // leaves GUID_NULL for a malformed entry
    (void)VariantClear(&value);
    return clsid;
}

// Spare test camera `spare` listed as a video input device under friendlyName, in the key named
// instance, with the capability list named by `capabilities` (TestCamCapabilities.h; null for the
// camera's own). The spare's COM class comes from registering ZarvexTestCamera.ax.
class CListedTestCamera {
public:
    CListedTestCamera(int spare, const std::wstring& friendlyName, const std::wstring& instance,
                      const wchar_t* capabilities = nullptr)
        : m_clsid(CLSID_ZarvexTestCameraSpare[spare]), m_instance(instance) {
        if (!ClassKey(KEY_SET_VALUE, &m_classKey)) {
            m_hr = REGDB_E_CLASSNOTREG;
            return;
        }
        // A listing of this spare, or its capability list, left behind by a test that died goes
        // first; at most one listing of a spare exists at a time.
        RemoveListingsOf(m_clsid);
        (void)RegDeleteValueW(m_classKey.get(), TESTCAM_CAPABILITIES_VALUE); // usually not there
        if (capabilities) {
            const DWORD cb = static_cast<DWORD>((lstrlenW(capabilities) + 1) * sizeof(wchar_t));
            if (RegSetValueExW(m_classKey.get(), TESTCAM_CAPABILITIES_VALUE, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(capabilities), cb) != ERROR_SUCCESS) {
                m_hr = E_ACCESSDENIED;
                return;
            }
        }
        Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
        m_hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(mapper.GetAddressOf()));
        if (FAILED(m_hr))
            return;
        REGFILTER2 rf2 = {};
        rf2.dwVersion = 1;
        rf2.dwMerit = MERIT_DO_NOT_USE;
        Microsoft::WRL::ComPtr<IMoniker> moniker;
        m_hr = mapper->RegisterFilter(m_clsid, friendlyName.c_str(), moniker.GetAddressOf(),
                                      &CLSID_VideoInputDeviceCategory, instance.c_str(), &rf2);
    }
    ~CListedTestCamera() {
        win::UniqueRegKey root;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, DeviceInstanceRoot().c_str(), 0, KEY_ALL_ACCESS, root.put()) ==
            ERROR_SUCCESS)
            (void)RegDeleteTreeW(root.get(), m_instance.c_str()); // absent when listing failed
        if (m_classKey)
            (void)RegDeleteValueW(m_classKey.get(), TESTCAM_CAPABILITIES_VALUE); // may never have been set
    }
    CListedTestCamera(const CListedTestCamera&) = delete;
    CListedTestCamera& operator=(const CListedTestCamera&) = delete;

    // S_OK when the camera is listed; REGDB_E_CLASSNOTREG when ZarvexTestCamera.ax is not registered.
    HRESULT Result() const { return m_hr; }
    const CLSID& Clsid() const { return m_clsid; }

private:
    static void RemoveListingsOf(REFCLSID clsid) {
        win::UniqueRegKey root;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, DeviceInstanceRoot().c_str(), 0, KEY_ALL_ACCESS, root.put()) !=
            ERROR_SUCCESS)
            return;
        const std::wstring wanted = GuidText(clsid);
        std::vector<std::wstring> stale;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD cch = 256;
            if (RegEnumKeyExW(root.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            wchar_t value[64] = {};
            DWORD cb = sizeof value - sizeof value[0];
            if (RegGetValueW(root.get(), name, L"CLSID", RRF_RT_REG_SZ, nullptr, value, &cb) ==
                    ERROR_SUCCESS &&
                lstrcmpiW(value, wanted.c_str()) == 0)
                stale.push_back(name);
        }
        for (const std::wstring& key : stale)
            (void)RegDeleteTreeW(root.get(), key.c_str()); // gone already is as good
    }

    bool ClassKey(REGSAM access, win::UniqueRegKey* key) const {
        const std::wstring path = L"CLSID\\" + GuidText(m_clsid);
        win::UniqueRegKey server;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (path + L"\\InprocServer32").c_str(), 0, KEY_READ,
                          server.put()) != ERROR_SUCCESS)
            return false;
        return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, access, key->put()) == ERROR_SUCCESS;
    }

    const CLSID m_clsid;
    const std::wstring m_instance;
    win::UniqueRegKey m_classKey;
    HRESULT m_hr = E_FAIL;
};

// Every listed video input device whose friendly name is not `keep` (none kept for an empty
// name) taken off the list, and put back exactly as it was when the object goes.
class CUnlistedVideoDevices {
public:
    explicit CUnlistedVideoDevices(const std::wstring& keep = std::wstring()) {
        win::UniqueRegKey root;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, DeviceInstanceRoot().c_str(), 0, KEY_ALL_ACCESS, root.put()) !=
            ERROR_SUCCESS)
            return;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD cch = 256;
            if (RegEnumKeyExW(root.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            Entry entry{name, {}};
            if (!ReadValues(root.get(), name, &entry.values))
                continue;
            bool kept = false;
            for (const Value& v : entry.values)
                kept = kept ||
                       (!keep.empty() && v.name == L"FriendlyName" && v.type == REG_SZ && Text(v) == keep);
            if (!kept)
                m_entries.push_back(entry);
        }
        for (const Entry& e : m_entries)
            m_ok = RegDeleteTreeW(root.get(), e.key.c_str()) == ERROR_SUCCESS && m_ok;
    }
    ~CUnlistedVideoDevices() {
        for (const Entry& e : m_entries) {
            win::UniqueRegKey key;
            if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (DeviceInstanceRoot() + L"\\" + e.key).c_str(), 0, nullptr,
                                0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
                continue;
            for (const Value& v : e.values)
                (void)RegSetValueExW(key.get(), v.name.c_str(), 0, v.type, v.data.data(),
                                     static_cast<DWORD>(v.data.size())); // as it was read
        }
    }
    CUnlistedVideoDevices(const CUnlistedVideoDevices&) = delete;
    CUnlistedVideoDevices& operator=(const CUnlistedVideoDevices&) = delete;

    bool Ok() const { return m_ok; }

private:
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    struct Entry {
        std::wstring key;
        std::vector<Value> values;
    };

    // A REG_SZ value's text, with or without its stored terminator.
    static std::wstring Text(const Value& v) {
        std::wstring text(reinterpret_cast<const wchar_t*>(v.data.data()), v.data.size() / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return text;
    }

    static bool ReadValues(HKEY root, const wchar_t* keyName, std::vector<Value>* values) {
        win::UniqueRegKey key;
        if (RegOpenKeyExW(root, keyName, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
            return false;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD cch = 256, type = 0, cb = 0;
            if (RegEnumValueW(key.get(), i, name, &cch, nullptr, &type, nullptr, &cb) != ERROR_SUCCESS)
                break;
            Value v{name, type, std::vector<BYTE>(cb + 2, 0)};
            cch = 256;
            if (RegEnumValueW(key.get(), i, name, &cch, nullptr, &type, v.data.data(), &cb) != ERROR_SUCCESS)
                return false;
            v.data.resize(cb);
            values->push_back(v);
        }
        return true;
    }

    std::vector<Entry> m_entries;
    bool m_ok = true;
};

} // namespace testing_support

// The system's video capture devices as any video application finds them: through the system
// device enumerator, by friendly name.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <wrl/client.h>

#include <string>
#include <vector>

// The friendly name of a device moniker, or "" when it has none.
inline std::wstring FriendlyNameOf(IMoniker* pMoniker) {
    Microsoft::WRL::ComPtr<IPropertyBag> bag;
    if (FAILED(pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                       reinterpret_cast<void**>(bag.GetAddressOf()))))
        return std::wstring();
    VARIANT name;
    VariantInit(&name);
    std::wstring text;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR && name.bstrVal)
        text = name.bstrVal;
    (void)VariantClear(&name); // a BSTR or nothing: clearing cannot fail
    return text;
}

// Every video input device's moniker, in the enumerator's order (none when there is no device:
// CreateClassEnumerator then answers S_FALSE).
inline std::vector<Microsoft::WRL::ComPtr<IMoniker>> VideoDevices() {
    std::vector<Microsoft::WRL::ComPtr<IMoniker>> devices;
    Microsoft::WRL::ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(devEnum.GetAddressOf()))))
        return devices;
    Microsoft::WRL::ComPtr<IEnumMoniker> monikers;
    if (devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return devices;
    Microsoft::WRL::ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        devices.push_back(moniker);
    return devices;
}

// The moniker of the video input device with this friendly name, or null.
inline Microsoft::WRL::ComPtr<IMoniker> FindVideoDevice(const wchar_t* friendlyName) {
    for (const auto& moniker : VideoDevices())
        if (FriendlyNameOf(moniker.Get()) == friendlyName)
            return moniker;
    return nullptr;
}

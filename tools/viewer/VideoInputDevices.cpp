#include "VideoInputDevices.h"

namespace viewer {

using Microsoft::WRL::ComPtr;

namespace {

std::wstring FriendlyName(IMoniker* pMoniker) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                       reinterpret_cast<void**>(bag.GetAddressOf()))))
        return std::wstring();
    VARIANT value;
    VariantInit(&value);
    std::wstring name;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        name = value.bstrVal;
    (void)VariantClear(&value); // a BSTR or nothing: clearing it cannot fail
    return name;
}

// Calls visit(moniker, name) for each device until it answers false.
template <typename Visit> HRESULT ForEachDevice(Visit visit) {
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(devices.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    ComPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    // S_FALSE: the category is empty, which is no failure.
    if (hr != S_OK)
        return FAILED(hr) ? hr : S_OK;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        if (!visit(moniker.Get(), FriendlyName(moniker.Get())))
            break;
    return S_OK;
}

} // namespace

std::vector<std::wstring> ListVideoInputDevices() {
    std::vector<std::wstring> names;
    (void)ForEachDevice([&](IMoniker*, const std::wstring& name) { // an empty list says enough
        names.push_back(name);
        return true;
    });
    return names;
}

HRESULT OpenVideoInputDevice(const std::wstring& name, ComPtr<IBaseFilter>* pFilter) {
    ComPtr<IMoniker> found;
    HRESULT hr = ForEachDevice([&](IMoniker* pMoniker, const std::wstring& deviceName) {
        if (deviceName != name)
            return true;
        found = pMoniker;
        return false;
    });
    if (FAILED(hr))
        return hr;
    if (!found)
        return S_FALSE;
    return found->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                               reinterpret_cast<void**>(pFilter->ReleaseAndGetAddressOf()));
}

} // namespace viewer

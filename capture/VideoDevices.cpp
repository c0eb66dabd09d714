#include "DShowClient.h"

#include "VideoDevices.h"

#include "DeviceNameText.h"
#include "Log.h"

using Microsoft::WRL::ComPtr;

namespace {

ComPtr<IEnumMoniker> VideoDeviceMonikers() {
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(devEnum.GetAddressOf()))))
        return nullptr;
    ComPtr<IEnumMoniker> monikers;
    // S_FALSE (an empty category) hands out no enumerator at all.
    if (devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0) != S_OK)
        return nullptr;
    return monikers;
}

// The device's friendly name as device name text; false when it has none to read.
bool ReadFriendlyName(IMoniker* moniker, CString* name) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                      reinterpret_cast<void**>(bag.GetAddressOf()))))
        return false;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    const bool read = SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR;
    if (read)
        *name = DeviceNameToText(value.bstrVal ? value.bstrVal : L"");
    (void)VariantClear(&value); // a BSTR or nothing: clearing cannot fail
    return read;
}

bool IsCaptureOrPreviewPin(IPin* pin) {
    ComPtr<IKsPropertySet> props;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(props.GetAddressOf()))))
        return true; // a pin that cannot say its category is taken as it is
    GUID category = {};
    DWORD returned = 0;
    if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category,
                          &returned)) ||
        returned < sizeof category)
        return false;
    return category == PIN_CATEGORY_CAPTURE || category == PIN_CATEGORY_PREVIEW;
}

// The first output pin of the capture or preview category; the last pin walked when none is.
ComPtr<IPin> FormatPin(IBaseFilter* device) {
    ComPtr<IEnumPins> pins;
    if (FAILED(device->EnumPins(pins.GetAddressOf())))
        return nullptr;
    ComPtr<IPin> pin, last;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
            IsCaptureOrPreviewPin(pin.Get()))
            return pin;
        last = pin;
    }
    return last;
}

} // namespace

int EnumVideoDevices(CStringArray& names) {
    ComPtr<IEnumMoniker> monikers = VideoDeviceMonikers();
    if (!monikers)
        return -1;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        CString name;
        if (ReadFriendlyName(moniker.Get(), &name))
            names.Add(name);
    }
    return names.GetSize();
}

ComPtr<IBaseFilter> FindVideoDevice(const CString& name) {
    ComPtr<IEnumMoniker> monikers = VideoDeviceMonikers();
    if (!monikers)
        return nullptr;
    // The whole list is walked and only the last match is bound: binding makes a filter, which
    // an earlier twin would make for nothing.
    ComPtr<IMoniker> moniker, match;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        CString friendly;
        if (ReadFriendlyName(moniker.Get(), &friendly) && friendly == name)
            match = moniker;
    }
    ComPtr<IBaseFilter> device;
    if (match)
        (void)LOG_IF_FAILED(match->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                reinterpret_cast<void**>(device.GetAddressOf())));
    return device;
}

int EnumVideoFormats(IBaseFilter* device, CVideoFormatArray& formats) {
    if (!device)
        return -1;
    ComPtr<IPin> pin = FormatPin(device);
    if (!pin)
        return -2;
    ComPtr<IAMStreamConfig> config;
    if (FAILED(pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf()))))
        return -2;
    int count = 0, recordSize = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &recordSize)) ||
        recordSize != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
        return -2;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        const HRESULT hr = config->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps));
        const TaskMediaType type(pmt); // freed even when a failing device handed one out
        if (FAILED(hr) || !type)
            continue;
        const VIDEOINFOHEADER* format = WholeVideoInfo(*type);
        if (!format || format->bmiHeader.biBitCount < 16)
            continue;
        formats.Add(*format);
    }
    return formats.GetSize();
}

int EnumVideoDeviceFormats(const CString& name, CVideoFormatArray& formats) {
    return EnumVideoFormats(FindVideoDevice(name).Get(), formats);
}

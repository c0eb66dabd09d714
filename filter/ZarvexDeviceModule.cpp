// ZarvexDevice.ax: the module's exports, thin over the framework's CFilterModule.
#include "DShowHeaders.h"

#include "FilterModule.h"
#include "Tesk_Capture.h"
#include "ZarvexIds.h"
#include "ZarvexProp.h"

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};

const AMOVIESETUP_PIN kPins[] = {{
    const_cast<LPWSTR>(ZARVEX_PIN_NAME), // the platform's record is not const-correct
    FALSE,                               // rendered
    TRUE,                                // output
    FALSE,                               // zero instances allowed
    FALSE,                               // many instances
    &CLSID_NULL,                         // connects to filter
    nullptr,                             // connects to pin
    1,
    kPinTypes,
}};

// MERIT_DO_NOT_USE: graph building never inserts the camera by itself; applications pick it from
// the device list.
const AMOVIESETUP_FILTER kFilter = {&CLSID_ZarvexDevice, ZARVEX_DEVICE_NAME, MERIT_DO_NOT_USE, 1, kPins};

const CFactoryTemplate kTemplates[] = {
    {ZARVEX_DEVICE_NAME, &CLSID_ZarvexDevice, CTesk_Capture::CreateInstance, nullptr, &kFilter},
    {L"Zarvex Property", &CLSID_ZarvexProp, CZarvexProp::CreateInstance, nullptr, nullptr},
};

// Listed in the default filter category and, as a camera, in the video input device category.
const CFilterModule g_module(kTemplates, 2, &CLSID_VideoInputDeviceCategory);

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved) {
    return g_module.DllMain(hInstance, dwReason, pReserved);
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return g_module.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return CFilterModule::CanUnloadNow();
}

STDAPI DllRegisterServer() {
    return g_module.RegisterServer();
}

STDAPI DllUnregisterServer() {
    return g_module.UnregisterServer();
}

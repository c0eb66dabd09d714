// ZarvexTestCamera.ax: the module's exports, thin over the framework's CFilterModule.
#include "DShowHeaders.h"

#include "FilterModule.h"
#include "TestCamera.h"
#include "TestCameraIds.h"

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};

const AMOVIESETUP_PIN kPins[] = {{
    const_cast<LPWSTR>(TESTCAM_PIN_NAME), // the platform's record is not const-correct
    FALSE,                                // rendered
    TRUE,                                 // output
    FALSE,                                // zero instances allowed
    FALSE,                                // many instances
    &CLSID_NULL,                          // connects to filter
    nullptr,                              // connects to pin
    1,
    kPinTypes,
}};

// MERIT_DO_NOT_USE, like a hardware camera: graph building never inserts it by itself, and
// applications pick it from the device list.
const AMOVIESETUP_FILTER kFilter = {&CLSID_ZarvexTestCamera, TESTCAM_FRIENDLY_NAME, MERIT_DO_NOT_USE, 1,
                                    kPins};

// The spares have no setup data: registration makes their COM classes and nothing else, so no device
// list shows them until a test lists one itself.
const CFactoryTemplate kTemplates[] = {
    {TESTCAM_FRIENDLY_NAME, &CLSID_ZarvexTestCamera, CTestCamera::CreateInstance, nullptr, &kFilter},
    {L"Zarvex Test Camera (spare 1)", &CLSID_ZarvexTestCameraSpare[0], CTestCamera::CreateSpare<0>, nullptr,
     nullptr},
    {L"Zarvex Test Camera (spare 2)", &CLSID_ZarvexTestCameraSpare[1], CTestCamera::CreateSpare<1>, nullptr,
     nullptr},
    {L"Zarvex Test Camera (spare 3)", &CLSID_ZarvexTestCameraSpare[2], CTestCamera::CreateSpare<2>, nullptr,
     nullptr},
};
static_assert(sizeof kTemplates / sizeof kTemplates[0] == 1 + TESTCAM_SPARE_COUNT, "one template per spare");

const CFilterModule g_module(kTemplates, sizeof kTemplates / sizeof kTemplates[0],
                             &CLSID_VideoInputDeviceCategory);

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

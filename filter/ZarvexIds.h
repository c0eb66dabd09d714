// The class and interface identifiers ZarvexDevice serves. Applications, the registry and the
// property page all know the filter by these values, so they never change.
#pragma once

#include <windows.h>

// The virtual camera filter (CTesk_Capture).
extern const CLSID CLSID_ZarvexDevice;
// Its property page (CZarvexProp).
extern const CLSID CLSID_ZarvexProp;
// The pin's settings interface (IZarvexSettings).
extern const IID IID_IZarvexSettings;

// The friendly name under which the filter is listed among the video capture devices.
#define ZARVEX_DEVICE_NAME L"ZarvexDevice"
// The name of the output pin, also written into the filter registration.
#define ZARVEX_PIN_NAME L"RGB Out"

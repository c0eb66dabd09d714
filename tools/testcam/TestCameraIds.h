// Identity of the Zarvex Test Camera.
#pragma once

#include <windows.h>

// {6B8DAC3B-2D91-46EE-AF05-72698DF6B8F1}
extern const CLSID CLSID_ZarvexTestCamera;

// Its friendly name in the video input device list.
#define TESTCAM_FRIENDLY_NAME L"Zarvex Test Camera"
// Its one output pin.
#define TESTCAM_PIN_NAME L"Capture"

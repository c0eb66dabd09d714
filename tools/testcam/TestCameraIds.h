// Identity of the Zarvex Test Camera.
#pragma once

#include <windows.h>

// {6B8DAC3B-2D91-46EE-AF05-72698DF6B8F1}
extern const CLSID CLSID_ZarvexTestCamera;

// Its friendly name in the video input device list.
#define TESTCAM_FRIENDLY_NAME L"Zarvex Test Camera"
// Its one output pin.
#define TESTCAM_PIN_NAME L"Capture"

// Spare cameras: the same camera under other class identifiers ({6B8DAC3B-...-72698DF6B8F2} and on).
// Registering the module registers their COM classes but lists none of them as a device: a test
// lists one under a name of its choice, and may give it another capability list
// (TestCamCapabilities.h), for as long as it needs a second camera, a twin or an odd one.
constexpr int TESTCAM_SPARE_COUNT = 3;
inline constexpr CLSID CLSID_ZarvexTestCameraSpare[TESTCAM_SPARE_COUNT] = {
    {0x6b8dac3b, 0x2d91, 0x46ee, {0xaf, 0x05, 0x72, 0x69, 0x8d, 0xf6, 0xb8, 0xf2}},
    {0x6b8dac3b, 0x2d91, 0x46ee, {0xaf, 0x05, 0x72, 0x69, 0x8d, 0xf6, 0xb8, 0xf3}},
    {0x6b8dac3b, 0x2d91, 0x46ee, {0xaf, 0x05, 0x72, 0x69, 0x8d, 0xf6, 0xb8, 0xf4}},
};

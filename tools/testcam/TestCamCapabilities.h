// The capability lists the Zarvex Test Camera can answer IAMStreamConfig with, so that tests can
// show a capture program a camera whose list holds entries it must skip.
//
// A camera reads its list once, as the filter is made, from the REG_SZ value "Capabilities" under
// its own class key, HKEY_CLASSES_ROOT\CLSID\{clsid}:
//   missing, or any other text  the camera's sizes, one 24-bit RGB entry each (CTestCameraStream)
//   "mixed"      usable entries with unusable ones between them (TestCamMixedList in the .cpp says
//                which is which)
//   "record136"  the usual entries behind a capability record size of 136 bytes instead of the
//                128 of VIDEO_STREAM_CONFIG_CAPS
// Only the list changes: the formats the pin connects with and accepts in SetFormat stay the
// camera's own, so a usable entry of any list streams as usual.
#pragma once

#include <windows.h>

class CTestCamera;
class CTestCameraStream;

enum class TestCamCapabilityList { Standard, Mixed, Record136 };

constexpr wchar_t TESTCAM_CAPABILITIES_VALUE[] = L"Capabilities";
constexpr wchar_t TESTCAM_CAPABILITIES_MIXED[] = L"mixed";
constexpr wchar_t TESTCAM_CAPABILITIES_RECORD136[] = L"record136";

// The list named under the class key of clsid; Standard when there is none.
TestCamCapabilityList ReadTestCamCapabilityList(REFCLSID clsid);

// Makes the camera's pin (it adds itself to pParent) with that capability list; null when memory
// runs out.
CTestCameraStream* CreateTestCameraStream(HRESULT* phr, CTestCamera* pParent, TestCamCapabilityList list);

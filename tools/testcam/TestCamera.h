// CTestCamera: the Zarvex Test Camera, a push source with one capture pin (CTestCameraStream).
//
// It stands in for a hardware camera wherever tests or the run command need known frames: it is
// registered in the video input device category and built on the same framework as ZarvexDevice.
// The same filter also serves the spare class identifiers (TestCameraIds.h); each instance reports
// the identifier it was made for and reads its capability list for that identifier as it is made.
#pragma once

#include "Source.h"

class CTestCameraStream;

COM_CLASSES_BEGIN
class CTestCamera : public CSource {
public:
    // The factory's creation function for CLSID_ZarvexTestCamera.
    static CUnknown* CALLBACK CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    // The same for spare camera `spare` (0 .. TESTCAM_SPARE_COUNT - 1).
    template <int spare> static CUnknown* CALLBACK CreateSpare(LPUNKNOWN pUnk, HRESULT* phr);

    CTestCameraStream* Stream();

private:
    static CUnknown* Create(LPUNKNOWN pUnk, HRESULT* phr, REFCLSID clsid);
    CTestCamera(LPUNKNOWN pUnk, HRESULT* phr, REFCLSID clsid);
};
COM_CLASSES_END

#include "TestCameraIds.h"

template <int spare> CUnknown* CALLBACK CTestCamera::CreateSpare(LPUNKNOWN pUnk, HRESULT* phr) {
    static_assert(spare >= 0 && spare < TESTCAM_SPARE_COUNT, "no such spare camera");
    return Create(pUnk, phr, CLSID_ZarvexTestCameraSpare[spare]);
}

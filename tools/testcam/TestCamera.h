// CTestCamera: the Zarvex Test Camera, a push source with one capture pin (CTestCameraStream).
//
// It stands in for a hardware camera wherever tests or the run command need known frames: it is
// registered in the video input device category and built on the same framework as ZarvexDevice.
#pragma once

#include "Source.h"

class CTestCameraStream;

COM_CLASSES_BEGIN
class CTestCamera : public CSource {
public:
    // The factory's creation function.
    static CUnknown* CALLBACK CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    CTestCameraStream* Stream();

private:
    CTestCamera(LPUNKNOWN pUnk, HRESULT* phr);
};
COM_CLASSES_END

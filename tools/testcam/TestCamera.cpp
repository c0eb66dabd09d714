#include "TestCamera.h"

#include <new>

#include "TestCamCapabilities.h"
#include "TestCameraIds.h"
#include "TestCameraStream.h"

const CLSID CLSID_ZarvexTestCamera = {
    0x6b8dac3b, 0x2d91, 0x46ee, {0xaf, 0x05, 0x72, 0x69, 0x8d, 0xf6, 0xb8, 0xf1}};

CUnknown* CALLBACK CTestCamera::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    return Create(pUnk, phr, CLSID_ZarvexTestCamera);
}

CUnknown* CTestCamera::Create(LPUNKNOWN pUnk, HRESULT* phr, REFCLSID clsid) {
    CTestCamera* pCamera = new (std::nothrow) CTestCamera(pUnk, phr, clsid);
    if (!pCamera && phr)
        *phr = E_OUTOFMEMORY;
    return pCamera;
}

CTestCamera::CTestCamera(LPUNKNOWN pUnk, HRESULT* phr, REFCLSID clsid)
    : CSource(TESTCAM_FRIENDLY_NAME, pUnk, clsid) {
    CAutoLock lock(&m_cStateLock);
    // The pin registers itself with the filter; the filter deletes it.
    CTestCameraStream* pStream = CreateTestCameraStream(phr, this, ReadTestCamCapabilityList(clsid));
    if (!pStream && phr)
        *phr = E_OUTOFMEMORY;
}

CTestCameraStream* CTestCamera::Stream() {
    return static_cast<CTestCameraStream*>(static_cast<CSourceStream*>(GetPin(0)));
}

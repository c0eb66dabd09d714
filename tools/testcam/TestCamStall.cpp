#include "TestCamStall.h"

std::wstring TestCamStallName(REFCLSID clsid) {
    wchar_t text[40] = {};
    if (!StringFromGUID2(clsid, text, 40))
        return std::wstring(); // cannot happen with a 40-character buffer
    return std::wstring(L"ZarvexTestCameraStall") + text;
}

namespace {

bool StallNamed(const std::wstring& name) {
    // Only the name's existence counts, so the handle is closed again at once: a camera that kept
    // it open would keep the stall alive after its switch went away.
    const win::UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
    return event.is_valid();
}

} // namespace

bool TestCamStalled(REFCLSID clsid) {
    return StallNamed(TestCamStallName(clsid));
}

HRESULT TestCamWaitWhileStalled(IBaseFilter* pFilter, HANDLE hStop) {
    CLSID clsid = {};
    if (!pFilter || FAILED(pFilter->GetClassID(&clsid)))
        return S_OK; // nothing to look up: a camera without a class is never stalled
    const std::wstring name = TestCamStallName(clsid);
    while (StallNamed(name)) {
        if (WaitForSingleObject(hStop, kTestCamStallPollMs) == WAIT_OBJECT_0)
            return S_FALSE;
    }
    return S_OK;
}

CTestCamStall::CTestCamStall(REFCLSID clsid) : m_name(TestCamStallName(clsid)) {}

bool CTestCamStall::Begin() {
    if (m_event)
        return true;
    // Another switch may hold the same stall already (ERROR_ALREADY_EXISTS): this handle then
    // keeps it on as well, which is what was asked for.
    m_event.reset(CreateEventW(nullptr, TRUE, FALSE, m_name.c_str()));
    return m_event.is_valid();
}

// Stalling the Zarvex Test Camera: a run-time switch with which a test or the soak tool makes a
// streaming camera stop delivering frames, as a camera does whose cable is loose or whose driver
// hangs, and later go on again, without touching the process that streams it.
//
// The switch is a named kernel event, one name per camera class (TestCamStallName): a camera of
// that class is stalled for as long as an event of that name exists anywhere in the session,
// whatever its state. Whoever wants a stall makes the event (CTestCamStall::Begin) and closes it
// to end the stall (End, or simply by going away: a crashed test or soak tool cannot leave a
// camera stalled, because the system closes its handles). The camera only opens the event for a
// moment each time it looks, so it never keeps a stall alive itself. A registry value would have
// outlived a killed switcher, and would stay in the bench's prefix for every later test.
//
// While stalled, the camera's streaming thread holds its next frame back: it keeps running, looks
// at the switch again every kTestCamStallPollMs, and answers a stop of the graph at once. Frames
// after the stall go on with the next sequence number, and the pacing starts afresh from the
// moment the stall ended, so no burst of frames follows it.
//
// Threading: the camera side runs on the pin's streaming thread; CTestCamStall is used from one
// thread of the switching process.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <string>

#include "UniqueAny.h"

constexpr DWORD kTestCamStallPollMs = 20;

// The event's name for cameras of class clsid: "ZarvexTestCameraStall{clsid}".
std::wstring TestCamStallName(REFCLSID clsid);

// Whether cameras of this class are stalled right now.
bool TestCamStalled(REFCLSID clsid);

// Camera side: returns S_OK at once when pFilter's class is not stalled, else waits until the
// stall ends (S_OK) or hStop is signalled (S_FALSE: the stream is being told to stop).
HRESULT TestCamWaitWhileStalled(IBaseFilter* pFilter, HANDLE hStop);

// Switch side: stalls every camera of one class, in every process, from Begin to End.
class CTestCamStall {
public:
    explicit CTestCamStall(REFCLSID clsid);
    CTestCamStall(const CTestCamStall&) = delete;
    CTestCamStall& operator=(const CTestCamStall&) = delete;
    ~CTestCamStall() = default; // the event goes with m_event: the stall ends

    // Starts the stall; true when it is on (also when it already was). False, with the reason in
    // GetLastError, when the event cannot be made.
    bool Begin();
    // Ends this object's stall. Cameras go on once no other switch holds a stall of the class.
    void End() { m_event.reset(); }
    bool Active() const { return m_event.is_valid(); }

private:
    const std::wstring m_name;
    win::UniqueHandle m_event;
};

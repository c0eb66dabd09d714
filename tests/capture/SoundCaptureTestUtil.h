// What the sound capture tests share: the default device's entry, a clock, and a call that must
// come back within a bound.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "SoundDeviceList.h"
#include "afx_thread.h"

namespace soundtest {

inline double ClockMs() {
    LARGE_INTEGER f;
    LARGE_INTEGER t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// The default capture device: the bench's null sink monitor.
inline SoundDeviceEntry DefaultDevice() {
    SoundDeviceEntry entry = {};
    entry.bHasGuid = 0;
    return entry;
}

// A device that is not there: DirectSoundCaptureCreate refuses its GUID.
inline SoundDeviceEntry MissingDevice() {
    SoundDeviceEntry entry = {};
    entry.bHasGuid = 1;
    entry.guid = {0x5a52a0e1, 0x0dd0, 0x4c4f, {0x9e, 0x10, 0x2b, 0x7c, 0x41, 0x00, 0xde, 0xad}};
    return entry;
}

// Runs f on a thread of its own and gives the milliseconds it took. A call that has not returned
// after limitMs is a hang: the program stops there with the reason, because the objects the call
// uses cannot be freed under it and the test could only hang further on.
inline double BoundedCall(const char* what, DWORD limitMs, std::function<void()> f) {
    struct Call {
        std::function<void()> f;
        static UINT __cdecl Run(LPVOID p) {
            static_cast<Call*>(p)->f();
            return 0;
        }
    } call{std::move(f)};
    const double start = ClockMs();
    std::unique_ptr<CWinThread> thread = AfxBeginOwnedThread(&Call::Run, &call);
    if (!thread) {
        std::fprintf(stderr, "%s: no thread to run it on\n", what);
        std::abort();
    }
    if (!thread->Join(limitMs)) {
        std::fprintf(stderr, "%s did not return within %lu ms: it hangs\n", what,
                     static_cast<unsigned long>(limitMs));
        std::fflush(stderr);
        std::abort();
    }
    return ClockMs() - start;
}

} // namespace soundtest

// Reaches CSoundCapture's private state for the tests: the buffer holder, the worker's thread
// handle and the state word.
#pragma once

#include <windows.h>

#include <mutex>

#include "SoundCapture.h"

namespace testing_support {

struct SoundCaptureTestAccess {
    // The holder; its fields need SoundCaptureBuffer.h (and so dsound.h) in the test.
    static CSoundCaptureBuffer* Holder(CSoundCapture& capture) { return capture.m_pBuffer.get(); }
    // The current worker's handle, or null; the capture keeps owning it.
    static HANDLE Worker(CSoundCapture& capture) {
        return capture.m_pThread ? capture.m_pThread->m_hThread.get() : nullptr;
    }
    // A handle of the test's own to the current worker, so the test can tell when that very thread
    // has ended after the capture has let go of it. Null when there is no worker.
    static win::UniqueHandle DuplicateWorker(CSoundCapture& capture) {
        HANDLE copy = nullptr;
        HANDLE worker = Worker(capture);
        if (worker)
            DuplicateHandle(GetCurrentProcess(), worker, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
        return win::UniqueHandle(copy);
    }
    static int State(CSoundCapture& capture) {
        std::lock_guard<CCriticalSection> hold(capture.m_lock);
        return capture.m_nState;
    }
};

} // namespace testing_support

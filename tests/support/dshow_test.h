// DirectShow helpers for tests: the sample grabber's identifiers the mingw headers lack, pin
// lookup, and a sample-grabber callback that records every frame's test-camera sequence number.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "testcam_code.h"
#include "wait_until.h"

// Not declared by the mingw headers.
const CLSID kClsidSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kClsidNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// The first pin of the filter with this direction, or null.
inline Microsoft::WRL::ComPtr<IPin> FindPinByDirection(IBaseFilter* pFilter, PIN_DIRECTION dir) {
    Microsoft::WRL::ComPtr<IEnumPins> pins;
    if (FAILED(pFilter->EnumPins(&pins)))
        return nullptr;
    Microsoft::WRL::ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir)
            return pin;
    }
    return nullptr;
}

// COM objects here are never deleted through an interface pointer; see COM_CLASSES_BEGIN in the
// framework's Unknown.h for why GCC's -Wnon-virtual-dtor is quiet about them.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// A sample-grabber callback (BufferCB or SampleCB) that keeps one record per frame, made by the
// derived class from the frame's bytes. It lives on the test's stack or in its fixture: no reference
// counting, like the capture program's own callback.
template <typename TFrame> class CGrabberCallback : public ISampleGrabberCB {
public:
    virtual ~CGrabberCallback() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP SampleCB(double, IMediaSample* pSample) override {
        BYTE* p = nullptr;
        if (FAILED(pSample->GetPointer(&p)))
            return S_OK;
        Record(p, pSample->GetActualDataLength());
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE* pBuffer, long length) override {
        Record(pBuffer, length);
        return S_OK;
    }

    std::vector<TFrame> Frames() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    // The frames from index first on.
    std::vector<TFrame> FramesFrom(size_t first) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (first >= m_frames.size())
            return {};
        return std::vector<TFrame>(m_frames.begin() + static_cast<std::ptrdiff_t>(first), m_frames.end());
    }
    size_t Count() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.clear();
    }
    // Waits until at least n frames arrived or timeoutMs passed; true when they did.
    bool WaitFor(size_t n, DWORD timeoutMs) const {
        return testing_support::WaitUntil([&] { return Count() >= n; }, timeoutMs, 2);
    }

protected:
    // The record of one frame, built under the callback's lock; counter is the performance counter
    // when the callback ran. False drops the frame (the count does not grow).
    virtual bool MakeFrame(const BYTE* p, long length, LONGLONG counter, TFrame* out) = 0;

    mutable std::mutex m_mutex;

private:
    void Record(const BYTE* p, long length) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        std::lock_guard<std::mutex> lock(m_mutex);
        try {
            TFrame f;
            if (MakeFrame(p, length, now.QuadPart, &f))
                m_frames.push_back(std::move(f));
        } catch (...) {
            // out of memory in a test: the count simply stops growing
        }
    }

    std::vector<TFrame> m_frames;
};

struct DecodedFrame {
    std::uint32_t sequence; // valid when decoded
    bool decoded;
    long length;
    LONGLONG counter; // performance counter when the callback ran
};

// Decodes each frame's test-camera sequence number.
class CFrameCollector : public CGrabberCallback<DecodedFrame> {
public:
    using Frame = DecodedFrame;

    // The picture size the grabber was given, for decoding.
    void SetSize(int width, int height) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_width = width;
        m_height = height;
    }

protected:
    bool MakeFrame(const BYTE* p, long length, LONGLONG counter, DecodedFrame* out) override {
        *out = {0, false, length, counter};
        const long need = static_cast<long>(TestCamStride(m_width)) * m_height;
        if (m_width > 0 && length >= need)
            out->decoded = TestCamDecodeSequence(p, m_width, m_height, &out->sequence);
        return true;
    }

private:
    int m_width = 0;
    int m_height = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// How a run of frames went: undecodable frames, gaps (a step forward other than +1) and steps
// that did not go forward at all (a repeated or older sequence number).
struct SequenceReport {
    size_t frames = 0;
    size_t undecoded = 0;
    size_t gaps = 0;
    size_t outOfOrder = 0;
};

inline SequenceReport CheckSequence(const std::vector<CFrameCollector::Frame>& frames) {
    SequenceReport r;
    r.frames = frames.size();
    bool havePrev = false;
    std::uint32_t prev = 0;
    for (const auto& f : frames) {
        if (!f.decoded) {
            ++r.undecoded;
            continue;
        }
        if (havePrev) {
            if (f.sequence <= prev)
                ++r.outOfOrder;
            else if (f.sequence != prev + 1)
                ++r.gaps;
        }
        prev = f.sequence;
        havePrev = true;
    }
    return r;
}

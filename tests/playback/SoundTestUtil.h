// What the sound output's tests and benchmark share: a window for the device's cooperative level,
// a recorder of what the bench's null sink plays (its monitor is the default capture source), and
// a test signal that shows order, gaps and repeats.
//
// This header includes dsound.h: no DirectShow code may be in the same translation unit.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "UniqueAny.h"

namespace soundtest {

constexpr DWORD kBytesPerSecond = 176400;
constexpr DWORD kBytesPerFrame = 4; // one 16-bit stereo sample frame

inline double NowMs() {
    LARGE_INTEGER f;
    LARGE_INTEGER t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// The clip sound format, field by field.
inline void ExpectClipSoundFormat(const WAVEFORMATEX& format) {
    EXPECT_EQ(WAVE_FORMAT_PCM, format.wFormatTag);
    EXPECT_EQ(2, format.nChannels);
    EXPECT_EQ(44100u, format.nSamplesPerSec);
    EXPECT_EQ(176400u, format.nAvgBytesPerSec);
    EXPECT_EQ(4, format.nBlockAlign);
    EXPECT_EQ(16, format.wBitsPerSample);
    EXPECT_EQ(0, format.cbSize);
}

inline WAVEFORMATEX StereoPcm16() {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = kBytesPerSecond;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    return format;
}

// A hidden top-level window for SetCooperativeLevel.
class CTestWindow {
public:
    CTestWindow()
        : m_hwnd(CreateWindowExW(0, L"STATIC", L"sound test", WS_POPUP, 0, 0, 16, 16, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr)) {}
    ~CTestWindow() {
        if (m_hwnd)
            DestroyWindow(m_hwnd);
    }
    CTestWindow(const CTestWindow&) = delete;
    CTestWindow& operator=(const CTestWindow&) = delete;
    HWND get() const { return m_hwnd; }

private:
    HWND m_hwnd;
};

// Records the default capture device into one long non-looping buffer.
class CMonitorRecorder {
public:
    // Empty when all went well, else what failed (the bench always has a capture source, so a test
    // that gets a reason fails with it).
    std::string Start(DWORD dwSeconds) {
        HRESULT hr = DirectSoundCaptureCreate(nullptr, &m_pCapture, nullptr);
        if (FAILED(hr))
            return "DirectSoundCaptureCreate failed: " + Hex(hr) + " (no sound server on the bench?)";
        WAVEFORMATEX format = StereoPcm16();
        DSCBUFFERDESC desc = {};
        desc.dwSize = sizeof(DSCBUFFERDESC1);
        desc.dwBufferBytes = dwSeconds * kBytesPerSecond;
        desc.lpwfxFormat = &format;
        hr = m_pCapture->CreateCaptureBuffer(&desc, &m_pBuffer, nullptr);
        if (FAILED(hr))
            return "CreateCaptureBuffer failed: " + Hex(hr);
        hr = m_pBuffer->Start(0);
        if (FAILED(hr))
            return "capture Start failed: " + Hex(hr);
        // A new capture stream delivers nothing for its first few hundred milliseconds; wait until
        // it does, so what is played next is recorded.
        for (int i = 0; i < 1000; ++i) {
            DWORD dwRead = 0;
            if (SUCCEEDED(m_pBuffer->GetCurrentPosition(nullptr, &dwRead)) && dwRead > 0)
                return {};
            Sleep(10);
        }
        return "the capture position did not move within 10 s";
    }

    // Stops and returns the recorded samples, interleaved left, right.
    std::vector<int16_t> Stop() {
        std::vector<int16_t> samples;
        if (!m_pBuffer)
            return samples;
        DWORD dwRead = 0;
        if (FAILED(m_pBuffer->GetCurrentPosition(nullptr, &dwRead)))
            return samples;
        void* p1 = nullptr;
        void* p2 = nullptr;
        DWORD n1 = 0;
        DWORD n2 = 0;
        if (dwRead && SUCCEEDED(m_pBuffer->Lock(0, dwRead, &p1, &n1, &p2, &n2, 0))) {
            samples.resize(n1 / 2);
            std::memcpy(samples.data(), p1, samples.size() * 2);
            m_pBuffer->Unlock(p1, n1, p2, n2);
        }
        m_pBuffer->Stop();
        return samples;
    }

private:
    static std::string Hex(HRESULT hr) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
        return text;
    }

    Microsoft::WRL::ComPtr<IDirectSoundCapture> m_pCapture;
    Microsoft::WRL::ComPtr<IDirectSoundCaptureBuffer> m_pBuffer;
};

// A rising sweep from 300 Hz to 3 kHz over the whole signal, the sine on the left and the cosine
// on the right: no stretch of it repeats, so a lost, repeated or misplaced block, or swapped
// channels, cannot line up with it.
inline std::vector<int16_t> Sweep(size_t frames, double amplitude = 8000.0) {
    std::vector<int16_t> samples(frames * 2);
    const double pi = 3.14159265358979323846;
    const double f0 = 300.0;
    const double f1 = 3000.0;
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / 44100.0;
        const double duration = static_cast<double>(frames) / 44100.0;
        const double phase = 2.0 * pi * (f0 * t + (f1 - f0) * t * t / (2.0 * duration));
        samples[2 * n] = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
        samples[2 * n + 1] = static_cast<int16_t>(std::lround(amplitude * std::cos(phase)));
    }
    return samples;
}

} // namespace soundtest

// What the sound ring really holds: a known signal played into the bench's null sink, recorded
// back from its monitor by CSoundCapture, and read from the ring rotated at the write position.
//
// The signal carries its own sample counter: the left channel holds the counter's low ten bits,
// the right channel the next ten, each as one of 1024 levels 64 apart, so a sample that comes back
// off by up to 31 still decodes exactly. In the block, every sample frame must then hold the count
// one above the frame before it. A block the worker lost, copied twice, put at the wrong offset, or
// a ring rotated at the wrong place, breaks that by thousands of counts at a block seam.
// The signal sits whole in one static output buffer played once, so the writer of the test cannot
// starve the output; what the sound path itself may do now and then (a single frame dropped or
// repeated) moves the count by one and is allowed for in small numbers, but never at a seam.
#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SoundBlock.h"
#include "SoundCapture.h"
#include "SoundCaptureTestUtil.h"
#include "TestFrames.h"
#include "UniqueAny.h"

using Microsoft::WRL::ComPtr;
using soundtest::ClockMs;

namespace {

constexpr long kBlockFrames = 22048 / 4;
constexpr int kLevels = 1024;
constexpr int kStep = 65536 / kLevels;

int16_t Level(long digit) {
    return static_cast<int16_t>(digit * kStep - 32768 + kStep / 2);
}

long Digit(int16_t sample) {
    return (static_cast<long>(sample) + 32768) / kStep;
}

// The signal: frame n holds n.
std::vector<int16_t> CountingSignal(long frames) {
    std::vector<int16_t> samples(2 * static_cast<size_t>(frames));
    for (long n = 0; n < frames; ++n) {
        samples[2 * n] = Level(n % kLevels);
        samples[2 * n + 1] = Level((n / kLevels) % kLevels);
    }
    return samples;
}

long Decode(const int16_t* frame) {
    return Digit(frame[1]) * kLevels + Digit(frame[0]);
}

// Plays samples once from a static buffer on the default output device (the null sink).
class SignalPlayer {
public:
    std::string Play(const std::vector<int16_t>& samples) {
        if (!m_window)
            return "no window; the bench has a display";
        HRESULT hr = DirectSoundCreate(nullptr, &m_pDevice, nullptr);
        if (FAILED(hr))
            return "DirectSoundCreate failed (no sound server on the bench?)";
        hr = m_pDevice->SetCooperativeLevel(m_window.get(), DSSCL_PRIORITY);
        if (FAILED(hr))
            return "SetCooperativeLevel failed";
        WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        DSBUFFERDESC desc = {};
        desc.dwSize = sizeof(DSBUFFERDESC1);
        desc.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
        desc.dwBufferBytes = static_cast<DWORD>(samples.size() * sizeof(int16_t));
        desc.lpwfxFormat = &format;
        hr = m_pDevice->CreateSoundBuffer(&desc, &m_pBuffer, nullptr);
        if (FAILED(hr))
            return "CreateSoundBuffer failed";
        void* p1 = nullptr;
        void* p2 = nullptr;
        DWORD n1 = 0;
        DWORD n2 = 0;
        if (FAILED(m_pBuffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER)) ||
            n1 != desc.dwBufferBytes)
            return "Lock of the whole buffer failed";
        std::memcpy(p1, samples.data(), n1);
        m_pBuffer->Unlock(p1, n1, p2, n2);
        if (FAILED(m_pBuffer->Play(0, 0, 0)))
            return "Play failed";
        return {};
    }
    void Stop() {
        if (m_pBuffer)
            m_pBuffer->Stop();
    }

private:
    win::UniqueWindow m_window{CreateWindowExW(0, L"STATIC", L"sound capture test", WS_POPUP, 0, 0, 16, 16,
                                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)};
    ComPtr<IDirectSound> m_pDevice;
    ComPtr<IDirectSoundBuffer> m_pBuffer;
};

} // namespace

TEST(SoundCaptureLoopbackTest, TheRotatedRingHoldsThePlayedSoundInOrderAcrossEverySeam) {
    MessageBoxRecorder boxes;
    CSoundCapture capture;
    // Two seconds: sixteen blocks, so the ring runs round several times before the stop.
    ASSERT_TRUE(capture.Setup(soundtest::DefaultDevice(), 1, 1));
    ASSERT_TRUE(capture.Start());
    for (const double t0 = ClockMs(); capture.GetWritePos() == 0 && ClockMs() - t0 < 10000;)
        Sleep(10);
    ASSERT_NE(0u, capture.GetWritePos()) << "the capture copied nothing within 10 s";

    const long signalFrames = 10 * 44100;
    SignalPlayer player;
    const std::string why = player.Play(CountingSignal(signalFrames));
    ASSERT_TRUE(why.empty()) << why;
    Sleep(4000);
    capture.RequestStop(CSoundCapture::StopAfterDelay); // post 1: the worker ends about 1 s later
    ASSERT_TRUE(capture.WaitForEnd(10000));
    player.Stop();

    SoundBlock block;
    capture.TakeRingInto(block);
    ASSERT_EQ(static_cast<int>(capture.GetRingSize()), block.GetSize());
    const auto* frames = reinterpret_cast<const int16_t*>(block.GetData());
    const long count = block.GetSize() / 4;
    ASSERT_EQ(16 * kBlockFrames, count);

    std::vector<long> n(static_cast<size_t>(count));
    for (long i = 0; i < count; ++i)
        n[i] = Decode(frames + 2 * i);
    ASSERT_GE(n[0], 0);
    ASSERT_LT(n[0], signalFrames) << "the oldest frame is not the signal (sample " << frames[0] << ", "
                                  << frames[1] << ")";

    // Every block seam, the ring's rotation point among them (it falls on a seam).
    for (long seam = kBlockFrames; seam < count; seam += kBlockFrames) {
        SCOPED_TRACE("seam at frame " + std::to_string(seam));
        EXPECT_EQ(1, n[seam] - n[seam - 1]) << "count " << n[seam - 1] << " then " << n[seam];
    }

    // Across the whole block: the count runs on by one a frame, give or take a few frames the
    // sound path dropped or repeated on its own.
    long irregular = 0;
    for (long i = 1; i < count; ++i)
        if (n[i] - n[i - 1] != 1)
            ++irregular;
    const long span = n[count - 1] - n[0];
    std::printf("[ figures  ] ring of %ld frames: counts %ld to %ld, %ld irregular steps\n", count, n[0],
                n[count - 1], irregular);
    EXPECT_LE(std::labs(span - (count - 1)), 8L)
        << "the ring holds " << span + 1 << " frames of the signal's time";
    EXPECT_LE(irregular, 8L);
    EXPECT_TRUE(boxes.texts.empty());
}

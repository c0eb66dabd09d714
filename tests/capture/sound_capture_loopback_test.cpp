// What the sound ring really holds: a known signal played into the bench's null sink, recorded
// back from its monitor by CSoundCapture, and read from the ring rotated at the write position.
//
// The signal carries its own sample counter: the left channel holds the counter's low ten bits,
// the right channel the next ten, each as one of 1024 levels 64 apart, so a sample that comes back
// off by up to 31 still decodes exactly. In the block, every sample frame must then hold the count
// one above the frame before it. A block the worker lost, copied twice, put at the wrong offset, or
// a ring rotated at the wrong place, breaks that by a whole block (5512 frames) or more at a block
// seam.
// The signal sits whole in one static output buffer played once, so the writer of the test cannot
// starve the output. What the sound path does on its own on a busy machine is allowed for, as
// long as it stays well below a block: a mixing period that comes too late is heard as a stretch
// of digital silence (measured: up to 90 ms in two seconds, in pieces of about 10 ms), after which
// the signal goes on where it was or, now and then, a few milliseconds further on.
#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
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
// The most the sound path moves the signal by at one place on its own (measured: 188 frames); a
// fault of the worker moves it by a whole block or more.
constexpr long kSlip = kBlockFrames / 4;
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

    // The frames that hold the signal, oldest first, with their counts. What is not the signal is
    // digital silence: the output path fills a late mixing period with it, which delays the rest
    // of the signal without losing any of it.
    struct Heard {
        long frame;
        long count;
    };
    std::vector<Heard> heard;
    for (long i = 0; i < count; ++i) {
        const long c = Decode(frames + 2 * i);
        if (c >= 0 && c < signalFrames)
            heard.push_back({i, c});
    }
    const long silent = count - static_cast<long>(heard.size());
    long longestSilence = 0;
    for (size_t i = 1; i < heard.size(); ++i)
        longestSilence = std::max(longestSilence, heard[i].frame - heard[i - 1].frame - 1);
    // A block the worker never copied would be a whole block of the ring's first contents.
    ASSERT_LT(longestSilence, kBlockFrames / 2) << "a stretch of the ring holds no signal";
    ASSERT_LE(silent, kBlockFrames) << "the sound path dropped out too often to judge";
    ASSERT_GE(heard.size(), 2u);

    // Every block seam, the ring's rotation point among them (it falls on a seam): the signal
    // heard last before it and first after it follow each other.
    size_t k = 1;
    for (long seam = kBlockFrames; seam < count; seam += kBlockFrames) {
        SCOPED_TRACE("seam at frame " + std::to_string(seam));
        while (k < heard.size() && heard[k].frame < seam)
            ++k;
        ASSERT_LT(k, heard.size());
        EXPECT_LE(std::labs(heard[k].count - heard[k - 1].count - 1), kSlip)
            << "count " << heard[k - 1].count << " at frame " << heard[k - 1].frame << ", then "
            << heard[k].count << " at frame " << heard[k].frame;
    }

    // Across the whole block: the count runs on by one, but for the few slips of the sound path.
    long irregular = 0;
    for (size_t i = 1; i < heard.size(); ++i)
        if (heard[i].count - heard[i - 1].count != 1)
            ++irregular;
    const long span = heard.back().count - heard.front().count;
    std::printf(
        "[ figures  ] ring of %ld frames: counts %ld to %ld, %ld irregular steps, %ld frames of silence\n",
        count, heard.front().count, heard.back().count, irregular, silent);
    EXPECT_LE(std::labs(span + 1 - static_cast<long>(heard.size())), 2 * kSlip)
        << "the ring holds " << heard.size() << " frames of " << span + 1 << " frames of the signal's time";
    EXPECT_LE(irregular, 16L);
    EXPECT_TRUE(boxes.texts.empty());
}

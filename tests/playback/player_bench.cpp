// player_bench: how evenly a playback publishes its frames, the two ways it can be paced:
//   1. by the sound output's block ends (a clip with sound, on the bench's PulseAudio null sink);
//   2. by the tick timer (a clip without sound; a program without a sound output is paced alike).
// A 10-second clip of 320 x 240 frames at 30 fps goes through the real frame publisher into a
// channel of this benchmark's own name. For the play part (between the fade-in's first frame and
// the last tick) it prints publishes a second and the interval's median, 99th percentile and
// maximum against the nominal 1/60 s; for the end, the time the sound output's queue takes to play
// out before the fade-out, and the fade-out's step against 10 ms. Run by hand:
//   tools/bench/bench.sh exec build wine build/bin/player_bench.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "ClipPlayer.h"
#include "ComScope.h"
#include "FrameArray.h"
#include "FramePublisher.h"
#include "SharedMem.h"
#include "SoundBlock.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"

namespace {

constexpr int kFrames = 300; // 10 s at 30 fps
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr double kNominalMs = 1000.0 / 60.0;

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Plays the clip once and prints what the publishes' times show.
bool Measure(const char* name, CSoundPlayer* output, const CFrameArray& clip, const SoundBlock* sound,
             CFramePublisher& publisher) {
    std::mutex mutex;
    std::vector<double> at;
    at.reserve(kFrames * 2 + 200);
    int refused = 0;
    CClipPlayer player(output, [&](const CFrameImage& image) {
        const bool published = publisher.PublishFrame(image) != FALSE;
        std::lock_guard<std::mutex> hold(mutex);
        at.push_back(NowMs());
        refused += published ? 0 : 1;
    });
    if (!player.Start(&clip, sound, 0)) {
        std::printf("%s: the playback did not start\n", name);
        return false;
    }
    for (int i = 0; i < 6000 && player.IsPlaying(); ++i)
        Sleep(10);
    if (player.IsPlaying() || !player.WaitForEnd(5000)) {
        std::printf("%s: the playback did not end\n", name);
        return false;
    }
    const size_t plays = kFrames * 2 - 1;
    if (at.size() != plays + CClipPlayer::kFadeOutSteps) {
        std::printf("%s: %zu publishes instead of %zu\n", name, at.size(),
                    plays + CClipPlayer::kFadeOutSteps);
        return false;
    }
    std::vector<double> intervals;
    for (size_t i = 1; i < plays; ++i)
        intervals.push_back(at[i] - at[i - 1]);
    const double seconds = (at[plays - 1] - at[0]) / 1000.0;
    const double median = Percentile(intervals, 0.5);
    const double p99 = Percentile(intervals, 0.99);
    std::printf("%-34s %6.2f publishes/s  interval median %6.2f ms (%4.2f x 1/60 s)  p99 %6.2f ms (%4.2f x)  "
                "max %6.2f ms\n",
                name, static_cast<double>(plays - 1) / seconds, median, median / kNominalMs, p99,
                p99 / kNominalMs, Percentile(intervals, 1.0));
    std::printf("%-34s fade-out %6.1f ms for 99 steps (%5.2f ms a step, nominal 10)  %d publishes refused\n",
                "", at.back() - at[plays], (at.back() - at[plays]) / 99.0, refused);
    // With sound the queued blocks are played out between the last tick and the fade-out (eight
    // blocks, 133 ms nominal); without, the fade-out follows at once.
    std::printf("%-34s last tick to fade-out %6.1f ms\n", "", at[plays] - at[plays - 1]);
    return true;
}

} // namespace

int main() {
    win::ComScope com;
    const HWND window = CreateWindowExA(0, "STATIC", "player bench", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    CDirectSoundDevice device;
    CSoundPlayer output;
    if (!window || !CreateSoundOutput(window, 100, device, output)) {
        std::printf("no sound output (the bench's PulseAudio null sink should be the default device)\n");
        return 1;
    }
    CSharedMem channel;
    if (!channel.Create("_ZarvexPlayerBench", kChannelPayloadSize)) {
        std::printf("no channel: error %lu\n", static_cast<unsigned long>(channel.GetLastError()));
        return 1;
    }
    CFramePublisher publisher(&channel);

    CFrameArray clip;
    for (int k = 0; k < kFrames; ++k) {
        auto image = std::make_unique<CFrameImage>(kWidth, kHeight, 24);
        if (!image->HasPixels()) {
            std::printf("out of memory for the clip\n");
            return 1;
        }
        image->Fill(k * 7);
        clip.Add(image.release());
    }
    clip.SetFrameRate(30);
    SoundBlock sound;
    sound.SetSize((kFrames * 2 + 60) * static_cast<int>(kSoundBlockBytes)); // outlasts the picture

    std::printf("player_bench: %d frames of %d x %d at 30 fps, 60 publishes a second nominal\n", kFrames,
                kWidth, kHeight);
    bool ok = Measure("with sound (sound output paces)", &output, clip, &sound, publisher);
    ok = Measure("without sound (tick timer paces)", &output, clip, nullptr, publisher) && ok;
    ok = Measure("no sound output (tick timer paces)", nullptr, clip, &sound, publisher) && ok;
    DestroyWindow(window);
    return ok ? 0 : 1;
}

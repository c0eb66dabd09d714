// sound_pacing_bench: how evenly a playback's ticks come, paced the two ways a playback can be:
//   1. by the sound output: one WriteBlock of 2944 bytes per tick, waiting for the block end;
//   2. by the tick timer, for clips without sound or a program without a sound output.
// For each: ticks a second, and the tick interval's median, 99th percentile and maximum, set
// against the nominal 1/60 s. Run by hand:
//   tools/bench/bench.sh exec build wine build/bin/sound_pacing_bench.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "ComScope.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "SoundTestUtil.h"
#include "TickTimer.h"

namespace {

constexpr int kTicks = 600; // 10 s at 60 a second
constexpr double kNominalMs = 1000.0 / 60.0;

using soundtest::NowMs;

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Calls tick kTicks times and reports the intervals between the returns.
void Measure(const char* name, const std::function<void()>& tick) {
    std::vector<double> at;
    at.reserve(kTicks + 1);
    tick(); // the first tick starts the clock
    at.push_back(NowMs());
    for (int i = 0; i < kTicks; ++i) {
        tick();
        at.push_back(NowMs());
    }
    std::vector<double> intervals;
    for (size_t i = 1; i < at.size(); ++i)
        intervals.push_back(at[i] - at[i - 1]);
    const double seconds = (at.back() - at.front()) / 1000.0;
    const double median = Percentile(intervals, 0.5);
    const double p99 = Percentile(intervals, 0.99);
    std::printf("%-28s %6.2f ticks/s  interval median %6.2f ms (%4.2f x 1/60 s)  p99 %6.2f ms (%4.2f x)  "
                "max %6.2f ms\n",
                name, kTicks / seconds, median, median / kNominalMs, p99, p99 / kNominalMs,
                Percentile(intervals, 1.0));
}

} // namespace

int main() {
    win::ComScope com;
    soundtest::CTestWindow window;
    CDirectSoundDevice device;
    CSoundPlayer player;
    if (!window.get() || !CreateSoundOutput(window.get(), 100, device, player)) {
        std::printf("no sound output (the bench's PulseAudio null sink should be the default device)\n");
        return 1;
    }

    const std::vector<int16_t> sound = soundtest::Sweep((kTicks + 1) * kSoundBlockBytes / 4);
    size_t block = 0;
    int dropped = 0;
    int skipped = 0;
    player.Silence();
    player.Play();
    Measure("sound output (WriteBlock)", [&] {
        const DWORD offset = player.GetWriteOffset();
        if (!player.WriteBlock(sound.data() + block * kSoundBlockBytes / 2, kSoundBlockBytes,
                               kSoundBlockBytes, true))
            ++dropped;
        else if (player.GetWriteOffset() == offset)
            ++skipped;
        ++block;
    });
    player.Stop();
    std::printf("%-28s %d blocks dropped (no block end within 500 ms), %d skipped (too near the cursor)\n",
                "", dropped, skipped);

    CTickTimer timer;
    timer.Restart();
    Measure("tick timer", [&] { timer.WaitBlock(500); });
    return 0;
}

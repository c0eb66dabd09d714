// ZarvexDevice's pacing and latency as a client graph sees them (device -> sample grabber -> null
// renderer), each run once with the graph's reference clock and once without it (SetSyncSource
// NULL), since a renderer holds every sample until its time stamp when there is a clock:
//   - the placeholder at 160 x 120, frame time 333333: delivered frames per second and the
//     frame-interval median and 99th percentile;
//   - 640 x 480 at frame time 333333 with channel_peer.exe publishing at 30 (the client's rate), 25
//     and 60 frames per second: the same figures, and the time from the writer setting FrameReady to
//     the client's sample callback for each frame, the first time a sample carries it.
// The first second of every run (start-up, falling into step with the writer) is left out.
// Prints figures; asserts nothing.
// Run by hand: tools/bench/bench.sh exec build wine build/bin/device_benchmark.exe [seconds per run]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device_test_util.h"
#include "peer_process.h"

namespace {

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double Ms(LONGLONG ticks) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(f.QuadPart);
}

// The frames that arrived from the second second on.
std::vector<CFrameRecorder::Frame> Settled(std::vector<CFrameRecorder::Frame> frames) {
    if (frames.empty())
        return frames;
    const LONGLONG first = frames.front().counter;
    while (!frames.empty() && Ms(frames.front().counter - first) < 1000.0)
        frames.erase(frames.begin());
    return frames;
}

void ReportRate(const char* name, const std::vector<CFrameRecorder::Frame>& frames) {
    if (frames.size() < 3) {
        std::printf("%s: only %zu frames\n", name, frames.size());
        return;
    }
    std::vector<double> intervals;
    for (size_t i = 1; i < frames.size(); ++i)
        intervals.push_back(Ms(frames[i].counter - frames[i - 1].counter));
    const double seconds = Ms(frames.back().counter - frames.front().counter) / 1000.0;
    const double median = Percentile(intervals, 0.5), p99 = Percentile(intervals, 0.99);
    std::printf("%s:\n  %zu frames in %.2f s = %.3f frames/s; interval median %.2f ms, p99 %.2f ms "
                "(p99 - median %.2f ms), min %.2f ms, max %.2f ms\n",
                name, frames.size(), seconds, static_cast<double>(frames.size() - 1) / seconds, median, p99,
                p99 - median, Percentile(intervals, 0.0), Percentile(intervals, 1.0));
}

// Time from FrameReady to the callback for each numbered frame the first time it arrives.
void ReportLatency(const std::vector<CFrameRecorder::Frame>& frames, std::uint32_t published,
                   const std::string& writer) {
    std::vector<double> latency;
    std::uint32_t last = 0;
    size_t repeats = 0, skipped = 0;
    for (const auto& f : frames) {
        if (f.bytes.size() < 12)
            continue;
        std::uint32_t number = 0;
        LONGLONG stamp = 0;
        std::memcpy(&number, f.bytes.data(), 4);
        std::memcpy(&stamp, f.bytes.data() + 4, 8);
        if (number == 0 || number > published)
            continue;
        if (number == last) {
            ++repeats;
            continue;
        }
        if (last != 0 && number > last + 1)
            skipped += number - last - 1;
        last = number;
        latency.push_back(Ms(f.counter - stamp));
    }
    std::printf("  FrameReady to sample callback: %zu frames, median %.2f ms, p99 %.2f ms, max %.2f ms; "
                "%zu samples repeated a frame, %zu frames never sent (writer's failures: %s)\n",
                latency.size(), Percentile(latency, 0.5), Percentile(latency, 0.99), Percentile(latency, 1.0),
                repeats, skipped, writer.c_str());
}

// Builds the client graph around a new device and runs it for ms (while `during` runs, if given).
template <typename During> bool RunClient(bool withClock, CFrameRecorder* pFrames, DWORD ms, During during) {
    ComPtr<IBaseFilter> device = CreateDevice();
    if (!device)
        return false;
    CClientGraph client;
    client.Build(device.Get(), pFrames);
    if (!withClock) {
        ComPtr<IMediaFilter> graph;
        if (FAILED(client.Graph()->QueryInterface(IID_PPV_ARGS(&graph))) ||
            FAILED(graph->SetSyncSource(nullptr)))
            return false;
    }
    const HRESULT hr = client.Run();
    if (hr != S_OK && hr != S_FALSE) {
        std::printf("Run: 0x%08lx\n", static_cast<unsigned long>(hr));
        return false;
    }
    const DWORD start = GetTickCount();
    during();
    const DWORD spent = GetTickCount() - start;
    if (spent < ms)
        Sleep(ms - spent);
    client.Stop();
    client.Release();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    win::ComScope com;
    if (FAILED(com.hr()) || ChannelExists()) {
        std::printf("needs COM and no frame channel in use\n");
        return 1;
    }
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 30;
    const DWORD runMs = static_cast<DWORD>(seconds + 1) * 1000; // the first second is left out
    CSavedFilterSettings saved;
    saved.Clear();
    std::printf("frame time 333333 (30.000 frames/s), %d s a run after the first\n", seconds);

    for (bool withClock : {true, false}) {
        CFrameRecorder frames(16);
        if (!RunClient(withClock, &frames, runMs, [] {}))
            return 1;
        ReportRate(withClock ? "placeholder 160x120, graph clock" : "placeholder 160x120, no clock",
                   Settled(frames.Frames()));
    }

    saved.SetString(CFilterSettings::kSelectPixelValue, "6");
    for (int writerFps : {30, 25, 60}) {
        for (bool withClock : {true, false}) {
            testing_support::PeerProcess peer;
            const std::string created = peer.Do("create");
            const long long window = peer.Value("window");
            const std::string registered = peer.Do("register-window");
            if (created != "ok" || window <= 0 || registered != "ok") {
                std::printf("writer not ready: %s / %lld / %s\n", created.c_str(), window,
                            registered.c_str());
                return 1;
            }
            const std::uint32_t count = static_cast<std::uint32_t>(writerFps * (seconds + 1));
            const long periodUs = 1000000 / writerFps;
            std::string writer;
            CFrameRecorder frames(12);
            const bool ran = RunClient(withClock, &frames, 0, [&] {
                writer =
                    peer.Do("stream " + std::to_string(count) + " " + std::to_string(periodUs) + " 640 480",
                            static_cast<DWORD>(seconds + 30) * 1000);
            });
            if (!ran)
                return 1;
            const std::string name = "writer at " + std::to_string(writerFps) + " frames/s, 640x480, " +
                                     (withClock ? "graph clock" : "no clock");
            const auto settled = Settled(frames.Frames());
            ReportRate(name.c_str(), settled);
            ReportLatency(settled, count, writer);
        }
    }
    return 0;
}

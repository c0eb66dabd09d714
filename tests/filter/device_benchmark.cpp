// ZarvexDevice's pacing and latency as a client graph sees them, with a writer process publishing:
//   1. the placeholder at 160 x 120, frame time 333333, over 5 s: delivered frames per second and
//      the frame-interval median and 99th percentile;
//   2. 640 x 480 at 30 frames per second with channel_peer.exe publishing every 33 ms: the same
//      figures, and the time from the writer setting FrameReady to the client's sample callback.
// Run by hand: tools/bench/bench.sh exec build wine build/bin/device_benchmark.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

void Report(const char* name, const std::vector<CFrameRecorder::Frame>& frames, double seconds) {
    std::vector<double> intervals;
    for (size_t i = 1; i < frames.size(); ++i)
        intervals.push_back(Ms(frames[i].counter - frames[i - 1].counter));
    const double fps = frames.size() > 1 ? static_cast<double>(frames.size() - 1) /
                                               (Ms(frames.back().counter - frames.front().counter) / 1000.0)
                                         : 0.0;
    std::printf(
        "%s: %zu frames in %.1f s, %.2f frames/s; interval median %.2f ms, p99 %.2f ms, max %.2f ms\n", name,
        frames.size(), seconds, fps, Percentile(intervals, 0.5), Percentile(intervals, 0.99),
        Percentile(intervals, 1.0));
}

bool RunFor(CClientGraph& client, DWORD ms) {
    const HRESULT hr = client.Run();
    if (hr != S_OK && hr != S_FALSE)
        return false;
    Sleep(ms);
    client.Stop();
    return true;
}

} // namespace

int main() {
    win::ComScope com;
    if (FAILED(com.hr()) || ChannelExists()) {
        std::printf("needs COM and no frame channel in use\n");
        return 1;
    }
    CSavedFilterSettings saved;
    saved.Clear();

    {
        ComPtr<IBaseFilter> device = CreateDevice();
        CFrameRecorder frames(16);
        CClientGraph client;
        client.Build(device.Get(), &frames);
        if (!RunFor(client, 5500))
            return 1;
        auto got = frames.Frames();
        // The first frame goes out at once (no previous delivery to pace from); measure from the second.
        if (got.size() > 1)
            got.erase(got.begin());
        Report("placeholder 160x120 at 333333", got, 5.0);
        client.Release();
        device.Reset();
    }

    {
        testing_support::PeerProcess peer;
        const std::string created = peer.Do("create");
        const long long window = peer.Value("window");
        const std::string registered = peer.Do("register-window");
        if (created != "ok" || window <= 0 || registered != "ok") {
            std::printf("writer not ready: %s / %lld / %s\n", created.c_str(), window, registered.c_str());
            return 1;
        }
        saved.SetString(CFilterSettings::kSelectPixelValue, "6");
        ComPtr<IBaseFilter> device = CreateDevice();
        CFrameRecorder frames(12);
        CClientGraph client;
        client.Build(device.Get(), &frames);
        const HRESULT hrRun = client.Run();
        if (hrRun != S_OK && hrRun != S_FALSE) {
            std::printf("Run: 0x%08lx\n", static_cast<unsigned long>(hrRun));
            return 1;
        }
        // 200 frames every 33 ms: about 6.7 s of publishing.
        const std::string failed = peer.Do("stream 200 33 640 480", 30000);
        client.Stop();
        auto got = frames.Frames();
        if (got.size() > 1)
            got.erase(got.begin());
        Report("channel 640x480 at 333333", got, 6.7);
        std::vector<double> latency;
        std::uint32_t lastNumber = 0;
        size_t repeats = 0;
        for (const auto& f : got) {
            if (f.bytes.size() < 12)
                continue;
            std::uint32_t number = 0;
            LONGLONG stamp = 0;
            std::memcpy(&number, f.bytes.data(), 4);
            std::memcpy(&stamp, f.bytes.data() + 4, 8);
            if (number == 0 || number > 200)
                continue;
            if (number == lastNumber) {
                ++repeats;
                continue;
            }
            lastNumber = number;
            latency.push_back(Ms(f.counter - stamp));
        }
        std::printf("FrameReady to sample callback: %zu frames, median %.2f ms, p99 %.2f ms (writer: %s; %zu "
                    "repeated samples)\n",
                    latency.size(), Percentile(latency, 0.5), Percentile(latency, 0.99), failed.c_str(),
                    repeats);
        client.Release();
        device.Reset();
    }
    return 0;
}

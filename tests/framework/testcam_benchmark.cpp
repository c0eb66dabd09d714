// The test camera's delivered frame rate and frame-interval jitter at 640 x 480 and 30 frames per
// second, measured by a sample-grabber client (camera -> grabber -> null renderer in the platform's
// filter graph), once with the graph's reference clock and once without it. Each run lasts 30 s
// (or the seconds given) after a first second that is left out. Prints figures; asserts nothing.
// Run by hand: tools/bench/bench.sh exec build wine build/bin/testcam_benchmark.exe [seconds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ComScope.h"
#include "TestCamera.h"
#include "dshow_test.h"
#include "grabber_graph.h"
#include "inproc_filter.h"
#include "media_types.h"

namespace {

int Fail(const char* what, HRESULT hr) {
    std::printf("testcam_benchmark: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

int Run(DWORD seconds, bool withClock) {
    ComPtr<IBaseFilter> camera = CreateInProcessFilter<CTestCamera>();
    if (!camera)
        return Fail("test camera", E_FAIL);
    CFrameCollector frames;
    frames.SetSize(640, 480);
    testing_support::GrabberGraph graph;
    HRESULT hr = graph.Create(camera.Get(), &frames);
    if (FAILED(hr))
        return Fail("graph", hr);
    if (FAILED(hr = graph.Connect()))
        return Fail("camera to grabber to renderer", hr);
    if (!withClock) {
        ComPtr<IMediaFilter> filter;
        if (FAILED(hr = graph.Graph()->QueryInterface(IID_PPV_ARGS(&filter))) ||
            FAILED(hr = filter->SetSyncSource(nullptr)))
            return Fail("removing the clock", hr);
    }
    if (FAILED(hr = graph.Run()))
        return Fail("run", hr);
    Sleep((seconds + 1) * 1000);
    (void)graph.Stop(); // the figures are what arrived until now either way

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    auto all = frames.Frames();
    // Start-up (the graph's pause to run, the first frames) is not the rate.
    std::vector<CFrameCollector::Frame> got;
    for (const auto& f : all)
        if (!all.empty() && f.counter - all.front().counter >= freq.QuadPart)
            got.push_back(f);
    if (got.size() < 3)
        return Fail("collecting frames", E_FAIL);
    std::vector<double> intervals;
    for (size_t i = 1; i < got.size(); ++i)
        intervals.push_back(double(got[i].counter - got[i - 1].counter) * 1000.0 / double(freq.QuadPart));
    const double elapsed = double(got.back().counter - got.front().counter) / double(freq.QuadPart);
    std::vector<double> sorted = intervals;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double p99 = sorted[std::min(sorted.size() - 1, static_cast<size_t>(sorted.size() * 0.99))];
    const SequenceReport report = CheckSequence(got);

    std::printf("test camera, 640x480 RGB24 at 30 frames/s, %s, %lu s through a sample grabber:\n",
                withClock ? "graph clock" : "no clock", static_cast<unsigned long>(seconds));
    std::printf("  delivered           %zu frames in %.3f s = %.3f frames/s\n", got.size(), elapsed,
                (got.size() - 1) / elapsed);
    std::printf("  frame interval      median %.2f ms, 99th percentile %.2f ms, min %.2f ms, max %.2f ms\n",
                median, p99, sorted.front(), sorted.back());
    std::printf("  jitter (p99-median) %.2f ms\n", p99 - median);
    std::printf("  sequence            %zu gaps, %zu undecoded, %zu out of order\n", report.gaps,
                report.undecoded, report.outOfOrder);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    win::ComScope com;
    if (!com.ok())
        return 1;
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::max(3, std::atoi(argv[1]))) : 30;
    for (bool withClock : {true, false})
        if (Run(seconds, withClock) != 0)
            return 1;
    return 0;
}

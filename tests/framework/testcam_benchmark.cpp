// The test camera's delivered frame rate and frame-interval jitter over 10 seconds at 640 x 480
// and 30 frames per second, measured by a sample-grabber client (camera -> grabber -> null
// renderer in the platform's filter graph). Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
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

int Run() {
    const DWORD runMs = 10000;
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
    if (FAILED(hr = graph.Run()))
        return Fail("run", hr);
    Sleep(runMs);
    (void)graph.Stop(); // the figures are what arrived until now either way

    const auto got = frames.Frames();
    if (got.size() < 3)
        return Fail("collecting frames", E_FAIL);
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    std::vector<double> intervals;
    for (size_t i = 1; i < got.size(); ++i)
        intervals.push_back(double(got[i].counter - got[i - 1].counter) * 1000.0 / double(freq.QuadPart));
    const double seconds = double(got.back().counter - got.front().counter) / double(freq.QuadPart);
    std::vector<double> sorted = intervals;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double p99 = sorted[std::min(sorted.size() - 1, static_cast<size_t>(sorted.size() * 0.99))];
    const SequenceReport report = CheckSequence(got);

    std::printf("test camera, 640x480 RGB24 at 30 frames/s, %.1f s through a sample grabber:\n",
                runMs / 1000.0);
    std::printf("  delivered           %zu frames in %.3f s = %.2f frames/s\n", got.size(), seconds,
                (got.size() - 1) / seconds);
    std::printf("  frame interval      median %.2f ms, 99th percentile %.2f ms, min %.2f ms, max %.2f ms\n",
                median, p99, sorted.front(), sorted.back());
    std::printf("  jitter (p99-median) %.2f ms\n", p99 - median);
    std::printf("  sequence            %zu gaps, %zu undecoded, %zu out of order\n", report.gaps,
                report.undecoded, report.outOfOrder);
    return 0;
}

} // namespace

int main() {
    win::ComScope com;
    if (!com.ok())
        return 1;
    return Run();
}

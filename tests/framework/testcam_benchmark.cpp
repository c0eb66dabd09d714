// The test camera's delivered frame rate and frame-interval jitter over 10 seconds at 640 x 480
// and 30 frames per second, measured by a sample-grabber client (camera -> grabber -> null
// renderer in the platform's filter graph). Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "TestCamera.h"
#include "dshow_test.h"

using Microsoft::WRL::ComPtr;

namespace {

int Fail(const char* what, HRESULT hr) {
    std::printf("testcam_benchmark: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

int Run() {
    const DWORD runMs = 10000;
    ComPtr<IGraphBuilder> graph;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(graph.GetAddressOf()));
    if (FAILED(hr))
        return Fail("filter graph", hr);
    ComPtr<IBaseFilter> grabberFilter, renderer, camera;
    ComPtr<ISampleGrabber> grabber;
    hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(grabberFilter.GetAddressOf()));
    if (FAILED(hr) || FAILED(hr = grabberFilter.As(&grabber)))
        return Fail("sample grabber", hr);
    hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(renderer.GetAddressOf()));
    if (FAILED(hr))
        return Fail("null renderer", hr);
    HRESULT hrCreate = S_OK;
    CUnknown* pObj = CTestCamera::CreateInstance(nullptr, &hrCreate);
    if (!pObj || FAILED(hrCreate))
        return Fail("test camera", hrCreate);
    pObj->NonDelegatingAddRef();
    (void)pObj->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(camera.GetAddressOf()));
    pObj->NonDelegatingRelease();

    CFrameCollector frames;
    frames.SetSize(640, 480);
    AM_MEDIA_TYPE mt = {};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    (void)grabber->SetMediaType(&mt);
    (void)grabber->SetBufferSamples(FALSE);
    (void)grabber->SetCallback(&frames, 1);
    (void)graph->AddFilter(camera.Get(), L"Zarvex Test Camera");
    (void)graph->AddFilter(grabberFilter.Get(), L"Sample Grabber");
    (void)graph->AddFilter(renderer.Get(), L"Null Renderer");
    ComPtr<IPin> out = FindPinByDirection(camera.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> gin = FindPinByDirection(grabberFilter.Get(), PINDIR_INPUT);
    ComPtr<IPin> gout = FindPinByDirection(grabberFilter.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> rin = FindPinByDirection(renderer.Get(), PINDIR_INPUT);
    if (FAILED(hr = graph->ConnectDirect(out.Get(), gin.Get(), nullptr)))
        return Fail("camera to grabber", hr);
    if (FAILED(hr = graph->ConnectDirect(gout.Get(), rin.Get(), nullptr)))
        return Fail("grabber to renderer", hr);

    ComPtr<IMediaControl> control;
    (void)graph.As(&control);
    if (FAILED(hr = control->Run()))
        return Fail("run", hr);
    Sleep(runMs);
    (void)control->Stop();
    (void)grabber->SetCallback(nullptr, 1);

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
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    const int rc = Run();
    CoUninitialize();
    return rc;
}

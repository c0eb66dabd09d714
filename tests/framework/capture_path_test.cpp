// The capture path the capture program uses, proven against the test camera: the camera bound
// from its device moniker, its format set through IAMStreamConfig, and the platform's capture graph
// builder (version 1) rendering its preview into a sample grabber that wants RGB24 at the chosen
// size. BufferCB must see every frame, in order.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "ComScope.h"
#include "TestCameraIds.h"
#include "dshow_test.h"
#include "grabber_graph.h"
#include "media_types.h"
#include "module_library.h"

namespace {

class CapturePathTest : public testing::TestWithParam<SIZE> {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        CModuleLibrary module(L"ZarvexTestCamera.ax");
        ASSERT_TRUE(module.Loaded());
        ASSERT_EQ(S_OK, module.RegisterServer());
    }

    win::ComScope m_com;
};

// What the capture program does with the device's current format and the chosen size: the
// device's type with subtype RGB24 and a format block that is all zero except the bitmap header
// and the device's frame time.
HRESULT BuildGrabberType(IAMStreamConfig* config, SIZE size, MediaTypeHolder& type) {
    HRESULT hr = config->GetFormat(&type.p);
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE* pmt = type.p;
    if (pmt->formattype != FORMAT_VideoInfo || pmt->cbFormat < sizeof(VIDEOINFOHEADER))
        return E_FAIL;
    VIDEOINFOHEADER grabberFormat = {};
    grabberFormat.AvgTimePerFrame = reinterpret_cast<VIDEOINFOHEADER*>(pmt->pbFormat)->AvgTimePerFrame;
    grabberFormat.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    grabberFormat.bmiHeader.biWidth = size.cx;
    grabberFormat.bmiHeader.biHeight = size.cy;
    grabberFormat.bmiHeader.biPlanes = 1;
    grabberFormat.bmiHeader.biBitCount = 24;
    grabberFormat.bmiHeader.biCompression = BI_RGB;
    grabberFormat.bmiHeader.biSizeImage = static_cast<DWORD>(size.cy * 3 * size.cx);
    pmt->subtype = MEDIASUBTYPE_RGB24;
    std::memcpy(pmt->pbFormat, &grabberFormat, sizeof(grabberFormat));
    return S_OK;
}

} // namespace

TEST_P(CapturePathTest, PreviewRenderStreamDeliversEveryFrameToBufferCB) {
    const SIZE size = GetParam();
    CFrameCollector frames;
    frames.SetSize(size.cx, size.cy);

    ComPtr<IMoniker> moniker = FindVideoDevice(TESTCAM_FRIENDLY_NAME);
    ASSERT_TRUE(moniker) << "the registered camera is in the device list";
    ComPtr<IBaseFilter> device;
    ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                          reinterpret_cast<void**>(device.GetAddressOf())));
    moniker.Reset();

    ComPtr<IBaseFilter> grabberFilter;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(grabberFilter.GetAddressOf())));
    ComPtr<ISampleGrabber> grabber;
    ASSERT_EQ(S_OK, grabberFilter.As(&grabber));
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(graph.GetAddressOf())));
    ComPtr<ICaptureGraphBuilder> builder;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICaptureGraphBuilder, reinterpret_cast<void**>(builder.GetAddressOf())));
    ASSERT_EQ(S_OK, builder->SetFiltergraph(graph.Get()));

    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, device.Get(), IID_IAMStreamConfig,
                                           reinterpret_cast<void**>(config.GetAddressOf())));
    ASSERT_EQ(S_OK, testing_support::SetFormatOfSize(config.Get(), size));
    MediaTypeHolder grabberType;
    ASSERT_EQ(S_OK, BuildGrabberType(config.Get(), size, grabberType));
    config.Reset();
    ASSERT_EQ(S_OK, grabber->SetMediaType(grabberType.p));
    ASSERT_EQ(S_OK, grabber->SetBufferSamples(FALSE));
    ASSERT_EQ(S_OK, grabber->SetOneShot(FALSE));
    ASSERT_EQ(S_OK, grabber->SetCallback(&frames, 1));

    ASSERT_EQ(S_OK, graph->AddFilter(grabberFilter.Get(), L"Sample Grabber"));
    ASSERT_EQ(S_OK, graph->AddFilter(device.Get(), L"Video Capture"));
    const HRESULT hrRender =
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, device.Get(), nullptr, grabberFilter.Get());
    std::printf("[ figures  ] %ldx%ld: RenderStream(PIN_CATEGORY_PREVIEW) = 0x%08lX\n", size.cx, size.cy,
                static_cast<unsigned long>(hrRender));
    ASSERT_TRUE(hrRender == S_OK || hrRender == VFW_S_NOPREVIEWPIN) << std::hex << hrRender;

    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, graph.As(&control));
    const HRESULT hrRun = control->Run();
    ASSERT_TRUE(hrRun == S_OK || hrRun == S_FALSE) << std::hex << hrRun;
    EXPECT_TRUE(frames.WaitFor(45, 5000)) << "about a second and a half of frames";

    // The capture program's stop order.
    (void)control->Pause();
    ASSERT_EQ(S_OK, grabber->SetCallback(nullptr, 1));
    ASSERT_EQ(S_OK, control->Stop());
    Sleep(100);

    const auto got = frames.Frames();
    const SequenceReport report = CheckSequence(got);
    std::printf("[ figures  ] %ldx%ld: %zu frames, %zu gaps, %zu undecoded, %zu out of order\n", size.cx,
                size.cy, report.frames, report.gaps, report.undecoded, report.outOfOrder);
    EXPECT_EQ(0u, report.undecoded);
    EXPECT_EQ(0u, report.gaps);
    EXPECT_EQ(0u, report.outOfOrder);
    for (const auto& f : got)
        ASSERT_EQ(static_cast<long>(size.cx * size.cy * 3), f.length);

    control.Reset();
    grabber.Reset();
    EXPECT_EQ(0u, FinalRelease(builder));
    EXPECT_EQ(0u, FinalRelease(graph));
    EXPECT_EQ(0u, FinalRelease(device));
    EXPECT_EQ(0u, FinalRelease(grabberFilter));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CapturePathTest,
                         testing::Values(SIZE{640, 480}, SIZE{320, 240}, SIZE{160, 120}),
                         [](const testing::TestParamInfo<SIZE>& info) {
                             return std::to_string(info.param.cx) + "x" + std::to_string(info.param.cy);
                         });

// The capture graph on the bench's real DirectShow with the Zarvex Test Camera: built by device
// name and format, run, stopped and torn down, with its frames received by a window the way the
// dialog receives them.
#include "DShowClient.h"

#include <gtest/gtest.h>

#include <vector>

#include "CaptureGraph.h"
#include "ComScope.h"
#include "FrameSink.h"
#include "GrabberCallback.h"
#include "TestCameraIds.h"
#include "VideoDevices.h"
#include "listed_video_devices.h"
#include "ProcessCounts.h"

using Microsoft::WRL::ComPtr;
using proc::HandleGrowth;
using proc::HandleTypesOfThisProcess;
using proc::ThreadsOfThisProcess;

namespace {

const CString kCamera("Zarvex Test Camera");

// The test camera module's own answer: S_OK once none of its objects is alive.
HRESULT CameraModuleCanUnload() {
    const HMODULE module = GetModuleHandleW(L"ZarvexTestCamera.ax");
    if (!module)
        return S_OK; // not loaded at all: nothing of it is alive
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const auto proc = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    return proc ? proc() : E_FAIL;
}

// Every claimed frame, in order, decoded, its sequence number one above the one before.
::testing::AssertionResult InOrder(const std::vector<CFrameSink::Record>& records, size_t length) {
    bool have = false;
    std::uint32_t previous = 0;
    size_t gaps = 0, claimed = 0;
    for (const CFrameSink::Record& r : records) {
        if (!r.claimed)
            continue;
        ++claimed;
        if (r.length != length)
            return ::testing::AssertionFailure() << "a frame of " << r.length << " bytes, not " << length;
        if (!r.decoded)
            return ::testing::AssertionFailure() << "frame " << claimed << " carries no sequence number";
        if (have && r.sequence <= previous)
            return ::testing::AssertionFailure() << "sequence " << r.sequence << " after " << previous;
        gaps += have && r.sequence != previous + 1 ? 1 : 0;
        previous = r.sequence;
        have = true;
    }
    // A frame may be dropped when the machine is busy; the order may never change.
    if (gaps * 10 > claimed)
        return ::testing::AssertionFailure() << gaps << " gaps in " << claimed << " frames";
    return ::testing::AssertionSuccess();
}

class CaptureGraphTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_com.ok());
        ASSERT_TRUE(m_sink.Window());
        ASSERT_EQ(3, EnumVideoDeviceFormats(kCamera, m_formats))
            << "the Zarvex Test Camera is not registered in the bench: tools/testcam/register-testcam.sh "
               "build";
    }

    win::ComScope m_com;
    CFrameSink m_sink;
    CVideoFormatArray m_formats;
};

} // namespace

TEST_F(CaptureGraphTest, BuildNeedsANameOfAListedDevice) {
    CCaptureGraph graph;
    EXPECT_FALSE(graph.Build(CString(), &m_formats[0]));
    EXPECT_FALSE(graph.Build(CString("No Such Camera"), &m_formats[0]));
    EXPECT_FALSE(graph.IsBuilt());
    // Start and Stop of a graph that was never built run nothing and send nothing.
    graph.Start(m_sink.Window());
    graph.Stop();
    EXPECT_EQ(0, graph.Callback().SentCount());
}

TEST_F(CaptureGraphTest, FramesOfTheChosenFormatArriveInOrderUntilStop) {
    struct Case {
        int format;
        LONG width, height;
    };
    for (const Case& c : {Case{0, 640, 480}, Case{2, 160, 120}}) {
        SCOPED_TRACE(c.width);
        CCaptureGraph graph;
        ASSERT_TRUE(graph.Build(kCamera, &m_formats[c.format]));
        // The camera has a capture pin only: the builder takes its preview from a Smart Tee.
        EXPECT_EQ(VFW_S_NOPREVIEWPIN, graph.LastRenderResult());
        const BITMAPINFOHEADER& header = graph.FrameHeader();
        EXPECT_EQ(c.width, header.biWidth);
        EXPECT_EQ(c.height, header.biHeight);
        EXPECT_EQ(24, header.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(c.width * c.height * 3), header.biSizeImage);
        EXPECT_EQ(333333, graph.GrabberFormat().AvgTimePerFrame);

        CFrameSink sink;
        sink.Attach(&graph.Handoff(), c.width, c.height);
        graph.Start(sink.Window());
        EXPECT_TRUE(sink.WaitForClaimed(20, 10000)) << sink.ClaimedCount() << " frames in 10 s";
        graph.Stop();
        sink.Flush();
        const size_t atStop = sink.Count();
        EXPECT_TRUE(InOrder(sink.Records(), static_cast<size_t>(c.width * c.height * 3)));
        Sleep(300);
        sink.Flush();
        EXPECT_EQ(atStop, sink.Count()) << "WM_CAPTURE_FRAME arrived after Stop";
    }
}

TEST_F(CaptureGraphTest, TearingDownAndRebuilding50TimesLeaksNoThreadHandleOrObject) {
    const auto cycle = [&] {
        CCaptureGraph graph;
        EXPECT_TRUE(graph.Build(kCamera, &m_formats[2]));
        graph.Start(m_sink.Window());
        Sleep(30);
        graph.Stop();
        graph.TearDown();
        EXPECT_EQ(0u, graph.LastTearDown().graph);
        EXPECT_EQ(0u, graph.LastTearDown().builder);
    };
    // What the platform keeps for good of the calls a build makes, made directly: one device
    // enumeration reading every device's name, the camera bound, one filter graph.
    const auto platformCycle = [] {
        ComPtr<IMoniker> camera;
        for (const auto& moniker : VideoDevices())
            if (FriendlyNameOf(moniker.Get()) == TESTCAM_FRIENDLY_NAME)
                camera = moniker;
        ComPtr<IBaseFilter> filter;
        EXPECT_TRUE(camera &&
                    SUCCEEDED(camera->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                   reinterpret_cast<void**>(filter.GetAddressOf()))));
        ComPtr<IGraphBuilder> graph;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         reinterpret_cast<void**>(graph.GetAddressOf())));
    };
    m_sink.Attach(nullptr, 0, 0);
    // The first graphs load the platform's modules and start its helper threads for good.
    for (int i = 0; i < 3; ++i)
        cycle();
    const std::map<int, int> start = HandleTypesOfThisProcess();
    ASSERT_FALSE(start.empty());
    for (int i = 0; i < 50; ++i)
        platformCycle();
    const std::map<int, int> afterPlatform = HandleTypesOfThisProcess();
    const int threads = ThreadsOfThisProcess();
    ASSERT_GT(threads, 0);

    for (int i = 0; i < 50; ++i)
        cycle();
    m_sink.Flush();
    EXPECT_EQ(S_OK, CameraModuleCanUnload()) << "a test camera object outlived its graph";
    // Threads of the last graph end a moment after it is gone.
    for (int wait = 0; wait < 100 && ThreadsOfThisProcess() > threads; ++wait)
        Sleep(20);
    // A leak of one per cycle shows as 50; the slack is for what the platform makes lazily.
    EXPECT_LE(ThreadsOfThisProcess(), threads + 2);
    const std::map<int, int> platform = HandleGrowth(start, afterPlatform);
    const std::map<int, int> ours = HandleGrowth(afterPlatform, HandleTypesOfThisProcess());
    for (const auto& type : ours) {
        SCOPED_TRACE(testing::Message() << "handle type " << type.first);
        const auto kept = platform.find(type.first);
        EXPECT_LE(type.second, (kept == platform.end() ? 0 : kept->second) + 5)
            << "the platform alone keeps " << (kept == platform.end() ? 0 : kept->second) << " in 50 cycles";
    }
}

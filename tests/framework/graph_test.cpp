// The test camera inside the platform's own filter graph (Wine's), in-process: connection to the
// sample grabber and null renderer, the run/pause/stop cycle, the frame sequence, an aborted
// stream reaching the graph's event queue, many cycles without leaks or stuck threads, and a
// stall switched on and off while the camera streams.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "FrameworkTestUtil.h"
#include "TestCamStall.h"
#include "TestCameraIds.h"
#include "client_graph.h"
#include "dshow_test.h"

namespace {

// A camera, grabber and null renderer in a filter graph (client_graph.h); the camera's pin is
// connected to the grabber on demand.
class GraphTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        m_liveAtStart = CBaseObject::ObjectsActive();
        m_camera = CreateTestCamera(&m_cameraObject);
        ASSERT_TRUE(m_camera);
        ASSERT_EQ(S_OK, m_client.Create(m_camera.Get(), &m_frames));
        m_graph = m_client.Graph();
        m_control = m_client.Control();
        m_grabber = m_client.Grabber();
        m_cameraOut = m_client.SourceOut();
        m_grabberIn = m_client.GrabberIn();
        m_grabberOut = m_client.GrabberOut();
        m_rendererIn = m_client.RendererIn();
    }

    void TearDown() override {
        // The graph's objects must go with the client's last references, so ours go first.
        m_cameraOut.Reset();
        m_grabberIn.Reset();
        m_grabberOut.Reset();
        m_rendererIn.Reset();
        m_control.Reset();
        m_grabber.Reset();
        m_graph.Reset();
        m_client.Release();
        if (m_camera) {
            EXPECT_EQ(0u, FinalRelease(m_camera));
        }
        EXPECT_EQ(m_liveAtStart, CBaseObject::ObjectsActive());
    }

    // Camera -> grabber -> null renderer, at the camera's current size.
    void ConnectAll() {
        ASSERT_EQ(S_OK, m_client.Connect());
        AM_MEDIA_TYPE mt = {};
        ASSERT_EQ(S_OK, m_cameraOut->ConnectionMediaType(&mt));
        const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        m_frames.SetSize(vih->bmiHeader.biWidth, vih->bmiHeader.biHeight);
        FreeMediaType(mt);
    }

    void DisconnectAll() { ASSERT_EQ(S_OK, m_client.Disconnect()); }

    // Runs the graph and waits for the state change to finish.
    void RunGraph() {
        const HRESULT hr = m_control->Run();
        ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        OAFilterState state = -1;
        ASSERT_EQ(S_OK, m_control->GetState(5000, &state));
        ASSERT_EQ(State_Running, state);
    }

    win::ComScope m_com;
    LONG m_liveAtStart = 0;
    CFrameCollector m_frames;
    ComPtr<IBaseFilter> m_camera;
    CTestCamera* m_cameraObject = nullptr;
    CClientGraph m_client;
    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IMediaControl> m_control;
    ComPtr<ISampleGrabber> m_grabber;
    ComPtr<IPin> m_cameraOut, m_grabberIn, m_grabberOut, m_rendererIn;
};

} // namespace

TEST_F(GraphTest, RunPauseRunStopAllWork) {
    ConnectAll();
    RunGraph();
    EXPECT_TRUE(m_frames.WaitFor(5, 5000));
    EXPECT_TRUE(CameraStream(m_cameraObject)->ThreadExists());

    ASSERT_EQ(S_OK, m_control->Pause());
    OAFilterState state = -1;
    EXPECT_EQ(S_OK, m_control->GetState(5000, &state));
    EXPECT_EQ(State_Paused, state);
    const size_t afterPause = m_frames.Count();

    RunGraph();
    EXPECT_TRUE(m_frames.WaitFor(afterPause + 5, 5000)) << "frames flow again after the second run";

    ASSERT_EQ(S_OK, m_control->Stop());
    EXPECT_EQ(S_OK, m_control->GetState(5000, &state));
    EXPECT_EQ(State_Stopped, state);
    EXPECT_FALSE(CameraStream(m_cameraObject)->ThreadExists());
    const size_t afterStop = m_frames.Count();
    Sleep(150);
    EXPECT_EQ(afterStop, m_frames.Count()) << "nothing after stop";

    const SequenceReport report = CheckSequence(m_frames.Frames());
    EXPECT_EQ(0u, report.undecoded);
    EXPECT_EQ(0u, report.outOfOrder);
}

TEST_F(GraphTest, FramesArriveInSequenceAtAboutThirtyPerSecond) {
    ConnectAll();
    RunGraph();
    const DWORD runMs = 3500;
    Sleep(runMs);
    ASSERT_EQ(S_OK, m_control->Stop());

    const auto frames = m_frames.Frames();
    const SequenceReport report = CheckSequence(frames);
    ASSERT_GE(frames.size(), 2u);
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    const double seconds = double(frames.back().counter - frames.front().counter) / double(freq.QuadPart);
    const double fps = (frames.size() - 1) / seconds;
    std::printf(
        "[ figures  ] %zu frames over %.2f s: %.2f frames/s, %zu gaps, %zu undecoded, %zu out of order\n",
        frames.size(), seconds, fps, report.gaps, report.undecoded, report.outOfOrder);

    EXPECT_GE(seconds, 3.0) << "at least three seconds of frames";
    EXPECT_EQ(0u, report.undecoded);
    EXPECT_EQ(0u, report.gaps);
    EXPECT_EQ(0u, report.outOfOrder);
    EXPECT_TRUE(frames.front().decoded && frames.front().sequence == 0) << "the first frame is number 0";
    // Generous bounds: this checks the pacing is at the frame time, not how busy the machine is.
    EXPECT_GT(fps, 20.0);
    EXPECT_LT(fps, 40.0);
    for (const auto& f : frames)
        ASSERT_EQ(640L * 480 * 3, f.length);
}

TEST_F(GraphTest, SmallerFormatChosenBeforeConnectingIsDelivered) {
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_cameraOut.As(&config));
    MediaTypeHolder small(NewRgb24Type(160, 120));
    ASSERT_EQ(S_OK, config->SetFormat(small.p));
    ConnectAll();
    RunGraph();
    ASSERT_TRUE(m_frames.WaitFor(10, 5000));
    ASSERT_EQ(S_OK, m_control->Stop());
    const auto frames = m_frames.Frames();
    EXPECT_EQ(160L * 120 * 3, frames.front().length);
    const SequenceReport report = CheckSequence(frames);
    EXPECT_EQ(0u, report.undecoded);
    EXPECT_EQ(0u, report.gaps);
}

TEST_F(GraphTest, NoAcceptableTypeFromARealPeer) {
    AM_MEDIA_TYPE mt = {};
    mt.majortype = MEDIATYPE_Audio;
    ASSERT_EQ(S_OK, m_grabber->SetMediaType(&mt));
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, m_cameraOut->Connect(m_grabberIn.Get(), nullptr));
    IPin* pPeer = reinterpret_cast<IPin*>(0x1234);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_cameraOut->ConnectedTo(&pPeer));
    EXPECT_EQ(nullptr, pPeer);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_grabberIn->ConnectedTo(&pPeer));
}

TEST_F(GraphTest, ManyConnectRunStopDisconnectCyclesLeaveNothingBehind) {
    CTestCameraStream* stream = CameraStream(m_cameraObject);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(testing::Message() << "cycle " << i);
        m_frames.Clear();
        ConnectAll();
        RunGraph();
        ASSERT_TRUE(m_frames.WaitFor(1, 5000));
        ASSERT_EQ(S_OK, m_control->Stop());
        ASSERT_FALSE(stream->ThreadExists());
        DisconnectAll();
        if (HasFatalFailure())
            return;
    }
}

TEST_F(GraphTest, ManyFilterCreateReleaseCyclesLeaveNoObjects) {
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(testing::Message() << "cycle " << i);
        CTestCamera* pObject = nullptr;
        ComPtr<IBaseFilter> camera = CreateTestCamera(&pObject);
        ASSERT_TRUE(camera);
        ASSERT_EQ(S_OK, m_graph->AddFilter(camera.Get(), L"Extra camera"));
        ComPtr<IPin> out = FindPinByDirection(camera.Get(), PINDIR_OUTPUT);
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(out.Get(), m_grabberIn.Get(), nullptr));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_grabberOut.Get(), m_rendererIn.Get(), nullptr));
        m_frames.SetSize(640, 480);
        RunGraph();
        ASSERT_EQ(S_OK, m_control->Stop());
        ASSERT_FALSE(CameraStream(pObject)->ThreadExists());
        ASSERT_EQ(S_OK, m_graph->RemoveFilter(camera.Get())); // disconnects its pins
        ASSERT_EQ(S_OK, m_graph->Disconnect(m_grabberOut.Get()));
        ASSERT_EQ(S_OK, m_graph->Disconnect(m_rendererIn.Get()));
        out.Reset();
        ASSERT_EQ(0u, FinalRelease(camera));
    }
    EXPECT_EQ(m_liveAtStart + 2, CBaseObject::ObjectsActive()) << "only the fixture's camera and its pin";
}

// A stall holds the frames back for as long as any switch of the camera's class keeps it on; a
// stall of another class does not touch it. The stream then goes on with the next number, at its
// frame rate rather than in a burst of the frames it owed.
TEST_F(GraphTest, AStalledCameraSendsNothingUntilItsLastSwitchLetsGo) {
    ConnectAll();
    RunGraph();
    ASSERT_TRUE(m_frames.WaitFor(3, 5000));

    CTestCamStall otherClass(CLSID_ZarvexTestCameraSpare[0]);
    ASSERT_TRUE(otherClass.Begin());
    const size_t beforeOther = m_frames.Count();
    EXPECT_TRUE(m_frames.WaitFor(beforeOther + 5, 5000)) << "another class's stall held this camera";
    otherClass.End();

    CTestCamStall first(CLSID_ZarvexTestCamera), second(CLSID_ZarvexTestCamera);
    EXPECT_FALSE(TestCamStalled(CLSID_ZarvexTestCamera));
    ASSERT_TRUE(first.Begin());
    ASSERT_TRUE(second.Begin());
    EXPECT_TRUE(TestCamStalled(CLSID_ZarvexTestCamera));
    Sleep(200); // a frame already past the switch when it went on may still arrive
    const size_t atStall = m_frames.Count();
    Sleep(800);
    EXPECT_EQ(atStall, m_frames.Count()) << "frames arrived while stalled";
    first.End();
    Sleep(400);
    EXPECT_EQ(atStall, m_frames.Count()) << "the second switch still holds the stall";
    second.End();
    EXPECT_FALSE(TestCamStalled(CLSID_ZarvexTestCamera));
    ASSERT_TRUE(m_frames.WaitFor(atStall + 10, 5000)) << "no frames after the stall";
    ASSERT_EQ(S_OK, m_control->Stop());

    const auto frames = m_frames.Frames();
    const SequenceReport report = CheckSequence(frames);
    EXPECT_EQ(0u, report.undecoded);
    EXPECT_EQ(0u, report.gaps) << "the stall skipped numbers";
    EXPECT_EQ(0u, report.outOfOrder);
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    const auto seconds = [&](size_t from, size_t to) {
        return double(frames[to].counter - frames[from].counter) / double(freq.QuadPart);
    };
    const double silence = seconds(atStall - 1, atStall);
    const double tenAfter = seconds(atStall, atStall + 9);
    std::printf("[ figures  ] stall: %.2f s without a frame; the next 10 frames over %.3f s\n", silence,
                tenAfter);
    EXPECT_GE(silence, 1.2);
    // Nine frame times are 0.3 s; a burst would deliver the ten within a few milliseconds.
    EXPECT_GT(tenAfter, 0.15) << "the frames after the stall came in a burst";
}

// The graph's stop reaches a stalled camera at once: without that, a capture program changing its
// format or closing during a stall would hang. The next run streams from frame 0 again.
TEST_F(GraphTest, AStopDuringAStallIsAnsweredAtOnce) {
    ConnectAll();
    RunGraph();
    ASSERT_TRUE(m_frames.WaitFor(3, 5000));
    CTestCamStall stall(CLSID_ZarvexTestCamera);
    ASSERT_TRUE(stall.Begin());
    Sleep(200);

    const ULONGLONG start = GetTickCount64();
    ASSERT_EQ(S_OK, m_control->Stop());
    OAFilterState state = -1;
    EXPECT_EQ(S_OK, m_control->GetState(5000, &state));
    EXPECT_EQ(State_Stopped, state);
    std::printf("[ figures  ] stop of a stalled camera: %llu ms\n", GetTickCount64() - start);
    EXPECT_FALSE(CameraStream(m_cameraObject)->ThreadExists());

    stall.End();
    m_frames.Clear();
    RunGraph();
    ASSERT_TRUE(m_frames.WaitFor(5, 5000));
    ASSERT_EQ(S_OK, m_control->Stop());
    const auto frames = m_frames.Frames();
    EXPECT_TRUE(frames.front().decoded && frames.front().sequence == 0) << "a new stream starts at 0";
}

// The filter state machine, pin connection and the source stream's worker, driven in-process
// through the test camera (the framework's own push source) and a scripted peer pin.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "fake_input_pin.h"
#include "FrameworkTestUtil.h"

namespace {

class SourceStreamTest : public testing::Test {
protected:
    void SetUp() override {
        m_liveAtStart = CBaseObject::ObjectsActive();
        m_filter = CreateTestCamera(&m_camera);
        ASSERT_TRUE(m_filter);
        ASSERT_EQ(S_OK, m_filter->FindPin(L"1", &m_pin));
        m_stream = CameraStream(m_camera);
    }
    void TearDown() override {
        if (m_filter) {
            (void)m_filter->Stop();
            if (m_pin)
                (void)m_pin->Disconnect();
            m_pin.Reset();
            EXPECT_EQ(0u, FinalRelease(m_filter));
        }
        EXPECT_EQ(1, m_peer.refs.load()) << "the filter kept a reference on its peer";
        EXPECT_EQ(m_liveAtStart, CBaseObject::ObjectsActive());
    }

    win::ComScope m_com;
    LONG m_liveAtStart = 0;
    CTestCamera* m_camera = nullptr;
    CTestCameraStream* m_stream = nullptr;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    CFakeInputPin m_peer;
};

} // namespace

TEST_F(SourceStreamTest, PausingWithAnUnconnectedPinCreatesNoThread) {
    EXPECT_EQ(S_OK, m_filter->Pause());
    FILTER_STATE state = static_cast<FILTER_STATE>(77);
    EXPECT_EQ(S_OK, m_filter->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_FALSE(m_stream->ThreadExists());
    EXPECT_EQ(S_OK, m_filter->Run(0));
    EXPECT_FALSE(m_stream->ThreadExists());
    EXPECT_EQ(S_OK, m_filter->Stop());
    EXPECT_EQ(S_OK, m_filter->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(E_POINTER, m_filter->GetState(0, nullptr));
}

TEST_F(SourceStreamTest, PausingAConnectedPinStreamsUntilStopped) {
    ASSERT_EQ(S_OK, m_pin->Connect(&m_peer, nullptr));
    EXPECT_EQ(static_cast<IPin*>(m_stream), m_peer.connector);
    EXPECT_NE(nullptr, m_stream->Allocator()) << "no peer allocator, so the platform's memory allocator";

    ASSERT_EQ(S_OK, m_filter->Pause());
    EXPECT_TRUE(m_stream->ThreadExists());
    EXPECT_TRUE(m_peer.WaitForReceives(3, 5000)) << "a source pushes from the moment it is paused";
    EXPECT_EQ(S_OK, m_filter->Run(0));
    EXPECT_EQ(S_OK, m_filter->Pause());
    EXPECT_EQ(S_OK, m_filter->Run(0));
    const long before = m_peer.receives.load();
    EXPECT_TRUE(m_peer.WaitForReceives(before + 2, 5000)) << "still streaming after pause and run";

    EXPECT_EQ(S_OK, m_filter->Stop());
    EXPECT_FALSE(m_stream->ThreadExists());
    const long afterStop = m_peer.receives.load();
    Sleep(100);
    EXPECT_EQ(afterStop, m_peer.receives.load());
}

// A live source stamps each sample with the stream time at which it leaves while the filter runs on
// a reference clock, so that a renderer in the client's graph shows it at once instead of holding it
// until a stamp counted from 0 comes round. Without a clock the stamps count on from 0 by the frame
// time. The graph here started its stream 10 s before: counted stamps would lie 10 s behind.
TEST_F(SourceStreamTest, SamplesCarryTheStreamTimeAtWhichTheyLeave) {
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&clock)));
    struct Stamp {
        HRESULT hr;
        REFERENCE_TIME start, end, received; // received: the clock's time when Receive got it
    };
    std::mutex mutex;
    std::vector<Stamp> stamps;
    m_peer.onReceive = [&](IMediaSample* pSample) {
        Stamp stamp = {E_FAIL, 0, 0, 0};
        stamp.hr = pSample->GetTime(&stamp.start, &stamp.end);
        (void)clock->GetTime(&stamp.received); // the system clock cannot fail
        std::lock_guard<std::mutex> lock(mutex);
        stamps.push_back(stamp);
    };
    auto taken = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return stamps;
    };
    const REFERENCE_TIME frameTime = CTestCameraStream::kDefaultFrameTime;

    for (bool withClock : {false, true}) {
        SCOPED_TRACE(withClock ? "running on a clock" : "no clock");
        {
            std::lock_guard<std::mutex> lock(mutex);
            stamps.clear();
        }
        ASSERT_EQ(S_OK, m_filter->SetSyncSource(withClock ? clock.Get() : nullptr));
        ASSERT_EQ(S_OK, m_pin->Connect(&m_peer, nullptr));
        REFERENCE_TIME tStart = 0;
        // S_FALSE is a success too: the clock read the same time as at its previous reading.
        ASSERT_TRUE(SUCCEEDED(clock->GetTime(&tStart)));
        tStart -= 10 * 10000000LL;
        ASSERT_EQ(S_OK, m_filter->Run(tStart));
        // A sample being filled while Run made the filter run may still be counted: check the ones
        // after it.
        const size_t from = taken().size() + 1;
        for (const DWORD begun = GetTickCount(); taken().size() < from + 5 && GetTickCount() - begun < 5000;)
            Sleep(5);
        EXPECT_EQ(S_OK, m_filter->Stop());
        EXPECT_EQ(S_OK, m_pin->Disconnect());

        const std::vector<Stamp> got = taken();
        ASSERT_GE(got.size(), from + 5) << "samples flow";
        for (size_t k = withClock ? from : 0; k < got.size(); ++k) {
            SCOPED_TRACE("sample " + std::to_string(k));
            ASSERT_EQ(S_OK, got[k].hr) << "start and end are set";
            EXPECT_EQ(frameTime, got[k].end - got[k].start);
            if (withClock) {
                // Stamped after the previous sample arrived and before this one did.
                EXPECT_GE(got[k].start, got[k - 1].received - tStart);
                EXPECT_LE(got[k].start, got[k].received - tStart);
            } else {
                EXPECT_EQ(static_cast<REFERENCE_TIME>(k) * frameTime, got[k].start);
            }
        }
    }
    m_peer.onReceive = nullptr;
    EXPECT_EQ(S_OK, m_filter->SetSyncSource(nullptr));
}

TEST_F(SourceStreamTest, StoppingWhileTheWorkerWaitsForABufferEndsCleanly) {
    m_peer.receiveMode = CFakeInputPin::Receive::Hold; // keeps every sample: the allocator runs dry
    ASSERT_EQ(S_OK, m_pin->Connect(&m_peer, nullptr));
    ASSERT_EQ(S_OK, m_filter->Pause());
    const long buffers = CTestCameraStream::kMinBuffers;
    ASSERT_TRUE(m_peer.WaitForReceives(buffers, 5000));
    Sleep(100); // every buffer is held downstream: the worker is blocked in GetDeliveryBuffer
    EXPECT_EQ(buffers, m_peer.receives.load());
    EXPECT_EQ(static_cast<size_t>(buffers), m_peer.HeldCount());
    EXPECT_TRUE(m_stream->ThreadExists());

    const DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, m_filter->Stop());
    EXPECT_LT(GetTickCount() - start, 2000u) << "the decommit must free the waiting worker";
    EXPECT_FALSE(m_stream->ThreadExists());
    m_peer.ReleaseHeld();
}

TEST_F(SourceStreamTest, ReceiveAnsweringSFalseEndsTheLoopButNotTheThread) {
    m_peer.receiveMode = CFakeInputPin::Receive::Refuse;
    ASSERT_EQ(S_OK, m_pin->Connect(&m_peer, nullptr));
    ASSERT_EQ(S_OK, m_filter->Pause());
    ASSERT_TRUE(m_peer.WaitForReceives(1, 5000));
    Sleep(200);
    EXPECT_EQ(1, m_peer.receives.load()) << "no sample after the refusal";
    EXPECT_TRUE(m_stream->ThreadExists()) << "the worker waits for its next command";
    EXPECT_EQ(0, m_peer.endOfStreams.load());

    const DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, m_filter->Stop());
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_FALSE(m_stream->ThreadExists());
}

TEST_F(SourceStreamTest, FindPinTakesTheDecimalPinNumber) {
    struct Case {
        const wchar_t* id;
        HRESULT expected;
    } cases[] = {{L"1", S_OK},
                 {L"2", VFW_E_NOT_FOUND},
                 {L"0", VFW_E_NOT_FOUND},
                 {L"-1", VFW_E_NOT_FOUND},
                 {L"x", VFW_E_NOT_FOUND},
                 {L"", VFW_E_NOT_FOUND},
                 {L"Capture", VFW_E_NOT_FOUND}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "id \"" << c.id << "\"");
        IPin* pPin = reinterpret_cast<IPin*>(0x1234);
        EXPECT_EQ(c.expected, m_filter->FindPin(c.id, &pPin));
        if (c.expected == S_OK) {
            EXPECT_EQ(m_pin.Get(), pPin);
            pPin->Release();
        } else {
            EXPECT_EQ(nullptr, pPin);
        }
    }
    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, m_pin->QueryId(&id));
    EXPECT_STREQ(L"1", id);
    CoTaskMemFree(id);
}

TEST_F(SourceStreamTest, UnconnectedPinAnswers) {
    IPin* pPeer = reinterpret_cast<IPin*>(0x1234);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectedTo(&pPeer));
    EXPECT_EQ(nullptr, pPeer);
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0xAB, sizeof(mt));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectionMediaType(&mt));
    const AM_MEDIA_TYPE zero = {};
    EXPECT_EQ(0, std::memcmp(&zero, &mt, sizeof(mt))) << "the type comes back zeroed";
    EXPECT_EQ(S_FALSE, m_pin->Disconnect());

    PIN_INFO info = {};
    ASSERT_EQ(S_OK, m_pin->QueryPinInfo(&info));
    EXPECT_EQ(m_filter.Get(), info.pFilter);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_STREQ(L"Capture", info.achName);
    info.pFilter->Release();

    EXPECT_EQ(E_UNEXPECTED, m_pin->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, m_pin->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, m_pin->EndFlush());
    EXPECT_EQ(E_NOTIMPL, m_pin->QueryInternalConnections(nullptr, nullptr));
    ComPtr<IQualityControl> qc;
    ASSERT_EQ(S_OK, m_pin.As(&qc));
    Quality q = {};
    EXPECT_EQ(E_NOTIMPL, qc->Notify(m_filter.Get(), q));
}

TEST_F(SourceStreamTest, APinLivesAsLongAsItsFilter) {
    // The pin's count is the filter's: a client that keeps only the pin keeps the filter.
    ComPtr<IPin> pin = m_pin;
    m_pin.Reset();
    ComPtr<IBaseFilter> filter = m_filter;
    m_filter.Reset();
    EXPECT_EQ(3u, filter->AddRef()) << "our reference, the pin's and this one";
    filter->Release();
    EXPECT_EQ(1u, FinalRelease(filter)) << "the pin still holds the filter";
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    info.pFilter->Release();
    EXPECT_EQ(0u, FinalRelease(pin));
}

TEST_F(SourceStreamTest, ConnectionFailuresLeaveThePinUnconnected) {
    ComPtr<IBaseFilter> otherCamera = CreateTestCamera();
    ASSERT_TRUE(otherCamera);
    ComPtr<IPin> otherOutput;
    ASSERT_EQ(S_OK, otherCamera->FindPin(L"1", &otherOutput));

    struct Case {
        const char* name;
        bool exposeMemInputPin;
        bool acceptTypes;
        bool useOtherOutput;
        MediaTypeHolder type;
        HRESULT expected;
    };
    Case cases[] = {
        {"peer without IMemInputPin", false, true, false, MediaTypeHolder(), E_NOINTERFACE},
        {"peer of the same direction", true, true, true, MediaTypeHolder(), VFW_E_INVALID_DIRECTION},
        {"peer that refuses every type", true, false, false, MediaTypeHolder(), VFW_E_NO_ACCEPTABLE_TYPES},
        {"a size the camera lacks", true, true, false, MediaTypeHolder(NewRgb24Type(400, 300)),
         VFW_E_NO_ACCEPTABLE_TYPES},
        {"a rate the camera lacks", true, true, false, MediaTypeHolder(NewRgb24Type(320, 240, 100000)),
         VFW_E_NO_ACCEPTABLE_TYPES},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_peer.exposeMemInputPin = c.exposeMemInputPin;
        m_peer.acceptTypes = c.acceptTypes;
        IPin* pTarget = c.useOtherOutput ? otherOutput.Get() : static_cast<IPin*>(&m_peer);
        EXPECT_EQ(c.expected, m_pin->Connect(pTarget, c.type.p));
        IPin* pPeer = reinterpret_cast<IPin*>(0x1234);
        EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectedTo(&pPeer));
        EXPECT_EQ(nullptr, pPeer);
        EXPECT_EQ(nullptr, m_stream->Allocator());
        EXPECT_EQ(nullptr, m_peer.connector);
        EXPECT_EQ(1, m_peer.refs.load()) << "no reference left on the peer";
    }
    EXPECT_EQ(E_POINTER, m_pin->Connect(nullptr, nullptr));
    otherOutput.Reset();
    EXPECT_EQ(0u, FinalRelease(otherCamera));
}

TEST_F(SourceStreamTest, ConnectionStateRules) {
    MediaTypeHolder small(NewRgb24Type(320, 240));
    ASSERT_EQ(S_OK, m_pin->Connect(&m_peer, small.p)) << "a complete type the camera has";
    MediaTypeHolder connected;
    connected.p = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(connected.p));
    EXPECT_EQ(320, connected.Vih()->bmiHeader.biWidth);

    CFakeInputPin second;
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, m_pin->Connect(&second, nullptr));
    ASSERT_EQ(S_OK, m_filter->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_pin->Disconnect());
    ASSERT_EQ(S_OK, m_filter->Stop());
    EXPECT_EQ(S_OK, m_pin->Disconnect());
    EXPECT_EQ(S_FALSE, m_pin->Disconnect());

    ASSERT_EQ(S_OK, m_filter->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_pin->Connect(&second, nullptr));
    ASSERT_EQ(S_OK, m_filter->Stop());
    EXPECT_EQ(1, second.refs.load());
}

TEST_F(SourceStreamTest, ReleasingAPausedFilterStopsItsWorkerFirst) {
    ASSERT_EQ(S_OK, m_pin->Connect(&m_peer, nullptr));
    ASSERT_EQ(S_OK, m_filter->Pause());
    ASSERT_TRUE(m_peer.WaitForReceives(2, 5000));
    // A client that lets go without stopping: the filter must not leave a worker filling a
    // destroyed pin.
    m_pin.Reset();
    EXPECT_EQ(0u, FinalRelease(m_filter));
    const long received = m_peer.receives.load();
    Sleep(100);
    EXPECT_EQ(received, m_peer.receives.load());
}

TEST_F(SourceStreamTest, MediaTypeEnumeratorGoesOutOfSyncWhenTheTypesChange) {
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, m_pin->EnumMediaTypes(&types));

    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_pin.As(&config));
    MediaTypeHolder small(NewRgb24Type(320, 240));
    ASSERT_EQ(S_OK, config->SetFormat(small.p)); // position 0 (the current format) changes

    AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(0x1234);
    ULONG fetched = 77;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, &pmt, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(1));
    ComPtr<IEnumMediaTypes> clone;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Clone(&clone));
    EXPECT_FALSE(clone);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, &pmt, &fetched)) << "still, until Reset";

    ASSERT_EQ(S_OK, types->Reset());
    ASSERT_EQ(S_OK, types->Next(1, &pmt, &fetched));
    EXPECT_EQ(1u, fetched);
    MediaTypeHolder first(pmt);
    EXPECT_EQ(320, first.Vih()->bmiHeader.biWidth);
}

TEST_F(SourceStreamTest, MediaTypeEnumeratorWalksEveryPosition) {
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, m_pin->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* batch[8] = {};
    ULONG fetched = 77;
    EXPECT_EQ(E_INVALIDARG, types->Next(2, batch, nullptr));
    EXPECT_EQ(E_POINTER, types->Next(1, nullptr, &fetched));
    EXPECT_EQ(S_FALSE, types->Next(8, batch, &fetched)) << "fewer than asked";
    ASSERT_EQ(4u, fetched) << "the current format, then the three sizes";
    const LONG widths[] = {640, 640, 320, 160};
    for (ULONG i = 0; i < fetched; ++i) {
        MediaTypeHolder t(batch[i]);
        EXPECT_EQ(widths[i], t.Vih()->bmiHeader.biWidth) << "position " << i;
    }
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(4));
    EXPECT_EQ(S_FALSE, types->Skip(1)) << "nothing at position 4";
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(2));
    ComPtr<IEnumMediaTypes> clone;
    ASSERT_EQ(S_OK, types->Clone(&clone));
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(S_OK, clone->Next(1, &pmt, nullptr));
    MediaTypeHolder third(pmt);
    EXPECT_EQ(320, third.Vih()->bmiHeader.biWidth) << "the clone keeps the position";
}

TEST_F(SourceStreamTest, PinEnumeratorGivesEachPinOnce) {
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, m_filter->EnumPins(&pins));
    IPin* batch[2] = {};
    ULONG fetched = 77;
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, batch, nullptr));
    EXPECT_EQ(S_FALSE, pins->Next(2, batch, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(m_pin.Get(), batch[0]);
    batch[0]->Release();
    EXPECT_EQ(S_FALSE, pins->Next(1, batch, &fetched));
    EXPECT_EQ(0u, fetched);

    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_FALSE, pins->Skip(2)) << "fewer than two pins left";
    EXPECT_EQ(S_OK, pins->Skip(1)) << "Skip(2) did not move";
    EXPECT_EQ(S_OK, pins->Reset());
    ComPtr<IEnumPins> clone;
    ASSERT_EQ(S_OK, pins->Clone(&clone));
    ASSERT_EQ(S_OK, clone->Next(1, batch, nullptr));
    batch[0]->Release();
}

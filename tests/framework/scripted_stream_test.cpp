// How the source stream's worker ends a stream: FillBuffer saying "no more" (S_FALSE) or failing;
// and how a start or a stop that failed leaves the pin able to stream again. A small source whose
// FillBuffer and OnThreadCreate answer from a script stands in for a real one.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "fake_input_pin.h"
#include "granting_allocator.h"
#include "FrameworkTestUtil.h"
#include "Source.h"
#include "SourceStream.h"
#include "dshow_test.h"

namespace {

const CLSID kScriptedClsid = {0x5c0a1d2e, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

// After `goodSamples` samples, FillBuffer answers `finalResult` once, then S_OK again.
COM_CLASSES_BEGIN
class CScriptedStream : public CSourceStream {
public:
    CScriptedStream(HRESULT* phr, CSource* pFilter) : CSourceStream(L"Scripted pin", phr, pFilter, L"Out") {
        (void)CTestCameraStream::BuildFormat(2, 333333, &m_mt); // 160 x 120
    }

    HRESULT FillBuffer(IMediaSample* pSample) override {
        const long n = ++fills;
        if (n == goodSamples + 1)
            return finalResult;
        BYTE* p = nullptr;
        (void)pSample->GetPointer(&p);
        std::memset(p, 0, static_cast<size_t>(pSample->GetSize()));
        return S_OK;
    }
    HRESULT OnThreadCreate() override {
        ++creates;
        if (failCreates > 0) {
            --failCreates;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT OnThreadDestroy() override {
        ++destroys;
        return S_OK;
    }
    HRESULT GetMediaType(CMediaType* pmt) override { return pmt->Set(m_mt); }
    using CSourceStream::GetMediaType;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override {
        ALLOCATOR_PROPERTIES req = *pProps, actual = {};
        req.cBuffers = 3;
        req.cbBuffer = static_cast<long>(m_mt.lSampleSize);
        req.cbAlign = req.cbAlign > 0 ? req.cbAlign : 1;
        return pAlloc->SetProperties(&req, &actual);
    }

    long goodSamples = 3;
    HRESULT finalResult = S_FALSE;
    std::atomic<long> failCreates{0}; // this many OnThreadCreate calls fail (out of memory) first
    std::atomic<long> fills{0}, creates{0}, destroys{0};
};

class CScriptedSource : public CSource {
public:
    explicit CScriptedSource(HRESULT* phr) : CSource(L"Scripted source", nullptr, kScriptedClsid) {
        m_pStream = new CScriptedStream(phr, this);
    }
    CScriptedStream* m_pStream;
};
COM_CLASSES_END

ComPtr<IBaseFilter> CreateScripted(CScriptedSource** ppSource) {
    HRESULT hr = S_OK;
    CScriptedSource* p = new CScriptedSource(&hr);
    ComPtr<IBaseFilter> filter;
    p->NonDelegatingAddRef();
    (void)p->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf()));
    p->NonDelegatingRelease();
    *ppSource = p;
    return SUCCEEDED(hr) ? filter : nullptr;
}

} // namespace

TEST(ScriptedStreamTest, FillBufferSFalseEndsTheStreamWithEndOfStream) {
    win::ComScope com;
    CFakeInputPin peer;
    CScriptedSource* source = nullptr;
    ComPtr<IBaseFilter> filter = CreateScripted(&source);
    ASSERT_TRUE(filter);
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, filter->FindPin(L"1", &pin));
    ASSERT_EQ(S_OK, pin->Connect(&peer, nullptr));
    ASSERT_EQ(S_OK, filter->Pause());
    const DWORD start = GetTickCount();
    while (peer.endOfStreams.load() == 0 && GetTickCount() - start < 5000)
        Sleep(2);
    Sleep(100);
    EXPECT_EQ(3, peer.receives.load()) << "the samples before the end, and none after";
    EXPECT_EQ(1, peer.endOfStreams.load());
    EXPECT_EQ(4, source->m_pStream->fills.load());
    EXPECT_TRUE(source->m_pStream->ThreadExists()) << "the worker waits for its next command";
    EXPECT_EQ(S_OK, filter->Stop());
    EXPECT_EQ(1, source->m_pStream->creates.load());
    EXPECT_EQ(1, source->m_pStream->destroys.load());
    EXPECT_EQ(S_OK, pin->Disconnect());
    pin.Reset();
    EXPECT_EQ(0u, FinalRelease(filter));
    EXPECT_EQ(1, peer.refs.load());
}

TEST(ScriptedStreamTest, FillBufferFailureAbortsTheStreamThroughTheGraph) {
    win::ComScope com;
    CScriptedSource* source = nullptr;
    ComPtr<IBaseFilter> filter = CreateScripted(&source);
    ASSERT_TRUE(filter);
    source->m_pStream->finalResult = E_ACCESSDENIED;

    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(graph.GetAddressOf())));
    ComPtr<IBaseFilter> grabber;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(grabber.GetAddressOf())));
    ASSERT_EQ(S_OK, graph->AddFilter(filter.Get(), L"Scripted"));
    ASSERT_EQ(S_OK, graph->AddFilter(grabber.Get(), L"Sample Grabber"));
    ComPtr<IPin> out = FindPinByDirection(filter.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> in = FindPinByDirection(grabber.Get(), PINDIR_INPUT);
    ASSERT_EQ(S_OK, graph->ConnectDirect(out.Get(), in.Get(), nullptr));

    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, filter->QueryFilterInfo(&info));
    EXPECT_STREQ(L"Scripted", info.achName) << "the name the graph gave it";
    ComPtr<IFilterGraph> graphAsFilterGraph;
    ASSERT_EQ(S_OK, graph.As(&graphAsFilterGraph));
    EXPECT_EQ(graphAsFilterGraph.Get(), info.pGraph) << "the graph, with a reference for us";
    if (info.pGraph) {
        info.pGraph->Release();
    }
    graphAsFilterGraph.Reset();

    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(S_OK, graph.As(&control));
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.GetAddressOf())));
    (void)control->Run();

    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    bool aborted = false;
    const DWORD start = GetTickCount();
    while (!aborted && GetTickCount() - start < 5000) {
        if (events->GetEvent(&code, &p1, &p2, 100) != S_OK)
            continue;
        aborted = code == EC_ERRORABORT;
        if (aborted) {
            EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(p1));
        }
        (void)events->FreeEventParams(code, p1, p2);
    }
    EXPECT_TRUE(aborted) << "EC_ERRORABORT with FillBuffer's code reached the graph";
    EXPECT_EQ(S_OK, control->Stop());
    EXPECT_FALSE(source->m_pStream->ThreadExists());

    out.Reset();
    in.Reset();
    control.Reset();
    events.Reset();
    EXPECT_EQ(0u, FinalRelease(graph));
    EXPECT_EQ(0u, FinalRelease(filter));
    EXPECT_EQ(0u, FinalRelease(grabber));
}

// A start whose worker cannot set itself up (out of memory), or a stop whose allocator refuses to
// decommit, is reported, but neither may leave a thread or a committed allocator behind that keeps
// the next start from working.
TEST(ScriptedStreamTest, AFailedStartOrStopDoesNotStopTheNextStart) {
    constexpr long kFrame = 160 * 120 * 3;
    struct Case {
        const char* name;
        long failCreates;
        HRESULT failDecommit;
        HRESULT firstPause, firstStop; // what the failing round answers
    } cases[] = {
        {"the worker's OnThreadCreate fails", 1, S_OK, E_OUTOFMEMORY, S_OK},
        {"the allocator's decommit fails", 0, VFW_E_TIMEOUT, S_OK, VFW_E_TIMEOUT},
    };
    win::ComScope com;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CGrantingAllocator allocator(kFrame);
        ASSERT_EQ(S_OK, allocator.Created());
        CFakeInputPin peer;
        peer.allocator = &allocator;
        CScriptedSource* source = nullptr;
        ComPtr<IBaseFilter> filter = CreateScripted(&source);
        ASSERT_TRUE(filter);
        CScriptedStream* stream = source->m_pStream;
        stream->goodSamples = 1000000; // streams until stopped
        stream->failCreates = c.failCreates;
        ComPtr<IPin> pin;
        ASSERT_EQ(S_OK, filter->FindPin(L"1", &pin));
        ASSERT_EQ(S_OK, pin->Connect(&peer, nullptr));

        // The failing round.
        EXPECT_EQ(c.firstPause, filter->Pause());
        if (SUCCEEDED(c.firstPause)) {
            EXPECT_TRUE(peer.WaitForReceives(2, 5000));
            allocator.failNextDecommit = c.failDecommit;
        }
        EXPECT_EQ(c.firstStop, filter->Stop());
        FILTER_STATE state = State_Running;
        EXPECT_EQ(S_OK, filter->GetState(0, &state));
        EXPECT_EQ(State_Stopped, state);
        EXPECT_FALSE(stream->ThreadExists()) << "no worker is left behind";

        // The next round streams.
        const long before = peer.receives.load();
        EXPECT_EQ(S_OK, filter->Pause());
        EXPECT_TRUE(peer.WaitForReceives(before + 3, 5000)) << "samples flow again";
        EXPECT_EQ(S_OK, filter->Stop());
        if (stream->ThreadExists()) {
            ADD_FAILURE() << "a worker outlived the stop";
            (void)stream->Inactive(); // so that releasing the filter does not wait for it forever
        }
        EXPECT_EQ(0, stream->failCreates.load());
        EXPECT_EQ(2, stream->creates.load()) << "one worker per round";
        EXPECT_EQ(stream->creates.load(), stream->destroys.load()) << "every worker that began also ended";
        EXPECT_EQ(allocator.commits.load(), allocator.decommits.load() + (FAILED(c.failDecommit) ? 1 : 0))
            << "committed only while streaming (a refused decommit aside)";

        EXPECT_EQ(S_OK, pin->Disconnect());
        pin.Reset();
        EXPECT_EQ(0u, FinalRelease(filter));
        EXPECT_EQ(1, peer.refs.load());
        EXPECT_EQ(1, allocator.refs.load());
    }
}

TEST(ScriptedStreamTest, SelfRegistrationWithoutSetupDataDoesNothing) {
    win::ComScope com;
    CScriptedSource* source = nullptr;
    ComPtr<IBaseFilter> filter = CreateScripted(&source);
    ASSERT_TRUE(filter);
    ComPtr<IAMovieSetup> setup;
    ASSERT_EQ(S_OK, filter.As(&setup));
    EXPECT_EQ(S_FALSE, setup->Register());
    EXPECT_EQ(S_FALSE, setup->Unregister());
    CLSID clsid = {};
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(clsid == kScriptedClsid);
    EXPECT_EQ(E_POINTER, filter->GetClassID(nullptr));
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IPersist> persist;
    EXPECT_EQ(S_OK, filter.As(&mediaFilter));
    EXPECT_EQ(S_OK, filter.As(&persist));
    EXPECT_EQ(E_NOTIMPL, filter->QueryVendorInfo(nullptr));
    setup.Reset();
    mediaFilter.Reset();
    persist.Reset();
    EXPECT_EQ(0u, FinalRelease(filter));
}

// GrabberGraph: a client's graph around a video source, as video applications build one:
// source -> sample grabber -> null renderer in the platform's filter graph, connected directly or
// through the capture graph builder's capture or preview path (the latter inserts a Smart Tee).
// Every step answers an HRESULT, so tests (through CClientGraph), benchmarks and the client program
// device_client.exe all build it the same way.
//
// Threading: built, run and stopped from one thread; the grabber calls its callback on the
// source's streaming thread.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <wrl/client.h>

namespace testing_support {

enum class GraphPath {
    Direct,  // IGraphBuilder::ConnectDirect, pin to pin
    Capture, // ICaptureGraphBuilder2::RenderStream(PIN_CATEGORY_CAPTURE)
    Preview, // ICaptureGraphBuilder2::RenderStream(PIN_CATEGORY_PREVIEW): a Smart Tee for a source
             // with only a capture pin
};

const char* GraphPathName(GraphPath path);

class GrabberGraph {
public:
    GrabberGraph() = default;
    ~GrabberGraph() { (void)Release(); }
    GrabberGraph(const GrabberGraph&) = delete;
    GrabberGraph& operator=(const GrabberGraph&) = delete;

    // Makes the graph, the sample grabber (taking pGrabberType, or RGB24 video of any size, and
    // handing each buffer to pCallback's BufferCB) and the null renderer, and adds the three with
    // pSource. Connects nothing. pSource and pCallback stay the caller's and must outlive the graph.
    HRESULT Create(IBaseFilter* pSource, ISampleGrabberCB* pCallback,
                   const AM_MEDIA_TYPE* pGrabberType = nullptr);
    // Connects source -> grabber -> null renderer along path.
    HRESULT Connect(GraphPath path = GraphPath::Direct);
    // Undoes a direct connection, pin by pin.
    HRESULT Disconnect();

    HRESULT Run() { return m_control->Run(); }
    // The capture program's stop order: pause, drop the callback, stop. The result is Stop's, or the
    // callback's removal when that failed.
    HRESULT Stop();
    // The type the source's output pin was connected with.
    HRESULT ConnectedType(AM_MEDIA_TYPE* pmt) { return m_sourceOut->ConnectionMediaType(pmt); }

    // What each platform object still counted after its last release here (all 0: nothing leaked).
    struct Leftovers {
        ULONG graph = 0, grabber = 0, renderer = 0, builder = 0;
    };
    // Stops the graph and lets go of everything. The source goes back to the caller.
    Leftovers Release();

    IGraphBuilder* Graph() const { return m_graph.Get(); }
    IMediaControl* Control() const { return m_control.Get(); }
    ISampleGrabber* Grabber() const { return m_grabber.Get(); }
    IPin* SourceOut() const { return m_sourceOut.Get(); }
    IPin* GrabberIn() const { return m_grabberIn.Get(); }
    IPin* GrabberOut() const { return m_grabberOut.Get(); }
    IPin* RendererIn() const { return m_rendererIn.Get(); }

private:
    IBaseFilter* m_source = nullptr; // the caller's
    Microsoft::WRL::ComPtr<IGraphBuilder> m_graph;
    Microsoft::WRL::ComPtr<IBaseFilter> m_grabberFilter;
    Microsoft::WRL::ComPtr<ISampleGrabber> m_grabber;
    Microsoft::WRL::ComPtr<IBaseFilter> m_renderer;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> m_builder;
    Microsoft::WRL::ComPtr<IMediaControl> m_control;
    Microsoft::WRL::ComPtr<IPin> m_sourceOut, m_grabberIn, m_grabberOut, m_rendererIn;
};

// Chooses the source's capability of this size and sets it as the current format, as a capture
// application does when its user picks a size: the capability's format block on the current type,
// with frameTime as its AvgTimePerFrame when frameTime > 0 (else the capability's own).
// E_INVALIDARG when no capability has that size.
HRESULT SetFormatOfSize(IAMStreamConfig* pConfig, SIZE size, REFERENCE_TIME frameTime = 0);

} // namespace testing_support

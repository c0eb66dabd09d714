// CPreviewGraph: the viewer's DirectShow graph, built as video applications build a preview:
// capture device -> sample grabber (24-bit RGB) -> null renderer, through the capture graph
// builder's preview stream. For a device with only a capture pin the builder puts a Smart Tee in
// between, whose preview pin drops the time stamps, so frames reach the grabber as they come.
//
// Threading: every method runs on the one thread that built the graph (the viewer's graph thread,
// in the multithreaded apartment). The grabber calls its callback on the device's streaming thread.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <wrl/client.h>

#include <string>

namespace viewer {

class CPreviewGraph {
public:
    CPreviewGraph() = default;
    // Stops the graph if it still runs and lets go of every filter.
    ~CPreviewGraph();
    CPreviewGraph(const CPreviewGraph&) = delete;
    CPreviewGraph& operator=(const CPreviewGraph&) = delete;

    // Builds the graph around pDevice. A size other than {0, 0} is set first through the device's
    // IAMStreamConfig::SetFormat. pCallback gets every frame (BufferCB) and must outlive the graph.
    // On failure *pWhy says which step failed and why.
    HRESULT Build(IBaseFilter* pDevice, SIZE size, ISampleGrabberCB* pCallback, std::wstring* pWhy);

    // The picture the grabber was connected with (24-bit RGB) and the connection's frame time
    // (100 ns units; 0 when the type gives none).
    const BITMAPINFOHEADER& Format() const { return m_format; }
    REFERENCE_TIME FrameTime() const { return m_frameTime; }

    HRESULT Run();
    // Stops the graph and takes the callback off the grabber.
    HRESULT Stop();

    // Signalled while the graph has events queued; owned by the graph (never closed here). Null
    // when the graph gave none.
    HANDLE EventHandle() const { return m_eventHandle; }
    // Takes every queued event. True, with a description in *pWhat, when one of them says the
    // stream has ended or the device was lost.
    bool TakeStreamEnd(std::wstring* pWhat);

private:
    HRESULT SetSize(SIZE size, std::wstring* pWhy);
    HRESULT ReadFormat(std::wstring* pWhy);

    Microsoft::WRL::ComPtr<IGraphBuilder> m_graph;
    Microsoft::WRL::ComPtr<ICaptureGraphBuilder2> m_builder;
    Microsoft::WRL::ComPtr<IBaseFilter> m_device;
    Microsoft::WRL::ComPtr<IBaseFilter> m_grabberFilter;
    Microsoft::WRL::ComPtr<ISampleGrabber> m_grabber;
    Microsoft::WRL::ComPtr<IBaseFilter> m_renderer;
    Microsoft::WRL::ComPtr<IMediaControl> m_control;
    Microsoft::WRL::ComPtr<IMediaEventEx> m_events;
    HANDLE m_eventHandle = nullptr;
    BITMAPINFOHEADER m_format = {};
    REFERENCE_TIME m_frameTime = 0;
    bool m_running = false;
};

} // namespace viewer

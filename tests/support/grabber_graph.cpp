#include "grabber_graph.h"

#include <cstring>

#include "dshow_test.h"
#include "media_types.h"

namespace testing_support {

const char* GraphPathName(GraphPath path) {
    switch (path) {
    case GraphPath::Direct:
        return "direct";
    case GraphPath::Capture:
        return "capture";
    case GraphPath::Preview:
        return "preview";
    }
    return "?";
}

HRESULT GrabberGraph::Create(IBaseFilter* pSource, ISampleGrabberCB* pCallback,
                             const AM_MEDIA_TYPE* pGrabberType) {
    if (!pSource || m_graph)
        return E_UNEXPECTED;
    m_source = pSource;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(m_graph.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(m_grabberFilter.GetAddressOf()))) ||
        FAILED(hr = m_grabberFilter.As(&m_grabber)))
        return hr;
    if (FAILED(hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(m_renderer.GetAddressOf()))))
        return hr;
    if (FAILED(hr = m_graph->AddFilter(pSource, L"Video Capture")) ||
        FAILED(hr = m_graph->AddFilter(m_grabberFilter.Get(), L"Sample Grabber")) ||
        FAILED(hr = m_graph->AddFilter(m_renderer.Get(), L"Null Renderer")) ||
        FAILED(hr = m_graph.As(&m_control)))
        return hr;

    AM_MEDIA_TYPE anyRgb24 = {};
    anyRgb24.majortype = MEDIATYPE_Video;
    anyRgb24.subtype = MEDIASUBTYPE_RGB24;
    if (FAILED(hr = m_grabber->SetMediaType(pGrabberType ? pGrabberType : &anyRgb24)) ||
        FAILED(hr = m_grabber->SetBufferSamples(FALSE)) || FAILED(hr = m_grabber->SetOneShot(FALSE)) ||
        FAILED(hr = m_grabber->SetCallback(pCallback, 1)))
        return hr;

    m_sourceOut = FindPinByDirection(pSource, PINDIR_OUTPUT);
    m_grabberIn = FindPinByDirection(m_grabberFilter.Get(), PINDIR_INPUT);
    m_grabberOut = FindPinByDirection(m_grabberFilter.Get(), PINDIR_OUTPUT);
    m_rendererIn = FindPinByDirection(m_renderer.Get(), PINDIR_INPUT);
    if (!m_sourceOut || !m_grabberIn || !m_grabberOut || !m_rendererIn)
        return VFW_E_NOT_FOUND;
    return S_OK;
}

HRESULT GrabberGraph::Connect(GraphPath path) {
    if (!m_graph)
        return E_UNEXPECTED;
    HRESULT hr;
    if (path == GraphPath::Direct) {
        if (FAILED(hr = m_graph->ConnectDirect(m_sourceOut.Get(), m_grabberIn.Get(), nullptr)))
            return hr;
        return m_graph->ConnectDirect(m_grabberOut.Get(), m_rendererIn.Get(), nullptr);
    }
    if (!m_builder) {
        if (FAILED(hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICaptureGraphBuilder2,
                                         reinterpret_cast<void**>(m_builder.GetAddressOf()))) ||
            FAILED(hr = m_builder->SetFiltergraph(m_graph.Get())))
            return hr;
    }
    // The grabber stands where an application would put a compressor; the renderer ends the stream.
    const GUID* category = path == GraphPath::Capture ? &PIN_CATEGORY_CAPTURE : &PIN_CATEGORY_PREVIEW;
    hr = m_builder->RenderStream(category, &MEDIATYPE_Video, m_source, m_grabberFilter.Get(),
                                 m_renderer.Get());
    // VFW_S_NOPREVIEWPIN: the preview was made from the capture pin through a Smart Tee.
    return FAILED(hr) ? hr : S_OK;
}

HRESULT GrabberGraph::Disconnect() {
    if (!m_graph)
        return E_UNEXPECTED;
    for (IPin* pin : {m_sourceOut.Get(), m_grabberIn.Get(), m_grabberOut.Get(), m_rendererIn.Get()}) {
        const HRESULT hr = m_graph->Disconnect(pin);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT GrabberGraph::Stop() {
    if (!m_control)
        return E_UNEXPECTED;
    (void)m_control->Pause(); // a graph that never ran has nothing to pause
    const HRESULT hrCallback = m_grabber ? m_grabber->SetCallback(nullptr, 1) : S_OK;
    const HRESULT hr = m_control->Stop();
    return FAILED(hrCallback) ? hrCallback : hr;
}

GrabberGraph::Leftovers GrabberGraph::Release() {
    Leftovers left;
    if (m_control)
        (void)m_control->Stop(); // a stopped graph answers S_OK again
    if (m_grabber)
        (void)m_grabber->SetCallback(nullptr, 1); // the callback may be gone before the grabber
    m_control.Reset();
    m_sourceOut.Reset();
    m_grabberIn.Reset();
    m_grabberOut.Reset();
    m_rendererIn.Reset();
    m_grabber.Reset();
    if (m_builder)
        left.builder = FinalRelease(m_builder);
    if (m_graph)
        left.graph = FinalRelease(m_graph);
    if (m_grabberFilter)
        left.grabber = FinalRelease(m_grabberFilter);
    if (m_renderer)
        left.renderer = FinalRelease(m_renderer);
    m_source = nullptr;
    return left;
}

HRESULT SetFormatOfSize(IAMStreamConfig* pConfig, SIZE size, REFERENCE_TIME frameTime) {
    int count = 0, recordSize = 0;
    HRESULT hr = pConfig->GetNumberOfCapabilities(&count, &recordSize);
    if (FAILED(hr))
        return hr;
    if (recordSize != sizeof(VIDEO_STREAM_CONFIG_CAPS))
        return E_FAIL;
    for (int i = 0; i < count; ++i) {
        MediaTypeHolder caps;
        VIDEO_STREAM_CONFIG_CAPS scc = {};
        if (FAILED(pConfig->GetStreamCaps(i, &caps.p, reinterpret_cast<BYTE*>(&scc))) || !caps.p)
            continue;
        if (caps.p->formattype != FORMAT_VideoInfo || caps.p->cbFormat < sizeof(VIDEOINFOHEADER) ||
            !caps.p->pbFormat)
            continue;
        if (caps.Vih()->bmiHeader.biWidth != size.cx || caps.Vih()->bmiHeader.biHeight != size.cy)
            continue;
        MediaTypeHolder current;
        if (FAILED(hr = pConfig->GetFormat(&current.p)))
            return hr;
        if (!current.p || current.p->cbFormat < sizeof(VIDEOINFOHEADER) || !current.p->pbFormat)
            return E_FAIL;
        std::memcpy(current.p->pbFormat, caps.p->pbFormat, sizeof(VIDEOINFOHEADER));
        if (frameTime > 0)
            reinterpret_cast<VIDEOINFOHEADER*>(current.p->pbFormat)->AvgTimePerFrame = frameTime;
        return pConfig->SetFormat(current.p);
    }
    return E_INVALIDARG;
}

} // namespace testing_support

#include "PreviewGraph.h"

#include <dvdmedia.h>

#include <cstdio>

namespace viewer {

using Microsoft::WRL::ComPtr;

namespace {

// The sample grabber and the null renderer; the mingw headers do not declare their class ids.
const CLSID kClsidSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kClsidNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

HRESULT Failed(std::wstring* pWhy, const wchar_t* step, HRESULT hr) {
    wchar_t text[160];
    std::swprintf(text, sizeof text / sizeof text[0], L"%ls failed (0x%08lx)", step,
                  static_cast<unsigned long>(hr));
    *pWhy = text;
    return hr;
}

// Frees what a media type points at: its format block and its unknown (task memory and a
// reference, as the DirectShow documentation gives them to the caller).
void FreeTypeContents(AM_MEDIA_TYPE* pmt) {
    if (pmt->pbFormat)
        CoTaskMemFree(pmt->pbFormat);
    pmt->pbFormat = nullptr;
    pmt->cbFormat = 0;
    if (pmt->pUnk)
        pmt->pUnk->Release();
    pmt->pUnk = nullptr;
}

// A media type allocated by the callee (GetStreamCaps): the structure and its contents.
class CTaskMediaType {
public:
    CTaskMediaType() = default;
    ~CTaskMediaType() { Reset(); }
    CTaskMediaType(const CTaskMediaType&) = delete;
    CTaskMediaType& operator=(const CTaskMediaType&) = delete;

    AM_MEDIA_TYPE** Put() {
        Reset();
        return &m_pmt;
    }
    // Takes other's type, freeing the one held.
    void Take(CTaskMediaType& other) {
        Reset();
        m_pmt = other.m_pmt;
        other.m_pmt = nullptr;
    }
    AM_MEDIA_TYPE* Get() const { return m_pmt; }
    // The bitmap header of a VIDEOINFOHEADER type whose block is whole, or null.
    const VIDEOINFOHEADER* Vih() const {
        if (!m_pmt || m_pmt->formattype != FORMAT_VideoInfo || !m_pmt->pbFormat ||
            m_pmt->cbFormat < sizeof(VIDEOINFOHEADER))
            return nullptr;
        return reinterpret_cast<const VIDEOINFOHEADER*>(m_pmt->pbFormat);
    }

private:
    void Reset() {
        if (!m_pmt)
            return;
        FreeTypeContents(m_pmt);
        CoTaskMemFree(m_pmt);
        m_pmt = nullptr;
    }
    AM_MEDIA_TYPE* m_pmt = nullptr;
};

std::wstring SizeText(LONG width, LONG height) {
    return std::to_wstring(width) + L"x" + std::to_wstring(height);
}

} // namespace

CPreviewGraph::~CPreviewGraph() {
    (void)Stop(); // a failure leaves nothing to undo: the references go below either way
    m_eventHandle = nullptr;
    m_events.Reset();
    m_control.Reset();
    m_builder.Reset();
    m_grabber.Reset();
    // The graph holds the filters it was given; it goes first so that their last references are ours.
    m_graph.Reset();
    m_renderer.Reset();
    m_grabberFilter.Reset();
    m_device.Reset();
}

HRESULT CPreviewGraph::Build(IBaseFilter* pDevice, SIZE size, ISampleGrabberCB* pCallback,
                             std::wstring* pWhy) {
    if (!pDevice || !pCallback || m_graph)
        return Failed(pWhy, L"building the graph", E_UNEXPECTED);
    m_device = pDevice;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(m_graph.GetAddressOf()));
    if (FAILED(hr))
        return Failed(pWhy, L"creating the filter graph", hr);
    if (FAILED(hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICaptureGraphBuilder2,
                                     reinterpret_cast<void**>(m_builder.GetAddressOf()))))
        return Failed(pWhy, L"creating the capture graph builder", hr);
    if (FAILED(hr = m_builder->SetFiltergraph(m_graph.Get())))
        return Failed(pWhy, L"giving the builder its graph", hr);
    if (FAILED(hr = m_graph->AddFilter(pDevice, L"Video Capture")))
        return Failed(pWhy, L"adding the device to the graph", hr);
    if ((size.cx != 0 || size.cy != 0) && FAILED(hr = SetSize(size, pWhy)))
        return hr;

    if (FAILED(hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(m_grabberFilter.GetAddressOf()))) ||
        FAILED(hr = m_grabberFilter.As(&m_grabber)))
        return Failed(pWhy, L"creating the sample grabber", hr);
    AM_MEDIA_TYPE rgb24 = {};
    rgb24.majortype = MEDIATYPE_Video;
    rgb24.subtype = MEDIASUBTYPE_RGB24;
    if (FAILED(hr = m_grabber->SetMediaType(&rgb24)) || FAILED(hr = m_grabber->SetBufferSamples(FALSE)) ||
        FAILED(hr = m_grabber->SetOneShot(FALSE)) || FAILED(hr = m_grabber->SetCallback(pCallback, 1)))
        return Failed(pWhy, L"setting up the sample grabber", hr);
    if (FAILED(hr = m_graph->AddFilter(m_grabberFilter.Get(), L"Sample Grabber")))
        return Failed(pWhy, L"adding the sample grabber", hr);
    if (FAILED(hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(m_renderer.GetAddressOf()))))
        return Failed(pWhy, L"creating the null renderer", hr);
    if (FAILED(hr = m_graph->AddFilter(m_renderer.Get(), L"Null Renderer")))
        return Failed(pWhy, L"adding the null renderer", hr);

    // The preview stream first, as a video application shows a camera; a device whose pins the
    // builder cannot preview from is tried through its capture stream.
    hr = m_builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, pDevice, m_grabberFilter.Get(),
                                 m_renderer.Get());
    if (FAILED(hr))
        hr = m_builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, pDevice, m_grabberFilter.Get(),
                                     m_renderer.Get());
    if (FAILED(hr))
        return Failed(pWhy, L"connecting the device to the sample grabber", hr);
    if (FAILED(hr = ReadFormat(pWhy)))
        return hr;

    // A viewer shows each frame when it comes: without a clock the renderer holds no sample back
    // until its time stamp, which a capture stream (not its preview) would otherwise make it do.
    ComPtr<IMediaFilter> timing;
    if (FAILED(hr = m_graph.As(&timing)) || FAILED(hr = timing->SetSyncSource(nullptr)))
        return Failed(pWhy, L"taking the clock off the graph", hr);
    if (FAILED(hr = m_graph.As(&m_control)))
        return Failed(pWhy, L"getting the graph's media control", hr);
    // By its IID: the mingw headers give IMediaEventEx no __uuidof for ComPtr::As.
    if (FAILED(hr = m_graph->QueryInterface(IID_IMediaEventEx,
                                            reinterpret_cast<void**>(m_events.GetAddressOf()))))
        return Failed(pWhy, L"getting the graph's events", hr);
    OAEVENT handle = 0;
    if (FAILED(hr = m_events->GetEventHandle(&handle)))
        return Failed(pWhy, L"getting the graph's event handle", hr);
    m_eventHandle = reinterpret_cast<HANDLE>(handle);
    return S_OK;
}

HRESULT CPreviewGraph::SetSize(SIZE size, std::wstring* pWhy) {
    ComPtr<IAMStreamConfig> config;
    HRESULT hr =
        m_builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_device.Get(), IID_IAMStreamConfig,
                                 reinterpret_cast<void**>(config.GetAddressOf()));
    if (FAILED(hr))
        return Failed(pWhy, L"finding the device's stream configuration", hr);
    int count = 0, recordSize = 0;
    if (FAILED(hr = config->GetNumberOfCapabilities(&count, &recordSize)))
        return Failed(pWhy, L"reading the device's capabilities", hr);
    if (recordSize != sizeof(VIDEO_STREAM_CONFIG_CAPS))
        return Failed(pWhy, L"reading the device's capabilities (not video)", E_UNEXPECTED);

    // A size may come in several subtypes (a webcam's YUY2 and MJPG): 24-bit RGB is preferred,
    // which needs no converter, else the first of them.
    CTaskMediaType chosen;
    REFERENCE_TIME fastest = 0;
    std::wstring offered;
    for (int i = 0; i < count; ++i) {
        CTaskMediaType type;
        VIDEO_STREAM_CONFIG_CAPS caps = {};
        if (FAILED(config->GetStreamCaps(i, type.Put(), reinterpret_cast<BYTE*>(&caps))) || !type.Vih())
            continue;
        const BITMAPINFOHEADER& bih = type.Vih()->bmiHeader;
        const std::wstring text = SizeText(bih.biWidth, bih.biHeight);
        if (offered.find(text) == std::wstring::npos)
            offered += (offered.empty() ? L"" : L", ") + text;
        if (bih.biWidth != size.cx || bih.biHeight != size.cy)
            continue;
        if (!chosen.Get() ||
            (type.Get()->subtype == MEDIASUBTYPE_RGB24 && chosen.Get()->subtype != MEDIASUBTYPE_RGB24)) {
            chosen.Take(type);
            fastest = caps.MinFrameInterval;
        }
    }
    if (!chosen.Get()) {
        *pWhy = L"the device offers no " + SizeText(size.cx, size.cy) + L" (it offers " +
                (offered.empty() ? std::wstring(L"no video sizes") : offered) + L")";
        return E_INVALIDARG;
    }
    // A capability without a rate of its own is asked for at the fastest it allows.
    VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(chosen.Get()->pbFormat);
    if (vih->AvgTimePerFrame <= 0 && fastest > 0)
        vih->AvgTimePerFrame = fastest;
    if (FAILED(hr = config->SetFormat(chosen.Get())))
        return Failed(pWhy, (L"setting the size " + SizeText(size.cx, size.cy)).c_str(), hr);
    return S_OK;
}

HRESULT CPreviewGraph::ReadFormat(std::wstring* pWhy) {
    AM_MEDIA_TYPE type = {};
    HRESULT hr = m_grabber->GetConnectedMediaType(&type);
    if (FAILED(hr))
        return Failed(pWhy, L"reading the connection's format", hr);
    const BITMAPINFOHEADER* bih = nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        bih = &vih->bmiHeader;
        m_frameTime = vih->AvgTimePerFrame;
    } else if (type.formattype == FORMAT_VideoInfo2 && type.pbFormat &&
               type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const VIDEOINFOHEADER2* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        bih = &vih->bmiHeader;
        m_frameTime = vih->AvgTimePerFrame;
    }
    if (bih)
        m_format = *bih;
    FreeTypeContents(&type);
    if (!bih || m_format.biBitCount != 24 || m_format.biWidth <= 0 || m_format.biHeight == 0)
        return Failed(pWhy, L"reading the connection's format (not 24-bit RGB video)",
                      VFW_E_INVALIDMEDIATYPE);
    m_format.biSize = sizeof(BITMAPINFOHEADER);
    m_format.biCompression = BI_RGB;
    if (m_frameTime < 0)
        m_frameTime = 0;
    return S_OK;
}

HRESULT CPreviewGraph::Run() {
    if (!m_control)
        return E_UNEXPECTED;
    const HRESULT hr = m_control->Run();
    // S_FALSE: the graph is still on its way to running, which it finishes by itself.
    m_running = SUCCEEDED(hr);
    return hr;
}

HRESULT CPreviewGraph::Stop() {
    if (!m_control)
        return S_OK;
    const HRESULT hr = m_running ? m_control->Stop() : S_OK;
    m_running = false;
    if (m_grabber)
        (void)m_grabber->SetCallback(nullptr, 1); // the stopped grabber calls nobody either way
    return hr;
}

bool CPreviewGraph::TakeStreamEnd(std::wstring* pWhat) {
    if (!m_events)
        return false;
    bool ended = false;
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (m_events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        wchar_t text[160] = {};
        switch (code) {
        case EC_DEVICE_LOST:
            // Param 2 is 0 when the device went away and 1 when it came back.
            if (param2 == 0)
                std::swprintf(text, 160, L"the device was lost");
            break;
        case EC_ERRORABORT:
        case EC_ERRORABORTEX:
            std::swprintf(text, 160, L"the stream stopped with an error (0x%08lx)",
                          static_cast<unsigned long>(param1));
            break;
        case EC_STREAM_ERROR_STOPPED:
            std::swprintf(text, 160, L"the stream stopped after an error (0x%08lx)",
                          static_cast<unsigned long>(param1));
            break;
        case EC_USERABORT:
            std::swprintf(text, 160, L"the stream was stopped");
            break;
        case EC_COMPLETE:
            std::swprintf(text, 160, L"the stream ended");
            break;
        default:
            break;
        }
        (void)m_events->FreeEventParams(code, param1, param2); // frees only what GetEvent allocated
        if (text[0]) {
            *pWhat = text;
            ended = true;
        }
    }
    return ended;
}

} // namespace viewer

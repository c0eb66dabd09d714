#include "DShowClient.h"

#include "CaptureGraph.h"

#include <cstdlib>
#include <cstring>

#include "GrabberCallback.h"
#include "Log.h"
#include "VideoDevices.h"

using Microsoft::WRL::ComPtr;

struct CCaptureGraph::Interfaces {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<ICaptureGraphBuilder> builder;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> device;
};

namespace {

template <typename T> HRESULT CreateInProc(REFCLSID clsid, ComPtr<T>& object) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                            reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
}

} // namespace

CCaptureGraph::CCaptureGraph() : m_pCallback(new CGrabberCallback(m_handoff)), m_format() {
    BITMAPINFOHEADER& bmi = m_format.bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = 640;
    bmi.biHeight = 480;
    bmi.biPlanes = 1;
    bmi.biBitCount = 24;
    bmi.biCompression = BI_RGB;
    bmi.biSizeImage = 640 * 480 * 3;
}

CCaptureGraph::~CCaptureGraph() {
    TearDown();
}

bool CCaptureGraph::IsBuilt() const {
    return m_p != nullptr;
}

BOOL CCaptureGraph::Build(const CString& deviceName, const VIDEOINFOHEADER* format) {
    if (deviceName.IsEmpty())
        return FALSE;
    TearDown();
    auto p = std::make_unique<Interfaces>();
    p->device = FindVideoDevice(deviceName);
    if (!p->device)
        return FALSE;
    if (FAILED(LOG_IF_FAILED(CreateInProc(kClsidSampleGrabber, p->grabberFilter))) ||
        FAILED(LOG_IF_FAILED(p->grabberFilter.As(&p->grabber))) ||
        FAILED(LOG_IF_FAILED(CreateInProc(CLSID_FilterGraph, p->graph))) ||
        FAILED(LOG_IF_FAILED(CreateInProc(CLSID_CaptureGraphBuilder, p->builder))) ||
        FAILED(LOG_IF_FAILED(p->builder->SetFiltergraph(p->graph.Get()))))
        return FALSE;
    m_p = std::move(p);
    if (format)
        (void)ApplyFormat(*format); // a device that keeps its own format may still connect
    return Connect();
}

BOOL CCaptureGraph::ApplyFormat(const VIDEOINFOHEADER& format) {
    if (!m_p)
        return FALSE;
    ComPtr<IAMStreamConfig> config;
    if (FAILED(LOG_IF_FAILED(m_p->builder->FindInterface(&PIN_CATEGORY_CAPTURE, m_p->device.Get(),
                                                         IID_IAMStreamConfig,
                                                         reinterpret_cast<void**>(config.GetAddressOf())))))
        return FALSE;

    // The chosen format over the device's current type. A device that refuses it keeps its own;
    // the grabber below still asks for the chosen size.
    {
        AM_MEDIA_TYPE* pmt = nullptr;
        const HRESULT hr = config->GetFormat(&pmt);
        const TaskMediaType current(pmt);
        if (SUCCEEDED(hr) && current && WholeVideoInfo(*current)) {
            std::memcpy(current->pbFormat, &format, sizeof(VIDEOINFOHEADER));
            (void)LOG_IF_FAILED(config->SetFormat(current.get()));
        }
    }

    AM_MEDIA_TYPE* pmt = nullptr;
    const HRESULT hr = config->GetFormat(&pmt);
    TaskMediaType type(pmt);
    if (FAILED(LOG_IF_FAILED(hr)) || !type)
        return FALSE;
    type->subtype = MEDIASUBTYPE_RGB24;

    BITMAPINFOHEADER& bmi = m_format.bmiHeader;
    bmi.biWidth = format.bmiHeader.biWidth;
    bmi.biHeight = format.bmiHeader.biHeight;
    bmi.biSizeImage = static_cast<DWORD>(std::llabs(static_cast<long long>(bmi.biHeight)) * 3 * bmi.biWidth);
    const VIDEOINFOHEADER* device = WholeVideoInfo(*type);
    m_format.AvgTimePerFrame = device ? device->AvgTimePerFrame : 0;
    if (!device) {
        // A block that is no whole VIDEOINFOHEADER cannot take ours: copying 88 bytes into it would
        // write past its end. The grabber gets a VIDEOINFOHEADER block of its own.
        BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
        if (!block)
            return FALSE;
        if (type->pbFormat)
            CoTaskMemFree(type->pbFormat);
        type->pbFormat = block;
        type->cbFormat = sizeof(VIDEOINFOHEADER);
        type->formattype = FORMAT_VideoInfo;
    }
    std::memcpy(type->pbFormat, &m_format, sizeof(VIDEOINFOHEADER));

    (void)LOG_IF_FAILED(m_p->grabber->SetMediaType(type.get()));          // a refusal shows in Connect
    (void)LOG_IF_FAILED(m_p->grabber->SetBufferSamples(FALSE));           // no copy of the samples kept
    (void)LOG_IF_FAILED(m_p->grabber->SetOneShot(FALSE));                 // every sample, not the first only
    (void)LOG_IF_FAILED(m_p->grabber->SetCallback(m_pCallback.get(), 1)); // 1: BufferCB
    return TRUE;
}

BOOL CCaptureGraph::Connect() {
    if (!m_p)
        return FALSE;
    if (LOG_IF_FAILED(m_p->graph->AddFilter(m_p->grabberFilter.Get(), L"Sample Grabber")) != S_OK)
        return FALSE;
    if (LOG_IF_FAILED(m_p->graph->AddFilter(m_p->device.Get(), L"Video Capture")) != S_OK)
        return FALSE;
    m_hrRender = LOG_IF_FAILED(m_p->builder->RenderStream(&PIN_CATEGORY_PREVIEW, m_p->device.Get(), nullptr,
                                                          m_p->grabberFilter.Get()));
    if (m_hrRender != S_OK && m_hrRender != VFW_S_NOPREVIEWPIN)
        return FALSE;
    return SUCCEEDED(m_p->graph.As(&m_p->control)) ? TRUE : FALSE;
}

void CCaptureGraph::TearDown() {
    m_pCallback->SetWindow(nullptr);
    if (!m_p)
        return;
    // Stopped, not paused: a stopped graph has ended its streaming threads, so after the callback
    // is taken off the grabber nothing can call it any more, and the callback may go with us.
    if (m_p->control)
        (void)LOG_IF_FAILED(m_p->control->Stop());
    if (m_p->grabber)
        (void)LOG_IF_FAILED(m_p->grabber->SetCallback(nullptr, 1));
    m_p->control.Reset();
    m_p->device.Reset();
    m_p->grabber.Reset();
    m_p->grabberFilter.Reset();
    m_leftovers.builder = m_p->builder ? m_p->builder.Reset() : 0;
    m_leftovers.graph = m_p->graph ? m_p->graph.Reset() : 0;
    m_p.reset();
}

void CCaptureGraph::Start(HWND window) {
    m_pCallback->SetWindow(window);
    if (m_p && m_p->control)
        (void)LOG_IF_FAILED(m_p->control->Run()); // a graph that did not connect has nothing to run
}

void CCaptureGraph::Stop() {
    if (m_p && m_p->control)
        (void)LOG_IF_FAILED(m_p->control->Pause());
    m_pCallback->SetWindow(nullptr);
    if (m_p && m_p->control)
        (void)LOG_IF_FAILED(m_p->control->Stop());
    // A send that began before the window was cleared may still be on its way; its buffer stays
    // guarded by the handoff, and this pause lets it finish before the graph is deleted.
    Sleep(100);
}

#include "TestCameraStream.h"

#include <wrl/client.h>

#include "Log.h"
#include "TestCamPainter.h"
#include "TestCamStall.h"
#include "TestCamera.h"
#include "TestCameraIds.h"
#include "VideoType.h"

const SIZE CTestCameraStream::kSizes[kSizeCount] = {{640, 480}, {320, 240}, {160, 120}};

CTestCameraStream::CTestCameraStream(HRESULT* phr, CTestCamera* pParent)
    : CCaptureStream(L"Zarvex Test Camera pin", phr, pParent, TESTCAM_PIN_NAME) {
    // A camera has a format before anyone connects it: the largest size at 30 frames per second.
    const HRESULT hr = BuildFormat(0, m_rtFrameTime, &m_mt);
    if (FAILED(hr) && phr)
        *phr = hr;
}

HRESULT CTestCameraStream::BuildFormat(int index, REFERENCE_TIME rtFrameTime, CMediaType* pmt) {
    if (index < 0 || index >= kSizeCount)
        return E_INVALIDARG;
    return BuildRgb24VideoType(kSizes[index].cx, kSizes[index].cy, rtFrameTime, pmt);
}

int CTestCameraStream::FormatIndex(const AM_MEDIA_TYPE* pmt) {
    const VIDEOINFOHEADER* pvih = VideoInfoOf(*pmt);
    if (pmt->majortype != MEDIATYPE_Video || pmt->subtype != MEDIASUBTYPE_RGB24 || !pvih)
        return -1;
    const BITMAPINFOHEADER& bmi = pvih->bmiHeader;
    if (bmi.biBitCount != 24 || bmi.biCompression != BI_RGB)
        return -1;
    if (bmi.biSizeImage != 0 && bmi.biSizeImage != GetBitmapSize(&bmi))
        return -1;
    if (pvih->AvgTimePerFrame != 0 &&
        (pvih->AvgTimePerFrame < kMinFrameTime || pvih->AvgTimePerFrame > kMaxFrameTime))
        return -1;
    for (int i = 0; i < kSizeCount; ++i)
        if (bmi.biWidth == kSizes[i].cx && bmi.biHeight == kSizes[i].cy)
            return i;
    return -1;
}

HRESULT CTestCameraStream::GetMediaType(CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    return pMediaType->Set(m_mt);
}

HRESULT CTestCameraStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > kSizeCount)
        return VFW_S_NO_MORE_ITEMS;
    if (!pMediaType)
        return E_POINTER;
    if (iPosition == 0)
        return GetMediaType(pMediaType);
    CAutoLock lock(m_pLock);
    return BuildFormat(iPosition - 1, m_rtFrameTime, pMediaType);
}

HRESULT CTestCameraStream::CheckMediaType(const CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    return FormatIndex(pMediaType) >= 0 ? S_OK : E_FAIL;
}

HRESULT CTestCameraStream::SetMediaType(const CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    const HRESULT hr = CSourceStream::SetMediaType(pMediaType);
    if (FAILED(hr))
        return hr;
    const VIDEOINFOHEADER* pvih = VideoInfoOf(m_mt);
    if (pvih && pvih->AvgTimePerFrame != 0)
        m_rtFrameTime = pvih->AvgTimePerFrame;
    return S_OK;
}

HRESULT CTestCameraStream::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) {
    if (!pAlloc || !pProperties)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    const VIDEOINFOHEADER* pvih = VideoInfoOf(m_mt);
    if (!pvih)
        return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES request = *pProperties;
    // Never a single buffer: the platform's Smart Tee (which a capture graph builder puts behind a
    // camera without a preview pin) hands its input allocator on to its preview pin and copies
    // each sample we deliver into another buffer of that same allocator, inside Receive and under
    // its filter lock. With one buffer that copy waits for the very sample being copied, forever.
    if (request.cBuffers < kMinBuffers)
        request.cBuffers = kMinBuffers;
    request.cbBuffer = static_cast<long>(GetBitmapSize(&pvih->bmiHeader));
    if (request.cbAlign < 1)
        request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cbBuffer < request.cbBuffer || actual.cBuffers < kMinBuffers)
        return E_FAIL;
    return S_OK;
}

HRESULT CTestCameraStream::OnThreadCreate() {
    // The thread that starts us holds the filter lock while it waits for this answer, so the
    // format cannot change under these reads.
    const VIDEOINFOHEADER* pvih = VideoInfoOf(m_mt);
    if (!pvih)
        return E_UNEXPECTED;
    m_nWidth = pvih->bmiHeader.biWidth;
    m_nHeight = pvih->bmiHeader.biHeight;
    m_cbFrame = GetBitmapSize(&pvih->bmiHeader);
    m_rtWorkerFrameTime = m_rtFrameTime;
    m_rtStream = 0;
    m_dwSequence = 0;
    m_scheduler.Start();
    return S_OK;
}

HRESULT CTestCameraStream::FillBuffer(IMediaSample* pSample) {
    // A stalled camera (TestCamStall.h) holds this frame back; a stop during the stall ends the
    // stream instead, since the graph that stops wants no more frames.
    if (TestCamWaitWhileStalled(m_pFilter, GetRequestHandle()) != S_OK)
        return S_FALSE;
    BYTE* pData = nullptr;
    HRESULT hr = pSample->GetPointer(&pData);
    if (FAILED(hr))
        return hr;
    if (pSample->GetSize() < static_cast<long>(m_cbFrame))
        return E_UNEXPECTED; // an allocator that shrank under us: stop rather than overrun

    // Painted when it is due, not before the wait: like a camera's, the frame shows the moment it
    // leaves. The camera has no writer to wait for.
    (void)m_scheduler.WaitForDelivery(m_rtWorkerFrameTime, [] { return false; });
    TestCamPaintFrame(pData, m_nWidth, m_nHeight, m_dwSequence);
    m_dwSequence = (m_dwSequence + 1) & 0xFFFFFF;
    (void)LOG_IF_FAILED(
        pSample->SetActualDataLength(static_cast<long>(m_cbFrame))); // within GetSize(), checked above

    hr = StampLiveSample(pSample, m_rtWorkerFrameTime, &m_rtStream);
    if (FAILED(hr))
        return hr;
    // Every uncompressed frame is a key frame; cannot fail on a valid sample.
    (void)LOG_IF_FAILED(pSample->SetSyncPoint(TRUE));
    return S_OK;
}

STDMETHODIMP CTestCameraStream::SetFormat(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    Microsoft::WRL::ComPtr<IFilterGraph> reconnectThrough;
    {
        CAutoLock lock(m_pLock);
        const int index = FormatIndex(pmt);
        if (index < 0)
            return VFW_E_INVALIDMEDIATYPE;
        const VIDEOINFOHEADER* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
        const REFERENCE_TIME rtFrameTime = pvih->AvgTimePerFrame != 0 ? pvih->AvgTimePerFrame : m_rtFrameTime;

        CMediaType mt;
        HRESULT hr = BuildFormat(index, rtFrameTime, &mt);
        if (FAILED(hr))
            return hr;
        if (mt == m_mt)
            return S_OK;

        IPin* pPeer = GetConnected();
        if (pPeer) {
            // A connected camera changes format only while stopped, and only to one its peer takes.
            if (!IsStopped())
                return VFW_E_NOT_STOPPED;
            if (pPeer->QueryAccept(&mt) != S_OK)
                return VFW_E_INVALIDMEDIATYPE;
        }
        hr = m_mt.Set(mt);
        if (FAILED(hr))
            return hr;
        m_rtFrameTime = rtFrameTime;
        // Position 0 of the type list changed: older enumerators must say so.
        IncrementTypeVersion();
        if (pPeer)
            reconnectThrough = m_pFilter->GetFilterGraph(); // held: it must not go away meanwhile
    }
    // Outside the filter lock: the graph takes its own lock to reconnect, and a graph thread that
    // holds that one may be stopping this filter, which takes ours.
    if (reconnectThrough)
        (void)LOG_IF_FAILED(
            reconnectThrough->Reconnect(static_cast<IPin*>(this))); // the peer already accepted the type
    return S_OK;
}

HRESULT CTestCameraStream::GetCapability(int iIndex, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* pCaps) {
    const HRESULT hr = BuildFormat(iIndex, kDefaultFrameTime, pmt);
    if (FAILED(hr))
        return hr;
    const SIZE size = kSizes[iIndex];
    VIDEO_STREAM_CONFIG_CAPS& caps = *pCaps;
    caps.guid = FORMAT_VideoInfo;
    caps.VideoStandard = 0;
    caps.InputSize = size;
    caps.MinCroppingSize = size;
    caps.MaxCroppingSize = size;
    caps.CropGranularityX = 1;
    caps.CropGranularityY = 1;
    caps.MinOutputSize = size;
    caps.MaxOutputSize = size;
    caps.OutputGranularityX = 1;
    caps.OutputGranularityY = 1;
    caps.MinFrameInterval = kMinFrameTime;
    // Clients skip a capability whose interval range excludes the rate they want.
    caps.MaxFrameInterval = kMaxFrameTime;
    caps.MinBitsPerSecond = size.cx * size.cy * 24 * 1;
    caps.MaxBitsPerSecond = size.cx * size.cy * 24 * 30;
    return S_OK;
}

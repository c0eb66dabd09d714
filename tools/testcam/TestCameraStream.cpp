#include "TestCameraStream.h"

#include <cstring>

#include "PinCategory.h"
#include "TestCamPainter.h"
#include "TestCamera.h"
#include "TestCameraIds.h"

const SIZE CTestCameraStream::kSizes[kSizeCount] = {{640, 480}, {320, 240}, {160, 120}};

namespace {

LONGLONG PerformanceCounter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

CTestCameraStream::CTestCameraStream(HRESULT* phr, CTestCamera* pParent)
    : CSourceStream(L"Zarvex Test Camera pin", phr, pParent, TESTCAM_PIN_NAME) {
    // A camera has a format before anyone connects it: the largest size at 30 frames per second.
    const HRESULT hr = BuildFormat(0, m_rtFrameTime, &m_mt);
    if (FAILED(hr) && phr)
        *phr = hr;
}

STDMETHODIMP CTestCameraStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IAMStreamConfig)
        return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    if (riid == IID_IKsPropertySet)
        return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTestCameraStream::BuildFormat(int index, REFERENCE_TIME rtFrameTime, CMediaType* pmt) {
    if (index < 0 || index >= kSizeCount)
        return E_INVALIDARG;
    // Every field not named here stays zero: a capture client (ours included) builds its sample
    // grabber's type from this format with the other fields zeroed, and the grabber compares the
    // whole block.
    VIDEOINFOHEADER vih = {};
    vih.AvgTimePerFrame = rtFrameTime;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = kSizes[index].cx;
    vih.bmiHeader.biHeight = kSizes[index].cy;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = BI_RGB;
    vih.bmiHeader.biSizeImage = GetBitmapSize(&vih.bmiHeader);

    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Video);
    const GUID subtype = GetBitmapSubtype(&vih.bmiHeader);
    pmt->SetSubtype(&subtype);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    pmt->SetTemporalCompression(FALSE);
    pmt->SetSampleSize(vih.bmiHeader.biSizeImage);
    if (!pmt->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih)))
        return E_OUTOFMEMORY;
    return S_OK;
}

int CTestCameraStream::FormatIndex(const AM_MEDIA_TYPE* pmt) {
    if (pmt->majortype != MEDIATYPE_Video || pmt->subtype != MEDIASUBTYPE_RGB24 ||
        pmt->formattype != FORMAT_VideoInfo || !pmt->pbFormat || pmt->cbFormat < sizeof(VIDEOINFOHEADER))
        return -1;
    const VIDEOINFOHEADER* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
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
    const VIDEOINFOHEADER* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
    if (pvih && m_mt.FormatLength() >= sizeof(VIDEOINFOHEADER) && pvih->AvgTimePerFrame != 0)
        m_rtFrameTime = pvih->AvgTimePerFrame;
    return S_OK;
}

HRESULT CTestCameraStream::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) {
    if (!pAlloc || !pProperties)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    const VIDEOINFOHEADER* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
    if (!pvih || m_mt.FormatLength() < sizeof(VIDEOINFOHEADER))
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
    const VIDEOINFOHEADER* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
    if (!pvih || m_mt.FormatLength() < sizeof(VIDEOINFOHEADER))
        return E_UNEXPECTED;
    m_nWidth = pvih->bmiHeader.biWidth;
    m_nHeight = pvih->bmiHeader.biHeight;
    m_cbFrame = GetBitmapSize(&pvih->bmiHeader);
    m_rtWorkerFrameTime = m_rtFrameTime;
    m_rtStream = 0;
    m_dwSequence = 0;

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    m_llFrequency = freq.QuadPart > 0 ? freq.QuadPart : 1;
    m_llFrameTicks = m_rtWorkerFrameTime * m_llFrequency / 10000000;
    if (m_llFrameTicks < 1)
        m_llFrameTicks = 1;
    m_llDue = PerformanceCounter(); // the first frame goes out at once
    return S_OK;
}

HRESULT CTestCameraStream::FillBuffer(IMediaSample* pSample) {
    BYTE* pData = nullptr;
    HRESULT hr = pSample->GetPointer(&pData);
    if (FAILED(hr))
        return hr;
    if (pSample->GetSize() < static_cast<long>(m_cbFrame))
        return E_UNEXPECTED; // an allocator that shrank under us: stop rather than overrun
    TestCamPaintFrame(pData, m_nWidth, m_nHeight, m_dwSequence);
    m_dwSequence = (m_dwSequence + 1) & 0xFFFFFF;
    (void)pSample->SetActualDataLength(static_cast<long>(m_cbFrame)); // within GetSize(), checked above

    // Pace against a fixed schedule of one frame time per frame, so the average rate is the frame
    // rate and not a little under it. After a stall of more than a frame the schedule restarts
    // from now: a real camera does not send a burst of old frames to catch up.
    LONGLONG now = PerformanceCounter();
    while (now < m_llDue) {
        Sleep(1);
        now = PerformanceCounter();
    }
    if (now - m_llDue > m_llFrameTicks)
        m_llDue = now;
    m_llDue += m_llFrameTicks;

    REFERENCE_TIME rtStart = m_rtStream;
    m_rtStream += m_rtWorkerFrameTime;
    REFERENCE_TIME rtEnd = m_rtStream;
    hr = pSample->SetTime(&rtStart, &rtEnd);
    if (FAILED(hr))
        return hr;
    (void)pSample->SetSyncPoint(
        TRUE); // every uncompressed frame is a key frame; cannot fail on a valid sample
    return S_OK;
}

STDMETHODIMP CTestCameraStream::SetFormat(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
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
    if (pPeer) {
        IFilterGraph* pGraph = m_pFilter->GetFilterGraph();
        if (pGraph)
            (void)pGraph->Reconnect(static_cast<IPin*>(this)); // the peer already accepted the type
    }
    return S_OK;
}

STDMETHODIMP CTestCameraStream::GetFormat(AM_MEDIA_TYPE** ppmt) {
    if (!ppmt)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    *ppmt = CreateMediaType(&m_mt);
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CTestCameraStream::GetNumberOfCapabilities(int* piCount, int* piSize) {
    if (!piCount || !piSize)
        return E_POINTER;
    *piCount = kSizeCount;
    *piSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP CTestCameraStream::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    if (!ppmt || !pSCC)
        return E_POINTER;
    *ppmt = nullptr;
    if (iIndex < 0 || iIndex >= kSizeCount)
        return E_INVALIDARG;
    CMediaType mt;
    HRESULT hr = BuildFormat(iIndex, kDefaultFrameTime, &mt);
    if (FAILED(hr))
        return hr;
    *ppmt = CreateMediaType(&mt);
    if (!*ppmt)
        return E_OUTOFMEMORY;

    const SIZE size = kSizes[iIndex];
    VIDEO_STREAM_CONFIG_CAPS caps = {};
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
    std::memcpy(pSCC, &caps, sizeof(caps));
    return S_OK;
}

STDMETHODIMP CTestCameraStream::Set(REFGUID /*guidPropSet*/, DWORD /*dwPropID*/, LPVOID /*pInstanceData*/,
                                    DWORD /*cbInstanceData*/, LPVOID /*pPropData*/, DWORD /*cbPropData*/) {
    return E_NOTIMPL;
}

STDMETHODIMP CTestCameraStream::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID /*pInstanceData*/,
                                    DWORD /*cbInstanceData*/, LPVOID pPropData, DWORD cbPropData,
                                    DWORD* pcbReturned) {
    return GetPinCategoryProperty(guidPropSet, dwPropID, pPropData, cbPropData, pcbReturned,
                                  PIN_CATEGORY_CAPTURE);
}

STDMETHODIMP CTestCameraStream::QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) {
    return QueryPinCategorySupport(guidPropSet, dwPropID, pTypeSupport);
}

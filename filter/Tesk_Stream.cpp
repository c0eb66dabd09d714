#include "Tesk_Stream.h"

#include <cstring>
#include <new>

#include <wrl/client.h>

#include "FilterSettings.h"
#include "Log.h"
#include "PlaceholderPicture.h"
#include "ResolutionTable.h"
#include "Tesk_Capture.h"
#include "VideoType.h"
#include "ZarvexIds.h"

namespace {

// On the header's owner field, or on a copy of it made under the channel lock and looked at
// outside it.
bool OwnerAlive(uint32_t hwndOwner) {
    return hwndOwner != 0 && IsWindow(OwnerWindowOf(hwndOwner));
}
bool OwnerAlive(const SharedFrameHeader& header) {
    return OwnerAlive(header.hwndOwner);
}

} // namespace

CTesk_Stream::CTesk_Stream(HRESULT* phr, CTesk_Capture* pParent, LPCWSTR pPinName)
    : CCaptureStream(L"ZarvexDevice output pin", phr, pParent, pPinName), m_pParent(pParent),
      m_rtFrameTime(CFilterSettings::kDefaultFrameTime) {
    // Whichever side starts first creates the channel; a pin that can neither open nor create it
    // keeps the object and runs without one (every Lock then fails).
    m_pChannel.reset(new (std::nothrow) CSharedMem);
    if (m_pChannel && !m_pChannel->Open(kChannelName))
        (void)LOG_IF_WIN32_FALSE(m_pChannel->Create(kChannelName, kChannelPayloadSize));

    m_rtFrameTime = CFilterSettings::LoadFrameTime();
    const HRESULT hr = BuildFormat(CFilterSettings::LoadSelectPixel(), &m_mt);
    if (FAILED(hr) && phr)
        *phr = hr;
    PaintPlaceholder();
}

CTesk_Stream::~CTesk_Stream() {
    // The channel goes before the framework pin is torn down.
    m_pChannel.reset();
}

STDMETHODIMP CTesk_Stream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (riid == IID_IZarvexSettings)
        return GetInterface(static_cast<IZarvexSettings*>(this), ppv);
    return CCaptureStream::NonDelegatingQueryInterface(riid, ppv);
}

REFERENCE_TIME CTesk_Stream::FrameTime() {
    CAutoLock lock(&m_csFrameTime);
    return m_rtFrameTime;
}

void CTesk_Stream::SetFrameTime(REFERENCE_TIME rtFrameTime) {
    CAutoLock lock(&m_csFrameTime);
    m_rtFrameTime = rtFrameTime;
}

HRESULT CTesk_Stream::BuildFormat(int index, CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    if (!IsResolutionIndex(index))
        return E_INVALIDARG;
    return BuildRgb24VideoType(ResolutionTable[index].width, ResolutionTable[index].height, FrameTime(), pmt);
}

HRESULT CTesk_Stream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition >= kResolutionCount)
        return VFW_S_NO_MORE_ITEMS;
    if (!pMediaType)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    // Position 0 is the current format; the others are the table's own rows, so table entry 0 is
    // offered only while it is current.
    if (iPosition == 0)
        return pMediaType->Set(m_mt);
    return BuildFormat(iPosition, pMediaType);
}

HRESULT CTesk_Stream::GetMediaType(CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    return pMediaType->Set(m_mt);
}

HRESULT CTesk_Stream::CheckMediaType(const CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    if (!pMediaType->Format() || pMediaType->FormatLength() == 0)
        return E_FAIL;
    CAutoLock lock(m_pLock);
    // Only the current format connects; a client that wants another one sets it first.
    return *pMediaType == m_mt ? S_OK : E_FAIL;
}

HRESULT CTesk_Stream::SetMediaType(const CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (const VIDEOINFOHEADER* pvih = VideoInfoOf(*pMediaType))
        AnnounceFormat(pvih->bmiHeader, pvih->AvgTimePerFrame, kFormatFromConnection,
                       kFormatAnnouncedByConnection);
    // Stored before the placeholder is painted: the painter draws the current format, and SetSize
    // hands us a type that is not current yet.
    const HRESULT hr = CSourceStream::SetMediaType(pMediaType);
    if (FAILED(hr))
        return hr;
    PaintPlaceholder();
    return S_OK;
}

HRESULT CTesk_Stream::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) {
    if (!pAlloc || !pProperties)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    const VIDEOINFOHEADER* pvih = VideoInfoOf(m_mt);
    // The size the frame needs by its dimensions: biSizeImage comes from whoever set the format
    // and may be 0 or anything else.
    const DWORD cbFrame = pvih ? ChannelFrameBytes(pvih->bmiHeader) : 0;
    if (cbFrame == 0)
        return E_UNEXPECTED;

    ALLOCATOR_PROPERTIES request = *pProperties; // cbPrefix stays as the peer asked
    // Never a single buffer: the platform's Smart Tee copies each sample we deliver into another
    // buffer of the same allocator while it holds its lock, and with one buffer waits forever.
    // FillBuffer does not depend on the count (it keeps its own copy of the last frame).
    if (request.cBuffers < kMinBuffers)
        request.cBuffers = kMinBuffers;
    request.cbBuffer = static_cast<long>(cbFrame);
    request.cbAlign = 4;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cbBuffer < request.cbBuffer)
        return E_FAIL;
    m_cbConnected = static_cast<DWORD>(cbFrame);
    m_szConnected = {pvih->bmiHeader.biWidth, pvih->bmiHeader.biHeight};
    return S_OK;
}

HRESULT CTesk_Stream::OnThreadCreate() {
    // The thread that starts the worker holds the filter lock while it waits for this answer, so
    // the connection's frame size cannot change under this read.
    m_rtStreamTime = 0;
    m_scheduler.Start();
    m_cbFrame = m_cbConnected;
    m_szFrame = m_szConnected;
    m_bOwnerWasAlive = false;
    if (m_lastFrame.size() != m_cbFrame) {
        try {
            m_lastFrame.assign(m_cbFrame, 0);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

bool CTesk_Stream::NoticeNewFrame() {
    if (!m_pChannel || !m_pChannel->Lock(0))
        return false;
    SharedFrameHeader* pHeader = m_pChannel->Header();
    const bool bNew = pHeader && (pHeader->dwFlags & kFrameReady);
    if (bNew) {
        // Cleared now rather than at the copy, so that the writer's next frame sets it again and
        // its arrival can be seen too: a writer at twice our rate would otherwise look like one at
        // our rate. The pixel area keeps the newest frame; the sample copies it when it leaves.
        pHeader->dwFlags &= ~kFrameReady;
        m_bFramePending = true;
    }
    (void)LOG_IF_WIN32_FALSE(m_pChannel->Unlock()); // recorded in the channel; only a look
    return bNew;
}

HRESULT CTesk_Stream::FillBuffer(IMediaSample* pSample) {
    const REFERENCE_TIME rtFrameTime = FrameTime();

    // The wait comes before the copy, so the sample carries the newest frame when it leaves, not
    // the one there a frame time earlier; and a frame written at our rate leaves as it arrives.
    (void)m_scheduler.WaitForDelivery(rtFrameTime, [this] { return NoticeNewFrame(); });

    BYTE* pData = nullptr;
    const long cbSample = pSample->GetSize();
    if (SUCCEEDED(pSample->GetPointer(&pData)) && pData && cbSample > 0) {
        // Never more than the sample holds, the frame is, or the channel's pixel area has, whatever
        // the allocator granted or the header claims.
        size_t cb = static_cast<size_t>(cbSample);
        if (cb > m_cbFrame)
            cb = m_cbFrame;
        if (!m_pChannel) {
            std::memset(pData, 0, static_cast<size_t>(cbSample));
        } else {
            bool bNewFrame = false;
            bool bOwnerKnown = false;
            uint32_t hwndOwner = 0;
            // Not had within 50 ms: no copy, and a frame that was waiting still waits for the next
            // sample (FrameReady or m_bFramePending stays as it is).
            if (m_pChannel->Lock()) {
                SharedFrameHeader* pHeader = m_pChannel->Header();
                if (pHeader) {
                    hwndOwner = pHeader->hwndOwner;
                    bOwnerKnown = true;
                }
                if (pHeader && (m_bFramePending || (pHeader->dwFlags & kFrameReady))) {
                    pHeader->dwFlags &= ~kFrameReady;
                    m_bFramePending = false;
                    std::memcpy(pData, pHeader->pixels, cb);
                    bNewFrame = true;
                }
                (void)LOG_IF_WIN32_FALSE(m_pChannel->Unlock()); // recorded in the channel; the copy stands
            }
            if (bNewFrame && cb > 0)
                std::memcpy(m_lastFrame.data(), pData, cb);
            else if (cb > 0)
                std::memcpy(pData, m_lastFrame.data(), cb);
            // After the copy: a frame the owner published just before it went still leaves in this
            // sample, and the placeholder follows in the next.
            if (bOwnerKnown)
                NoticeOwner(hwndOwner);
        }
        (void)LOG_IF_FAILED(
            pSample->SetActualDataLength(static_cast<long>(cb))); // within GetSize() by construction
    }

    (void)LOG_IF_FAILED(StampLiveSample(pSample, rtFrameTime,
                                        &m_rtStreamTime)); // cannot fail on a sample we were given
    (void)LOG_IF_FAILED(pSample->SetSyncPoint(TRUE));      // every uncompressed frame is a key frame
    return S_OK;
}

void CTesk_Stream::NoticeOwner(uint32_t hwndOwner) {
    // Looked at on every sample, outside the channel lock: IsWindow asks the window system, and a
    // writer busy with its own window may be waiting for the lock meanwhile.
    const bool bAlive = OwnerAlive(hwndOwner);
    if (m_bOwnerWasAlive && !bAlive) {
        // The capture program went without a word (killed, or closed: its window is what tells).
        // The placeholder painted at construction is long overwritten by its frames, so without
        // this the client would show its last frame for ever, as if it were still live. Painted
        // into our own last frame, not the channel: the worker must not take the filter lock that
        // PaintPlaceholder needs, and a new owner's first frame replaces it either way.
        std::vector<BYTE> bits;
        if (RenderPlaceholderPicture(m_szFrame.cx, m_szFrame.cy, &bits) && bits.size() >= m_lastFrame.size())
            std::memcpy(m_lastFrame.data(), bits.data(), m_lastFrame.size());
    }
    m_bOwnerWasAlive = bAlive;
}

void CTesk_Stream::AnnounceFormat(const BITMAPINFOHEADER& bmi, REFERENCE_TIME rtInterval, uint32_t flag,
                                  WPARAM wParam) {
    if (!m_pChannel || !m_pChannel->Lock())
        return;
    if (SharedFrameHeader* pHeader = m_pChannel->Header()) {
        pHeader->dwFrameInterval = static_cast<uint32_t>(static_cast<ULONGLONG>(rtInterval) & 0xFFFFFFFFULL);
        std::memcpy(&pHeader->bmiHeader, &bmi, sizeof bmi);
        pHeader->dwFlags |= flag;
        // Posted, never sent: the capture program handles it on its own thread and takes the
        // channel lock itself, which we hold now.
        if (OwnerAlive(*pHeader))
            (void)LOG_IF_WIN32_FALSE(
                PostMessageW(OwnerWindowOf(*pHeader), WM_CAMERA_FORMAT, wParam, 0)); // a full queue drops it
    }
    (void)LOG_IF_WIN32_FALSE(m_pChannel->Unlock()); // a failure is recorded in the channel
}

void CTesk_Stream::PaintPlaceholder() {
    if (!m_pChannel)
        return;
    BITMAPINFOHEADER bmi = {};
    {
        CAutoLock lock(m_pLock);
        const VIDEOINFOHEADER* pvih = VideoInfoOf(m_mt);
        if (!pvih)
            return;
        bmi = pvih->bmiHeader;
    }
    // A size that could not fit the channel is never painted (SetSize refuses them; this keeps it so).
    if (bmi.biWidth <= 0 || bmi.biHeight <= 0)
        return;
    BITMAPINFOHEADER bmi24 = bmi;
    bmi24.biBitCount = 24;
    if (ChannelFrameBytes(bmi24) == 0)
        return;

    // Drawn before the channel is locked, so the capture program never waits on our GDI work.
    std::vector<BYTE> bits;
    if (!RenderPlaceholderPicture(bmi.biWidth, bmi.biHeight, &bits))
        return;
    // The whole frame the size describes, which fits the pixel area (checked above). Not
    // biSizeImage: SetSize changes the size alone, so after it biSizeImage may describe the old
    // size, and a copy cut at it leaves the new frame half painted.
    const size_t cb = bits.size();

    if (!m_pChannel->Lock())
        return;
    SharedFrameHeader* pHeader = m_pChannel->Header();
    // A live capture program publishes its own frames; the placeholder is only for its absence.
    if (pHeader && !OwnerAlive(*pHeader)) {
        std::memcpy(pHeader->pixels, bits.data(), cb);
        pHeader->dwFlags |= kFrameReady;
    }
    (void)LOG_IF_WIN32_FALSE(m_pChannel->Unlock()); // a failure is recorded in the channel
}

STDMETHODIMP CTesk_Stream::SetFormat(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    // The format block must be there and whole before any field of it is read.
    const VIDEOINFOHEADER* pvih = VideoInfoOf(*pmt);
    if (!pvih)
        return VFW_E_INVALIDMEDIATYPE;
    const BITMAPINFOHEADER& bmi = pvih->bmiHeader;
    if (bmi.biCompression != BI_RGB || bmi.biBitCount != 24 || FindResolution(bmi.biWidth, bmi.biHeight) < 0)
        return VFW_E_INVALIDMEDIATYPE;
    HRESULT hr = S_OK;
    const CMediaType mt(*pmt, &hr);
    if (FAILED(hr))
        return hr;

    Microsoft::WRL::ComPtr<IFilterGraph> reconnectThrough;
    {
        CAutoLock lock(m_pLock);
        REFERENCE_TIME rtFrameTime = pvih->AvgTimePerFrame;
        if (rtFrameTime < 0)
            rtFrameTime = 0;
        if (rtFrameTime > kMaxFrameTime)
            rtFrameTime = kMaxFrameTime;
        SetFrameTime(rtFrameTime);

        if (mt != m_mt) {
            hr = m_mt.Set(mt);
            if (FAILED(hr))
                return hr;
            IncrementTypeVersion(); // position 0 of the type list changed
            if (IsConnected())
                reconnectThrough = m_pFilter->GetFilterGraph(); // held: it must not go away meanwhile
            // The header gets the client's own interval, not the clamped one.
            AnnounceFormat(bmi, pvih->AvgTimePerFrame, kFormatFromSetFormat, kFormatAnnouncedBySetFormat);
        }
        PaintPlaceholder();
    }
    // Outside the filter lock: the graph takes its own lock to reconnect, and a graph thread that
    // holds that one may be stopping this filter, which takes ours. Holding ours here would make
    // the two wait for each other.
    if (reconnectThrough)
        (void)LOG_IF_FAILED(
            reconnectThrough->Reconnect(static_cast<IPin*>(this))); // a graph that cannot keeps the old one
    return S_OK;
}

int CTesk_Stream::CapabilityCount() {
    return kResolutionCount;
}

HRESULT CTesk_Stream::GetCapability(int iIndex, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* pCaps) {
    // Index 0 is table entry 0 here, whatever the current format. No frame time: the client picks
    // one within the interval range below.
    const HRESULT hr =
        BuildRgb24VideoType(ResolutionTable[iIndex].width, ResolutionTable[iIndex].height, 0, pmt);
    if (FAILED(hr))
        return hr;
    pmt->bFixedSizeSamples = FALSE; // lSampleSize still gives the frame's size

    VIDEO_STREAM_CONFIG_CAPS& caps = *pCaps;
    caps.guid = FORMAT_VideoInfo;
    caps.VideoStandard = 0;
    caps.InputSize = {ResolutionTable[iIndex].width, ResolutionTable[iIndex].height};
    caps.MinCroppingSize = {160, 120};
    caps.MaxCroppingSize = {640, 480};
    caps.CropGranularityX = 32;
    caps.CropGranularityY = 24;
    caps.CropAlignX = 0;
    caps.CropAlignY = 0;
    caps.MinOutputSize = {160, 120};
    caps.MaxOutputSize = {640, 480};
    caps.OutputGranularityX = 4;
    caps.OutputGranularityY = 4;
    caps.MinFrameInterval = kMinFrameTime;
    // Clients skip a capability whose interval range excludes the rate they want.
    caps.MaxFrameInterval = kMaxFrameTime;
    caps.MinBitsPerSecond = 160 * 120 * 24 * 1;
    caps.MaxBitsPerSecond = 640 * 480 * 24 * 30;
    return S_OK;
}

STDMETHODIMP CTesk_Stream::GetPages(CAUUID* pPages) {
    if (!pPages)
        return E_POINTER;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pPages->pElems) {
        pPages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pPages->cElems = 1;
    pPages->pElems[0] = CLSID_ZarvexProp;
    return S_OK;
}

STDMETHODIMP CTesk_Stream::GetSize(int* pSize) {
    if (!pSize)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    const VIDEOINFOHEADER* pvih = VideoInfoOf(m_mt);
    if (!pvih)
        return E_UNEXPECTED;
    pSize[0] = pvih->bmiHeader.biWidth;
    pSize[1] = pvih->bmiHeader.biHeight;
    return S_OK;
}

STDMETHODIMP CTesk_Stream::SetSize(int* pSize) {
    if (!pSize)
        return E_POINTER;
    // Any size the channel can carry, table row or not; nothing that is not positive or would not
    // fit its pixel area, which no frame of this pin may ever exceed.
    BITMAPINFOHEADER wanted = {};
    wanted.biWidth = pSize[0];
    wanted.biHeight = pSize[1];
    wanted.biBitCount = 24;
    if (pSize[0] <= 0 || pSize[1] <= 0 || ChannelFrameBytes(wanted) == 0)
        return E_INVALIDARG;

    CAutoLock lock(m_pLock);
    if (!VideoInfoOf(m_mt))
        return E_UNEXPECTED;
    CMediaType mt(m_mt);
    VIDEOINFOHEADER* pvih = reinterpret_cast<VIDEOINFOHEADER*>(mt.Format());
    if (!pvih)
        return E_OUTOFMEMORY;
    // Only the size changes; biSizeImage stays as it was, and every copy is bounded by the frame
    // the size describes instead.
    pvih->bmiHeader.biWidth = pSize[0];
    pvih->bmiHeader.biHeight = pSize[1];
    if (mt != m_mt)
        IncrementTypeVersion();
    return SetMediaType(&mt);
}

STDMETHODIMP CTesk_Stream::SetSelectPixel(int index) {
    // Refused, not stored: an index outside the table would be read back at every construction.
    if (!IsResolutionIndex(index))
        return E_INVALIDARG;
    CFilterSettings::StoreSelectPixel(index);
    CAutoLock lock(m_pLock);
    CMediaType mt;
    const HRESULT hr = BuildFormat(index, &mt);
    if (FAILED(hr))
        return hr;
    if (mt != m_mt) {
        if (FAILED(m_mt.Set(mt)))
            return E_OUTOFMEMORY;
        IncrementTypeVersion();
    }
    PaintPlaceholder();
    return S_OK;
}

STDMETHODIMP CTesk_Stream::GetFrameRate(double* pFps) {
    if (!pFps)
        return E_POINTER;
    const REFERENCE_TIME rtFrameTime = FrameTime();
    // A frame time of 0 (set by a client's format) means no pacing, hence no rate of its own.
    *pFps = rtFrameTime > 0 ? static_cast<double>(10000000LL / rtFrameTime) : 0.0;
    return S_OK;
}

STDMETHODIMP CTesk_Stream::SetFrameRate(double fps) {
    if (!(fps > 0)) // not greater than 0, or not a number
        return S_OK;
    // Clamped while still a double: a tiny rate gives a quotient no 64-bit integer holds.
    double frameTime = 10000000.0 / fps;
    if (frameTime < static_cast<double>(kMinFrameTime))
        frameTime = static_cast<double>(kMinFrameTime);
    if (frameTime > static_cast<double>(kMaxFrameTime))
        frameTime = static_cast<double>(kMaxFrameTime);
    const REFERENCE_TIME rtFrameTime = static_cast<REFERENCE_TIME>(frameTime);
    CFilterSettings::StoreFrameTime(rtFrameTime);
    SetFrameTime(rtFrameTime);
    return S_OK;
}

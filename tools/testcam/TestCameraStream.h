// CTestCameraStream: the Zarvex Test Camera's capture pin.
//
// It pushes 24-bit RGB frames whose top band encodes a sequence number (TestCamCode.h), paced by
// the framework's frame scheduler against the performance counter at the frame time, each painted
// when it is due and stamped as a live camera stamps (CSourceStream::StampLiveSample). Like a hardware camera
// it answers IAMStreamConfig (its sizes at 1..30 frames per second) and IKsPropertySet (pin category:
// capture), through CCaptureStream.
//
// Threading: the application's threads call the IAMStreamConfig methods and connect the pin under
// the filter lock. The format can change only while the filter is stopped. The worker reads the
// format once, in OnThreadCreate (the thread that starts it holds the filter lock and waits), and
// then uses only its own copies, so it never needs the filter lock while streaming.
#pragma once

#include "CaptureStream.h"
#include "FrameScheduler.h"
#include "PerformanceClock.h"

class CTestCamera;

COM_CLASSES_BEGIN
class CTestCameraStream : public CCaptureStream {
public:
    CTestCameraStream(HRESULT* phr, CTestCamera* pParent);

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override;

    // CSourceStream
    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT OnThreadCreate() override;
    // Position 0 is the current format, positions 1.. the sizes in table order at the current rate.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT GetMediaType(CMediaType* pMediaType) override;
    // Any of the camera's sizes, 24-bit RGB, at 0 (the current rate) or 1..30 frames per second.
    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT SetMediaType(const CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) override;

    // The sizes offered, largest first.
    static constexpr int kSizeCount = 3;
    static const SIZE kSizes[kSizeCount];
    static constexpr REFERENCE_TIME kDefaultFrameTime = 333333; // 30 frames per second
    static constexpr REFERENCE_TIME kMinFrameTime = 333333;
    static constexpr REFERENCE_TIME kMaxFrameTime = 10000000; // 1 frame per second
    // Buffers asked of the allocator at the least (see DecideBufferSize).
    static constexpr long kMinBuffers = 3;

    // The camera's type for table entry `index` at this frame time; E_INVALIDARG outside the table.
    static HRESULT BuildFormat(int index, REFERENCE_TIME rtFrameTime, CMediaType* pmt);

protected:
    // CCaptureStream: one capability per size.
    int CapabilityCount() override { return kSizeCount; }
    HRESULT GetCapability(int iIndex, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* pCaps) override;

private:
    // The table index of a type the camera can deliver, or -1.
    static int FormatIndex(const AM_MEDIA_TYPE* pmt);

    // Guarded by the filter lock.
    REFERENCE_TIME m_rtFrameTime = kDefaultFrameTime;

    // The worker's own copies, set in OnThreadCreate.
    int m_nWidth = 0;
    int m_nHeight = 0;
    DWORD m_cbFrame = 0;
    REFERENCE_TIME m_rtWorkerFrameTime = kDefaultFrameTime;
    REFERENCE_TIME m_rtStream = 0;
    DWORD m_dwSequence = 0;
    CPerformanceClock m_clock;
    CFrameScheduler m_scheduler{m_clock};
};
COM_CLASSES_END

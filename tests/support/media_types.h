// COM helpers the DirectShow tests and test programs share: media types in task memory and the
// final release that reports what a leak left.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

// Hands the last reference back and reports the count Release returned (0 when nothing leaked).
template <typename T> ULONG FinalRelease(ComPtr<T>& p) {
    return p.Detach()->Release();
}

// A 24-bit RGB video type of this size, complete (format block included), at 30 frames per second.
inline AM_MEDIA_TYPE* NewRgb24Type(int width, int height, REFERENCE_TIME frameTime = 333333) {
    AM_MEDIA_TYPE* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!pmt)
        return nullptr;
    ZeroMemory(pmt, sizeof(*pmt));
    pmt->majortype = MEDIATYPE_Video;
    pmt->subtype = MEDIASUBTYPE_RGB24;
    pmt->formattype = FORMAT_VideoInfo;
    pmt->bFixedSizeSamples = TRUE;
    pmt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!pmt->pbFormat) {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    pmt->cbFormat = sizeof(VIDEOINFOHEADER);
    VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(pmt->pbFormat);
    ZeroMemory(vih, sizeof(*vih));
    vih->AvgTimePerFrame = frameTime;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(((width * 24 + 31) / 32) * 4 * height);
    pmt->lSampleSize = static_cast<ULONG>(vih->bmiHeader.biSizeImage);
    return pmt;
}

// Owns a task-allocated media type.
struct MediaTypeHolder {
    AM_MEDIA_TYPE* p = nullptr;
    explicit MediaTypeHolder(AM_MEDIA_TYPE* pmt = nullptr) : p(pmt) {}
    ~MediaTypeHolder() { Reset(); }
    MediaTypeHolder(const MediaTypeHolder&) = delete;
    MediaTypeHolder& operator=(const MediaTypeHolder&) = delete;
    void Reset(AM_MEDIA_TYPE* pmt = nullptr) {
        if (p) {
            if (p->pbFormat)
                CoTaskMemFree(p->pbFormat);
            if (p->pUnk)
                p->pUnk->Release();
            CoTaskMemFree(p);
        }
        p = pmt;
    }
    AM_MEDIA_TYPE** operator&() {
        Reset();
        return &p;
    }
    const VIDEOINFOHEADER* Vih() const { return reinterpret_cast<const VIDEOINFOHEADER*>(p->pbFormat); }
};

// Helpers shared by the framework tests.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "BaseObject.h"
#include "TestCamera.h"
#include "TestCameraStream.h"

using Microsoft::WRL::ComPtr;

// One COM apartment for the test's thread, like the capture program's dialog thread.
class CComApartment {
public:
    CComApartment() : m_hr(CoInitialize(nullptr)) {}
    ~CComApartment() {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    const HRESULT m_hr;
};

// A new in-process filter of class TFilter (created through its CreateInstance, not through COM),
// held by its IBaseFilter; the object itself through ppObject.
template <typename TFilter> ComPtr<IBaseFilter> CreateInProcessFilter(TFilter** ppObject = nullptr) {
    HRESULT hr = S_OK;
    CUnknown* pObj = TFilter::CreateInstance(nullptr, &hr);
    if (!pObj || FAILED(hr)) {
        delete pObj;
        return nullptr;
    }
    ComPtr<IBaseFilter> filter;
    pObj->NonDelegatingAddRef();
    (void)pObj->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf()));
    pObj->NonDelegatingRelease();
    if (ppObject)
        *ppObject = static_cast<TFilter*>(pObj);
    return filter;
}

// A new in-process test camera, held by its IBaseFilter.
inline ComPtr<IBaseFilter> CreateTestCamera(CTestCamera** ppCamera = nullptr) {
    return CreateInProcessFilter<CTestCamera>(ppCamera);
}

// The camera's capture pin.
inline CTestCameraStream* CameraStream(CTestCamera* pCamera) {
    return pCamera->Stream();
}

// Hands the last reference back and reports the count Release returned (0 when nothing leaked).
template <typename T> ULONG FinalRelease(ComPtr<T>& p) {
    return p.Detach()->Release();
}

// A 24-bit RGB video type of this size, complete (format block included), at 30 frames per second.
inline AM_MEDIA_TYPE* NewRgb24Type(int width, int height, REFERENCE_TIME frameTime = 333333) {
    AM_MEDIA_TYPE* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    ZeroMemory(pmt, sizeof(*pmt));
    pmt->majortype = MEDIATYPE_Video;
    pmt->subtype = MEDIASUBTYPE_RGB24;
    pmt->formattype = FORMAT_VideoInfo;
    pmt->bFixedSizeSamples = TRUE;
    pmt->cbFormat = sizeof(VIDEOINFOHEADER);
    pmt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
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

// The full path of a file beside the test executable.
inline std::wstring BesideExe(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1) + name;
}

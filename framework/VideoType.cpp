#include "VideoType.h"

BITMAPINFOHEADER Rgb24BitmapHeader(LONG width, LONG height) {
    BITMAPINFOHEADER bmi = {};
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = width;
    bmi.biHeight = height;
    bmi.biPlanes = 1;
    bmi.biBitCount = 24;
    bmi.biCompression = BI_RGB;
    bmi.biSizeImage = GetBitmapSize(&bmi);
    return bmi;
}

HRESULT BuildRgb24VideoType(LONG width, LONG height, REFERENCE_TIME rtAvgTimePerFrame, CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    VIDEOINFOHEADER vih = {};
    vih.AvgTimePerFrame = rtAvgTimePerFrame;
    vih.bmiHeader = Rgb24BitmapHeader(width, height);

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

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

// The one way capture code includes the DirectShow client headers, and the few things those headers
// leave out.
//
// dsound.h and strmif.h declare IKsPropertySet under one include guard with different method
// orders. The device code reads a pin's category through strmif.h's order, the one the platform's
// pins implement; a translation unit that already saw dsound.h would silently call the wrong
// methods, so it stops here instead. Sound capture lives in translation units of its own.
#pragma once

#if defined(__DSOUND_INCLUDED__) && !defined(__IKsPropertySet_INTERFACE_DEFINED__)
#error "dsound.h was included before the DirectShow headers; keep DirectSound code out of capture graph code"
#endif

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <memory>

// The sample grabber; the mingw headers declare its interfaces but not its class.
const CLSID kClsidSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// A media type handed to us in task memory (IAMStreamConfig::GetFormat, GetStreamCaps): the block,
// the pUnk it may hold and the structure are freed together when the holder goes.
struct TaskMediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* pmt) const noexcept {
        if (pmt->pbFormat)
            CoTaskMemFree(pmt->pbFormat);
        if (pmt->pUnk)
            pmt->pUnk->Release();
        CoTaskMemFree(pmt);
    }
};
using TaskMediaType = std::unique_ptr<AM_MEDIA_TYPE, TaskMediaTypeDeleter>;

// The VIDEOINFOHEADER of a type, or null when it has none that is whole: another format type, no
// block, or one shorter than the structure. Check this before reading any field of the block.
inline const VIDEOINFOHEADER* WholeVideoInfo(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

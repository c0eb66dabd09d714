// IZarvexSettings: the virtual camera's own settings interface, implemented by its output pin and
// reachable from the filter too. The property page edits the filter through it.
//
// The slot order after IUnknown is fixed (GetSize, SetSize, SetSelectPixel, GetFrameRate,
// SetFrameRate): any client compiled against it calls by slot.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include "ZarvexIds.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

struct DECLSPEC_UUID("9DFA861D-D7A5-49A8-A2B4-05E9A0586539") IZarvexSettings : public IUnknown {
    // pSize[0] := width, pSize[1] := height of the current format.
    virtual HRESULT STDMETHODCALLTYPE GetSize(int* pSize) = 0;
    // Gives the current format the width pSize[0] and height pSize[1], announces it on the frame
    // channel and paints the placeholder at that size.
    virtual HRESULT STDMETHODCALLTYPE SetSize(int* pSize) = 0;
    // Makes ResolutionTable[index] the current format and remembers the choice ("SelectPixel").
    virtual HRESULT STDMETHODCALLTYPE SetSelectPixel(int index) = 0;
    // Frames per second of the pin's frame time.
    virtual HRESULT STDMETHODCALLTYPE GetFrameRate(double* pFps) = 0;
    // Sets the pin's frame time from a rate of 1..30 frames per second and remembers it ("FrameTime").
    virtual HRESULT STDMETHODCALLTYPE SetFrameRate(double fps) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// What __uuidof (and so ComPtr::As) finds under mingw, where DECLSPEC_UUID has no effect.
#if defined(__MINGW32__)
__CRT_UUID_DECL(IZarvexSettings, 0x9dfa861d, 0xd7a5, 0x49a8, 0xa2, 0xb4, 0x05, 0xe9, 0xa0, 0x58, 0x65, 0x39)
#endif

// CCaptureGraph: live video from a capture device into the program. A DirectShow filter graph holds
// the device and a sample grabber that asks for 24-bit RGB of the chosen size; the capture graph
// builder connects the two along the preview path (through a Smart Tee for a device with only a
// capture pin), and the grabber's callback sends every buffer to the window as WM_CAPTURE_FRAME,
// guarded by the graph's CFrameHandoff. The grabber's output pin stays unconnected.
//
// Threading: every method runs on the window thread, which must have entered a COM apartment; the
// graph's streaming thread calls only the grabber callback. Stop clears the callback's window
// before it stops the graph, so nothing is sent while the graph winds down. The object must not go
// while a claim of one of its frames is held.
#pragma once

#include <windows.h>

#include <memory>

#include "FrameHandoff.h"
#include "VideoFormat.h"
#include "afx_string.h"

class CGrabberCallback;

class CCaptureGraph {
public:
    CCaptureGraph();
    // TearDown.
    virtual ~CCaptureGraph();
    CCaptureGraph(const CCaptureGraph&) = delete;
    CCaptureGraph& operator=(const CCaptureGraph&) = delete;

    // Tears down whatever was built, then builds the graph for the device of this name (device name
    // text) with the chosen format (none: the device's current one) and connects it. 1 connected,
    // 0 failed (no name, no such device, an object that cannot be made, a connection refused).
    BOOL Build(const CString& deviceName, const VIDEOINFOHEADER* format);
    // Sets the device to the chosen format (a refusal is let pass) and gives the grabber the type it
    // takes: the device's current type as 24-bit RGB of the chosen size, at the device's frame time.
    // 1, or 0 when the device's current format cannot be read.
    BOOL ApplyFormat(const VIDEOINFOHEADER& format);
    // Adds grabber and device to the graph and renders the device's preview into the grabber. 1, or
    // 0 when a filter is refused, the stream cannot be rendered or the graph has no media control.
    BOOL Connect();
    // Stops the graph, takes the callback off the grabber and lets go of every interface.
    void TearDown();

    // The run order: the callback's window is set, then the graph runs (nothing runs after a failed
    // Build).
    void Start(HWND window);
    // The stop order: pause, clear the callback's window (no WM_CAPTURE_FRAME after this), stop,
    // and wait 100 ms for a message under way.
    void Stop();

    // The header every grabbed buffer is drawn with: 24-bit RGB at the chosen size (640 x 480 until
    // ApplyFormat).
    const BITMAPINFOHEADER& FrameHeader() const { return m_format.bmiHeader; }
    // The grabber's whole format (AvgTimePerFrame is the device's frame time after ApplyFormat).
    const VIDEOINFOHEADER& GrabberFormat() const { return m_format; }
    // What the last RenderStream answered (VFW_S_NOPREVIEWPIN for a device with a capture pin only).
    HRESULT LastRenderResult() const { return m_hrRender; }
    // Where the window thread claims the frames WM_CAPTURE_FRAME announces.
    CFrameHandoff& Handoff() { return m_handoff; }
    CGrabberCallback& Callback() { return *m_pCallback; }
    bool IsBuilt() const;

    // What the last TearDown's final releases of the graph and the builder left counted; both 0
    // unless something else still holds them.
    struct Leftovers {
        ULONG graph = 0;
        ULONG builder = 0;
    };
    Leftovers LastTearDown() const { return m_leftovers; }

private:
    struct Interfaces;

    CFrameHandoff m_handoff;
    std::unique_ptr<CGrabberCallback> m_pCallback;
    std::unique_ptr<Interfaces> m_p;
    VIDEOINFOHEADER m_format;
    HRESULT m_hrRender = E_FAIL;
    Leftovers m_leftovers;
};

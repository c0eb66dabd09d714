// CViewerWindow: the viewer's one window. It paints the newest frame scaled into its client area,
// draws what is wrong across it when the device delivers nothing, shows the device, size and
// delivered rate in its title, saves snapshots, answers what it has received, and closes by itself
// after --seconds.
//
// Threading: every method runs on the thread that created the window. Frames and graph reports
// arrive as posted messages (kFrameMessage, kGraphMessage); painting happens only in WM_PAINT.
#pragma once

#include <windows.h>

#include <string>

#include "FrameGrabber.h"
#include "GraphThread.h"
#include "UniqueAny.h"
#include "ViewerOptions.h"

namespace viewer {

class CViewerWindow {
public:
    static constexpr UINT kFrameMessage = WM_APP + 1;
    static constexpr UINT kGraphMessage = WM_APP + 2;

    CViewerWindow(const ViewerOptions& options, CFrameGrabber* pGrabber);
    CViewerWindow(const CViewerWindow&) = delete;
    CViewerWindow& operator=(const CViewerWindow&) = delete;

    // Makes the window, hidden until the graph runs (or until opening the device takes long).
    // showCommand is the one the program was started with.
    bool Create(HINSTANCE instance, int showCommand);
    HWND Handle() const { return m_window.get(); }
    // The graph thread whose reports kGraphMessage announces; it outlives the window.
    void SetGraph(CGraphThread* pGraph) { m_pGraph = pGraph; }

    // What the process should exit with, once the window is gone.
    int ExitCode() const;
    // The last graph report the window saw.
    const CGraphThread::Report& LastReport() const { return m_report; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Stops the graph (without waiting) and destroys the window, which ends the message loop.
    void Close();
    void OnGraphReport();
    void OnFrame();
    void OnTick();
    void OnSnapshotTimer();
    BOOL OnSnapshotCommand(const COPYDATASTRUCT* pData);
    // The answer to kQueryMessage (ViewerProtocol.h).
    unsigned long long OnQuery(WPARAM what);
    void OnPaint();
    void Show();
    void UpdateTitle();
    std::wstring StatusText(ULONGLONG now) const;

    const ViewerOptions m_options;
    CFrameGrabber* const m_pGrabber;
    CGraphThread* m_pGraph = nullptr;
    win::UniqueWindow m_window;
    int m_showCommand = SW_SHOWNORMAL;
    bool m_shown = false;

    CGraphThread::Report m_report;
    VideoFrame m_frame;
    ULONGLONG m_createdTick = 0;
    ULONGLONG m_runningTick = 0;
    ULONGLONG m_frameTick = 0; // when the window last took a new frame

    ULONGLONG m_rateTick = 0;
    unsigned long long m_rateFrames = 0;
    double m_fps = 0;
    std::wstring m_status;

    unsigned long long m_savedSerial = 0; // the frame the last periodic snapshot holds
    unsigned m_snapshotIndex = 0;
    bool m_snapshotFailed = false;
    int m_exitCode = -1; // set when the device failed; otherwise decided at the end
};

} // namespace viewer

// ZarvexViewer: shows what a video input device delivers, as any video application would see it.
// A person uses it to check a camera (ZarvexDevice above all) without a video-call program; scripts
// use its snapshots, its output lines and its exit code.
//
// Command line: see ViewerOptions.h. Output lines (when it has an output stream):
//   running <w>x<h> <frame time in 100 ns>   the graph runs
//   ended <what>                             the stream ended or the device was lost
//   frames <n>                               at exit: frames delivered in all
// Errors go to the error stream as "ZarvexViewer: <text>" (a message box when there is none).
// Exit codes: ViewerProtocol.h. The snapshot command (WM_COPYDATA) and the question of what it
// received (kQueryMessage): ViewerProtocol.h.
#include <windows.h>

#include <string>

#include "FrameGrabber.h"
#include "GraphThread.h"
#include "ViewerOptions.h"
#include "ViewerOutput.h"
#include "ViewerProtocol.h"
#include "ViewerWindow.h"

namespace {

using namespace viewer;

int Run(HINSTANCE instance, int showCommand, const ViewerOptions& options) {
    if (!options.snapshotDir.empty() && !CreateDirectoryW(options.snapshotDir.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        ReportError(L"cannot make the snapshot folder " + options.snapshotDir + L" (error " +
                    std::to_wstring(GetLastError()) + L")");
        return kExitSnapshotFailed;
    }
    // Destroyed in reverse: the graph thread is joined before the window and the grabber it
    // reports to and delivers through go.
    CFrameGrabber grabber;
    CViewerWindow window(options, &grabber);
    if (!window.Create(instance, showCommand)) {
        ReportError(L"cannot make the window (error " + std::to_wstring(GetLastError()) + L")");
        return kExitDeviceFailed;
    }
    CGraphThread graph(options.device, options.size, &grabber, window.Handle(), CViewerWindow::kGraphMessage);
    window.SetGraph(&graph);
    if (!graph.Start()) {
        ReportError(L"cannot start the graph thread (error " + std::to_wstring(GetLastError()) + L")");
        DestroyWindow(window.Handle());
        return kExitDeviceFailed;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (!graph.StopAndJoin(CGraphThread::kStopTimeoutMs)) {
        ReportError(L"\"" + options.device + L"\" did not stop within " +
                    std::to_wstring(CGraphThread::kStopTimeoutMs / 1000) + L" s; ending");
        // The stuck thread still uses the graph, the grabber and this frame's objects, so none of
        // them may be freed: the process ends here, without the modules' detach code either.
        (void)TerminateProcess(GetCurrentProcess(), kExitStopTimedOut);
        return kExitStopTimedOut; // not reached
    }
    if (window.LastReport().state != CGraphThread::State::Failed)
        ReportLine(L"frames " + std::to_wstring(grabber.Delivered()));
    return window.ExitCode();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    ViewerOptions options;
    std::wstring error;
    if (!ParseViewerOptions(&options, &error)) {
        ReportError(error + L"\n" + ViewerUsage());
        return kExitUsage;
    }
    try {
        return Run(instance, showCommand, options);
    } catch (...) {
        ReportError(L"out of memory");
        return kExitDeviceFailed;
    }
}

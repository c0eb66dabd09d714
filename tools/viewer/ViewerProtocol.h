// What scripts and other programs see of ZarvexViewer.exe: its window class, the WM_COPYDATA
// command that saves the frame on show, the question of what it received, and its exit codes. zxprobe's
// "snapshot" verb and the viewer's tests use these values, so they live here rather than in the viewer's
// sources.
#pragma once

#include <windows.h>

namespace viewer {

// The viewer's top-level window class; its title changes with the device, size and rate.
constexpr wchar_t kWindowClass[] = L"ZarvexViewerWindow";
// The title starts with this, then the device name, the size and the delivered rate.
constexpr wchar_t kTitlePrefix[] = L"ZarvexViewer";

// WM_COPYDATA with this dwData: lpData holds a file path in UTF-16 (cbData bytes, no terminator
// needed). The viewer saves the frame it shows as a 24-bit BMP there and answers TRUE, or FALSE
// when it has no frame yet or the file cannot be written.
constexpr ULONG_PTR kSnapshotCommand = 0x5A58534E; // 'ZXSN'

// Sent (not posted) to the viewer's window to ask what it has received, so that a soak run or a
// script can follow the delivered rate of a viewer that runs for hours. Only the answer crosses:
//   wParam kAskDelivered   frames the device delivered since the graph began to run
//   wParam kAskRunningMs   milliseconds since the graph began to run
// Both answer 0 until the graph runs; any other wParam answers 0.
constexpr UINT kQueryMessage = WM_APP + 0x100;
enum QueryWhat : WPARAM { kAskDelivered = 0, kAskRunningMs = 1 };

// Exit codes.
enum ExitCode : int {
    kExitFrames = 0,         // frames arrived
    kExitNoFrames = 1,       // the graph ran, but not a single frame arrived
    kExitUsage = 2,          // a command line it does not understand
    kExitNoDevice = 3,       // no video input device of that name
    kExitDeviceFailed = 4,   // the device was found but could not be set up or started
    kExitSnapshotFailed = 5, // frames arrived, but a snapshot could not be written
    kExitStopTimedOut = 6,   // the graph did not stop in time; the process was ended hard
};

} // namespace viewer

// The viewer's command line.
//
//   --device <name>          friendly name of the video input device (default "ZarvexDevice")
//   --size <w>x<h>           ask the device for this capability size before connecting
//   --at <x>,<y>             put the window's top left corner there on the screen (default: where
//                            the window system places new windows)
//   --snapshot-dir <dir>     folder for periodic snapshots (made when missing)
//   --snapshot-every <ms>    save the newest frame there at this interval, when a new one came
//   --seconds <s>            close by itself after this time
#pragma once

#include <windows.h>

#include <string>

namespace viewer {

struct ViewerOptions {
    std::wstring device = L"ZarvexDevice";
    SIZE size = {0, 0};  // {0, 0}: keep the device's current format
    bool placed = false; // at is given
    POINT at = {0, 0};
    std::wstring snapshotDir;
    DWORD snapshotEveryMs = 0; // 0: snapshots only on request
    double seconds = 0;        // 0: until the window is closed
};

// Reads the process's command line. False, with the reason in *pError, for anything it does not
// understand.
bool ParseViewerOptions(ViewerOptions* pOptions, std::wstring* pError);

// The usage text, for the error output.
const wchar_t* ViewerUsage();

} // namespace viewer

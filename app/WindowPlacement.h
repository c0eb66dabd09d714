// Where the dialog's stored position puts it.
//
// "PX" and "PY" are saved from the normal (restored) rectangle of GetWindowPlacement, which is in
// workspace coordinates: the work area's top left is 0,0, so a taskbar on the top or left of the
// screen shifts them. They are restored through SetWindowPlacement, which reads the same
// coordinates, so the same numbers in the file mean the same place on the screen. (SetWindowPos
// takes screen coordinates; restoring with it moved the window by the taskbar's size at every start.)
#pragma once

#include <windows.h>

// The placement that moves current's normal rectangle to left, top, keeping its size and
// everything else. A window that is not visible yet (a dialog during its initialisation) is not
// shown by it: the dialog shows itself once initialised.
WINDOWPLACEMENT PlacementAt(const WINDOWPLACEMENT& current, int left, int top, bool visible);

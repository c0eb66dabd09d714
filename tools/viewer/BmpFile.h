// Saving a frame as a 24-bit BMP file.
#pragma once

#include <windows.h>

#include <string>

namespace viewer {

struct VideoFrame;

// Writes the frame as a bottom-up 24-bit BMP at path (top-down frames are turned over). The file
// is written beside the path first and then renamed over it, so a reader never sees half a file.
// False, with the last error set, when it cannot be written.
bool WriteBmp24(const std::wstring& path, const VideoFrame& frame);

} // namespace viewer

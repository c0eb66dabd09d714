// The clip list's thumbnails: one 96-pixel-wide picture of each clip's oldest frame.
#pragma once

#include <windows.h>

#include "FrameArray.h"
#include "afx_imagelist.h"

// Width of every thumbnail; the height follows the first clip's frames.
constexpr int kThumbnailWidth = 96;

// Rebuilds the icon-view list control and the image list whole from the clips: all items are
// deleted; with no clips the list stays empty (and keeps the image list it had). Otherwise the
// image list is made anew at 96 x h, 24-bit (h = 96 x height / width of the first clip's first
// frame), and clip i gets the thumbnail of its first frame, stretched to 96 x h, as image i and
// list item i with the text i + 1.
void RefillClipThumbnails(HWND list, CImageList& thumbs, const CClipArray& clips);

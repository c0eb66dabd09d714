#include "WindowPlacement.h"

WINDOWPLACEMENT PlacementAt(const WINDOWPLACEMENT& current, int left, int top, bool visible) {
    WINDOWPLACEMENT placement = current;
    placement.length = sizeof placement;
    const RECT& from = current.rcNormalPosition;
    placement.rcNormalPosition = {left, top, left + (from.right - from.left), top + (from.bottom - from.top)};
    if (!visible)
        placement.showCmd = SW_HIDE;
    return placement;
}

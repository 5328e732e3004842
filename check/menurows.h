// Where to click an item of an open popup menu: arithmetic on rectangles
// alone, so that the unit tests can try it at any display scale.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/simulated/win32.h"
#endif

POINT Middle(const RECT& rect);
// Row `item` (0 is the first) of `count` rows of equal height filling `inside`.
RECT SplitRow(const RECT& inside, int item, int count);
// True when the middle of `read` lies inside `row`.
bool MiddleInRow(const RECT& read, const RECT& row);
// The rectangle to click for an item: `read`, the item's rectangle as
// GetMenuItemRect gave it (null where it could not be read), when its middle
// lies in the item's row of the menu window; `row` otherwise. Above 100 %
// display scale a per-monitor-aware caller may be given an unscaled item
// height with a physical origin for a DPI-unaware program's menu, which
// still lies inside the menu window but may straddle the wrong row.
RECT ChooseItemRect(const RECT* read, const RECT& row);

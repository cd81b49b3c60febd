// Where the icons of a slot saved at another DPI go: pure geometry on plain values, no window needed.
#pragma once

#include <windows.h>

#include <vector>

#include "engine/monitors.h"

namespace plx {

// One icon found in a slot.
struct SavedIcon {
    POINT saved;  // its position as saved, at the saved DPI
    RECT extent;  // where its bounds (LVIR_BOUNDS) reach around its position, at this DPI
};

// The places of icons saved at savedDpi, shown now at dpi, in the order of icons. Each position is
// scaled by dpi / savedDpi as an offset from the top-left corner of its monitor's work area (the
// monitor it falls on, or the nearest), since a monitor keeps its pixels at any scale. An icon ends
// wholly inside that work area, and no two icons overlap: the icons whose scaled place lies inside keep
// it unless an icon took it first; those and the icons whose scaled place lies outside go to the
// nearest free place of their monitor, right to left, each left of the icons of columns saved right of
// its own and right of those saved left of it wherever the monitor has room for that. An icon for which
// the monitor has no room left keeps its scaled place, moved inside.
std::vector<POINT> PlaceScaledIcons(const std::vector<SavedIcon>& icons, const MonitorAreas& areas,
                                    const RECT& client, UINT savedDpi, UINT dpi);

}  // namespace plx

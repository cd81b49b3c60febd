// The monitors as the desktop list view sees them: where each one shows the view, where its taskbars
// leave room for icons, and where no monitor shows anything.
#pragma once

#include <windows.h>

#include <vector>

namespace plx {

// One monitor in the list view's client coordinates: its whole rectangle and its work area.
struct MonitorArea {
    RECT monitor;
    RECT work;
};
using MonitorAreas = std::vector<MonitorArea>;

// Every monitor mapped into the list view's client area. The view spans the virtual screen, whose
// top-left corner may lie at negative screen coordinates; the mapping takes care of that.
MonitorAreas ReadMonitorAreas(HWND listView);

// The monitor a position falls on, or the nearest one when it falls on none; null without monitors.
const MonitorArea* MonitorOf(POINT position, const MonitorAreas& areas);

// The positions, both ends included, at which an icon whose bounds reach `extent` around its position
// (LVIR_BOUNDS less the position) lies wholly inside the monitor's work area, as far as the client shows
// it. An icon larger than that keeps its left or top edge inside.
RECT PositionRange(const MonitorArea& area, const RECT& extent, const RECT& client);

// Whether KeepOnScreen needs the icons' extents: with several monitors, or a taskbar on the one.
bool KeepOnScreenNeedsExtents(const MonitorAreas& areas);

// A saved position moved where the icon is seen. With several monitors the whole icon ends inside the
// work area of the monitor the position falls on (or of the nearest). With one, the icon keeps `margin`
// pixels inside the view at its right and bottom edges and nothing bounds it at the view's left and top
// edges, as ever; only a taskbar's side holds the whole icon inside the work area.
POINT KeepOnScreen(POINT position, const RECT& extent, const MonitorAreas& areas, const RECT& client,
                   int margin);

// The parts of the client rectangle where no icon may go, as rectangles that do not overlap: what no
// monitor shows, and each monitor's area outside its work area (its taskbars). None when the work
// areas cover the client.
std::vector<RECT> ZonesWithoutIcons(const RECT& client, const MonitorAreas& areas);

}  // namespace plx

// The monitors as the desktop list view sees them: where each one shows the view, and where none does.
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

// A saved position moved onto a monitor: into the work area of the monitor it falls on, or of the
// nearest one when it falls on none, keeping `margin` pixels of the icon inside at the right and the
// bottom.
POINT ClampOntoMonitor(POINT position, const MonitorAreas& areas, int margin);

// The parts of the client rectangle that no monitor shows, as rectangles that do not overlap; none
// when the monitors cover the client.
std::vector<RECT> DeadZones(const RECT& client, const MonitorAreas& areas);

}  // namespace plx

#include "engine/monitors.h"

#include <algorithm>

namespace plx {

namespace {

BOOL CALLBACK CollectArea(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    // The primary monitor's work area is the one SPI_GETWORKAREA gives, which the taskbar sets. Windows
    // answers both questions alike; Wine 8 keeps what SPI_SETWORKAREA set out of GetMonitorInfo.
    RECT work = {};
    if ((info.dwFlags & MONITORINFOF_PRIMARY) && SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) &&
        work.left < work.right && work.top < work.bottom)
        info.rcWork = work;
    reinterpret_cast<MonitorAreas*>(param)->push_back({info.rcMonitor, info.rcWork});
    return TRUE;
}

long long DistanceSquared(POINT pt, const RECT& r) {
    const long long dx = pt.x < r.left ? r.left - pt.x : (pt.x >= r.right ? pt.x - r.right + 1 : 0);
    const long long dy = pt.y < r.top ? r.top - pt.y : (pt.y >= r.bottom ? pt.y - r.bottom + 1 : 0);
    return dx * dx + dy * dy;
}

LONG Clamp(LONG value, LONG low, LONG high) { return std::max(low, std::min(value, std::max(low, high))); }

}  // namespace

MonitorAreas ReadMonitorAreas(HWND listView) {
    MonitorAreas areas;
    EnumDisplayMonitors(nullptr, nullptr, CollectArea, reinterpret_cast<LPARAM>(&areas));
    for (MonitorArea& area : areas) {
        MapWindowPoints(nullptr, listView, reinterpret_cast<POINT*>(&area.monitor), 2);
        MapWindowPoints(nullptr, listView, reinterpret_cast<POINT*>(&area.work), 2);
    }
    return areas;
}

const MonitorArea* MonitorOf(POINT position, const MonitorAreas& areas) {
    const MonitorArea* best = nullptr;
    long long bestDistance = 0;
    for (const MonitorArea& area : areas) {
        const long long distance = DistanceSquared(position, area.monitor);
        if (!best || distance < bestDistance) {
            best = &area;
            bestDistance = distance;
        }
    }
    return best;
}

RECT PositionRange(const MonitorArea& area, const RECT& extent, const RECT& client) {
    RECT shown = {};
    if (!IntersectRect(&shown, &area.work, &client)) shown = area.work;
    RECT range = {shown.left - extent.left, shown.top - extent.top, shown.right - extent.right,
                  shown.bottom - extent.bottom};
    range.right = std::max(range.left, range.right);
    range.bottom = std::max(range.top, range.bottom);
    return range;
}

bool KeepOnScreenNeedsExtents(const MonitorAreas& areas) {
    return areas.size() > 1 || (areas.size() == 1 && !EqualRect(&areas[0].monitor, &areas[0].work));
}

POINT KeepOnScreen(POINT position, const RECT& extent, const MonitorAreas& areas, const RECT& client,
                   int margin) {
    if (areas.size() > 1) {
        const RECT range = PositionRange(*MonitorOf(position, areas), extent, client);
        return {Clamp(position.x, range.left, range.right), Clamp(position.y, range.top, range.bottom)};
    }
    POINT kept = {std::min(position.x, client.right - margin), std::min(position.y, client.bottom - margin)};
    if (areas.empty()) return kept;
    const RECT& work = areas[0].work;
    const RECT& monitor = areas[0].monitor;
    if (work.right < monitor.right) kept.x = std::min(kept.x, work.right - extent.right);
    if (work.bottom < monitor.bottom) kept.y = std::min(kept.y, work.bottom - extent.bottom);
    if (work.left > monitor.left) kept.x = std::max(kept.x, work.left - extent.left);
    if (work.top > monitor.top) kept.y = std::max(kept.y, work.top - extent.top);
    return kept;
}

namespace {

// What no monitor shows.
std::vector<RECT> DeadZones(const RECT& client, const MonitorAreas& areas) {
    if (areas.empty()) return {};
    // The client cut into cells along every monitor edge; a cell no monitor covers is dead, and runs
    // of dead cells within a band are joined.
    std::vector<LONG> xs = {client.left, client.right}, ys = {client.top, client.bottom};
    for (const MonitorArea& area : areas) {
        xs.push_back(Clamp(area.monitor.left, client.left, client.right));
        xs.push_back(Clamp(area.monitor.right, client.left, client.right));
        ys.push_back(Clamp(area.monitor.top, client.top, client.bottom));
        ys.push_back(Clamp(area.monitor.bottom, client.top, client.bottom));
    }
    for (std::vector<LONG>* edges : {&xs, &ys}) {
        std::sort(edges->begin(), edges->end());
        edges->erase(std::unique(edges->begin(), edges->end()), edges->end());
    }
    std::vector<RECT> dead;
    for (size_t j = 0; j + 1 < ys.size(); ++j) {
        bool open = false;
        for (size_t i = 0; i + 1 < xs.size(); ++i) {
            const POINT centre = {xs[i], ys[j]};
            bool shown = false;
            for (const MonitorArea& area : areas) shown = shown || PtInRect(&area.monitor, centre);
            if (shown) {
                open = false;
            } else if (open) {
                dead.back().right = xs[i + 1];
            } else {
                dead.push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
                open = true;
            }
        }
    }
    return dead;
}

}  // namespace

std::vector<RECT> ZonesWithoutIcons(const RECT& client, const MonitorAreas& areas) {
    std::vector<RECT> zones = DeadZones(client, areas);
    for (const MonitorArea& area : areas) {
        const RECT& m = area.monitor;
        const RECT& w = area.work;
        // Above and below the work area across the monitor, then beside it.
        const RECT strips[] = {{m.left, m.top, m.right, w.top},
                               {m.left, w.bottom, m.right, m.bottom},
                               {m.left, std::max(m.top, w.top), w.left, std::min(m.bottom, w.bottom)},
                               {w.right, std::max(m.top, w.top), m.right, std::min(m.bottom, w.bottom)}};
        for (const RECT& strip : strips) {
            RECT shown = {};
            if (IntersectRect(&shown, &strip, &client)) zones.push_back(shown);
        }
    }
    return zones;
}

}  // namespace plx

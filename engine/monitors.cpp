#include "engine/monitors.h"

#include <algorithm>

namespace plx {

namespace {

BOOL CALLBACK CollectArea(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(monitor, &info))
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

POINT ClampOntoMonitor(POINT position, const MonitorAreas& areas, int margin) {
    const MonitorArea* best = nullptr;
    long long bestDistance = 0;
    for (const MonitorArea& area : areas) {
        const long long distance = DistanceSquared(position, area.monitor);
        if (!best || distance < bestDistance) {
            best = &area;
            bestDistance = distance;
        }
    }
    if (!best) return position;
    const RECT& work = best->work;
    return {Clamp(position.x, work.left, work.right - margin),
            Clamp(position.y, work.top, work.bottom - margin)};
}

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

}  // namespace plx

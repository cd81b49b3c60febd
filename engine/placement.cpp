// The free-spot walk, one pixel at a time.
#include "engine/placement.h"
namespace plx {
bool OverlapsAny(const RECT& rect, const PlacementList& list) {
    for (const auto& r : list) { RECT o; if (IntersectRect(&o, &rect, &r.bounds)) return true; }
    return false;
}
static void Shift(PlacementRecord& r, int dx, int dy) { r.position.x += dx; r.position.y += dy; OffsetRect(&r.bounds, dx, dy); }
void StepPlacement(PlacementRecord& r, const RECT& c) {
    if (r.moveRight) { Shift(r, 1, 0); if (r.bounds.right > c.right) { Shift(r, -1, 0); r.moveRight = 0; } else return; }
    else { Shift(r, -1, 0); if (r.bounds.left < 0) { Shift(r, 1, 0); r.moveRight = 1; } else return; }
    if (r.moveDown) { Shift(r, 0, 1); if (r.bounds.bottom > c.bottom) { Shift(r, 0, -2); r.moveDown = 0; } }
    else { Shift(r, 0, -1); if (r.bounds.top < 0) { Shift(r, 0, 2); r.moveDown = 1; } }
}
WalkResult WalkToFreeSpotByPixels(PlacementRecord& r, const PlacementList& placed, const RECT& c) {
    POINT start = r.position; RECT sb = r.bounds; r.moveRight = r.moveDown = 1; r.wrapped = 0;
    if (!OverlapsAny(r.bounds, placed)) return WalkResult::Stayed;
    long long bound = 4LL * (c.right + 2) * (c.bottom + 2);
    do {
        StepPlacement(r, c);
        if (--bound < 0 || (r.position.x == start.x && r.position.y == start.y)) {
            if (bound < 0 || r.wrapped) { r.position = start; r.bounds = sb; return WalkResult::PassEnded; }
            r.wrapped = 1;
        }
    } while (OverlapsAny(r.bounds, placed));
    return WalkResult::Moved;
}
WalkResult WalkToFreeSpot(PlacementRecord& r, const PlacementList& p, const RECT& c) { return WalkToFreeSpotByPixels(r, p, c); }
}

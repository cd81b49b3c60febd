// The places of icons saved at another DPI.
//
// The nearest free place is searched for in the positions an icon may take, a range that the order of
// columns may narrow: every placed icon rules out a rectangle of them (those at which the two would
// overlap). The nearest allowed position lies in a row at the wanted height, at a range's end, or just past
// the top or bottom of a ruled-out rectangle: elsewhere a step towards the wanted height would stay allowed
// and come nearer. The rows are tried nearest first, and in each the position nearest to the wanted column is
// found among the ruled-out stretches of that row.
#include "engine/scaled_places.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace plx {
namespace {

// A rectangle of positions, all four ends included.
struct PositionBox {
    long long left;
    long long top;
    long long right;
    long long bottom;
};

bool IsEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

// The positions at which an icon reaching `extent` around them overlaps `taken`.
PositionBox Overlapping(const RECT& taken, const RECT& extent) {
    return {static_cast<long long>(taken.left) - extent.right + 1,
            static_cast<long long>(taken.top) - extent.bottom + 1,
            static_cast<long long>(taken.right) - extent.left - 1,
            static_cast<long long>(taken.bottom) - extent.top - 1};
}

long long Square(long long value) { return value * value; }

bool Holds(const PositionBox& box, long long x, long long y) {
    return box.left <= x && x <= box.right && box.top <= y && y <= box.bottom;
}

// The allowed position in range nearest to want, if there is one.
std::optional<POINT> NearestAllowed(POINT want, const PositionBox& range,
                                    const std::vector<PositionBox>& ruledOut) {
    if (range.left > range.right || range.top > range.bottom) return std::nullopt;
    const long long wantX = std::clamp<long long>(want.x, range.left, range.right);
    std::vector<long long> rows = {std::clamp<long long>(want.y, range.top, range.bottom), range.top,
                                   range.bottom};
    for (const PositionBox& box : ruledOut) {
        for (const long long y : {box.top - 1, box.bottom + 1})
            if (y >= range.top && y <= range.bottom) rows.push_back(y);
    }
    std::sort(rows.begin(), rows.end(), [&want](long long a, long long b) {
        const long long da = Square(a - want.y), db = Square(b - want.y);
        return da != db ? da < db : a < b;
    });
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    std::optional<POINT> best;
    long long bestDistance = std::numeric_limits<long long>::max();
    std::vector<std::pair<long long, long long>> stretches;
    for (const long long y : rows) {
        const long long dy2 = Square(y - want.y);
        if (dy2 >= bestDistance) break;
        stretches.clear();
        for (const PositionBox& box : ruledOut)
            if (box.top <= y && y <= box.bottom) stretches.push_back({box.left, box.right});
        std::sort(stretches.begin(), stretches.end());
        // The ruled-out run of the row that holds wantX, stretches that touch taken as one.
        bool blocked = false;
        long long low = 0, high = 0;
        for (std::size_t i = 0; i < stretches.size();) {
            const long long first = stretches[i].first;
            long long last = stretches[i].second;
            for (++i; i < stretches.size() && stretches[i].first <= last + 1; ++i)
                last = std::max(last, stretches[i].second);
            if (first > wantX) break;
            if (wantX <= last) {
                blocked = true;
                low = first;
                high = last;
                break;
            }
        }
        std::optional<long long> x;
        if (!blocked) {
            x = wantX;
        } else {
            if (low - 1 >= range.left) x = low - 1;
            if (high + 1 <= range.right && (!x || Square(high + 1 - want.x) < Square(*x - want.x)))
                x = high + 1;
        }
        if (!x) continue;
        const long long distance = dy2 + Square(*x - want.x);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = POINT{static_cast<LONG>(*x), static_cast<LONG>(y)};
        }
    }
    return best;
}

struct Placed {
    RECT bounds;
    const MonitorArea* area;
    LONG savedX;
};

}  // namespace

std::vector<POINT> PlaceScaledIcons(const std::vector<SavedIcon>& icons, const MonitorAreas& areas,
                                    const RECT& client, UINT savedDpi, UINT dpi) {
    // Without a monitor, the view stands for one.
    const MonitorAreas own = areas.empty() ? MonitorAreas{{client, client}} : areas;
    struct Wanted {
        std::size_t index;
        const MonitorArea* area;
        POINT place;
        PositionBox range;
        bool inside;
    };
    std::vector<Wanted> wanted;
    wanted.reserve(icons.size());
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const SavedIcon& icon = icons[i];
        const MonitorArea* area = MonitorOf(icon.saved, own);
        const RECT& work = area->work;
        const POINT place = {
            work.left + MulDiv(icon.saved.x - work.left, static_cast<int>(dpi), static_cast<int>(savedDpi)),
            work.top + MulDiv(icon.saved.y - work.top, static_cast<int>(dpi), static_cast<int>(savedDpi))};
        const RECT r = PositionRange(*area, icon.extent, client);
        const PositionBox range = {r.left, r.top, r.right, r.bottom};
        wanted.push_back({i, area, place, range, Holds(range, place.x, place.y)});
    }
    // The icons whose place lies inside come first; then the columns from the right, each from the top.
    std::stable_sort(wanted.begin(), wanted.end(), [&icons](const Wanted& a, const Wanted& b) {
        if (a.inside != b.inside) return a.inside;
        const POINT& sa = icons[a.index].saved;
        const POINT& sb = icons[b.index].saved;
        return sa.x != sb.x ? sa.x > sb.x : sa.y < sb.y;
    });

    std::vector<POINT> places(icons.size());
    std::vector<Placed> placed;
    placed.reserve(icons.size());
    std::vector<PositionBox> ruledOut;
    for (const Wanted& w : wanted) {
        const SavedIcon& icon = icons[w.index];
        ruledOut.clear();
        if (!IsEmpty(icon.extent)) {
            for (const Placed& other : placed)
                if (!IsEmpty(other.bounds)) ruledOut.push_back(Overlapping(other.bounds, icon.extent));
        }
        const bool free = std::none_of(ruledOut.begin(), ruledOut.end(), [&w](const PositionBox& box) {
            return Holds(box, w.place.x, w.place.y);
        });
        std::optional<POINT> place;
        if (w.inside && free) {
            place = w.place;
        } else {
            // Left of the icons of columns saved further right on this monitor, right of the others.
            PositionBox ordered = w.range;
            for (const Placed& other : placed) {
                if (other.area != w.area) continue;
                if (other.savedX < icon.saved.x)
                    ordered.left = std::max<long long>(
                        ordered.left, static_cast<long long>(other.bounds.right) - icon.extent.left);
                if (other.savedX > icon.saved.x)
                    ordered.right = std::min<long long>(
                        ordered.right, static_cast<long long>(other.bounds.left) - icon.extent.right);
            }
            place = NearestAllowed(w.place, ordered, ruledOut);
            if (!place) place = NearestAllowed(w.place, w.range, ruledOut);
            if (!place)
                place =
                    POINT{static_cast<LONG>(std::clamp<long long>(w.place.x, w.range.left, w.range.right)),
                          static_cast<LONG>(std::clamp<long long>(w.place.y, w.range.top, w.range.bottom))};
        }
        places[w.index] = *place;
        RECT bounds = icon.extent;
        OffsetRect(&bounds, place->x, place->y);
        placed.push_back({bounds, w.area, icon.saved.x});
    }
    return places;
}

}  // namespace plx

// The free-spot walk of a restore.
//
// The walk is a serpentine sweep: along a row to one edge, a turn step that moves one pixel up or down,
// back along the next row. The pixel walk takes it one StepPlacement at a time and tests the whole
// placed list at every pixel, which costs seconds on a large, full desktop. The fast walk takes the same
// steps, but covers each run of a row in one jump: it knows which left edges of the row are blocked by
// placed icons, so it jumps straight to the first free one, to the start (whose returns end the walk),
// to the row end or to the step bound, whichever comes first, and lets StepPlacement itself make the
// turn. Both walks therefore end in the same record, down to the walk flags.
#include "engine/placement.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace plx {
namespace {

// IntersectRect's answer without the output rectangle: an empty rectangle on either side never
// intersects, and rectangles that only share an edge do not either.
bool Intersects(const RECT& a, const RECT& b) {
    return std::max(a.left, b.left) < std::min(a.right, b.right) &&
           std::max(a.top, b.top) < std::min(a.bottom, b.bottom);
}

void Shift(PlacementRecord& record, LONG dx, LONG dy) {
    record.position.x += dx;
    record.position.y += dy;
    OffsetRect(&record.bounds, dx, dy);
}

bool AtPosition(const PlacementRecord& record, const POINT& point) {
    return record.position.x == point.x && record.position.y == point.y;
}

// What both walks fix before their first step; they differ only in how they take the steps.
struct WalkStart {
    POINT position;
    RECT bounds;
    unsigned long long bound;

    WalkResult EndPass(PlacementRecord& record) const {
        record.position = position;
        record.bounds = bounds;
        return WalkResult::PassEnded;
    }
};

// Resets the walk flags; false when the icon overlaps nothing and stays, with no walk to take.
bool BeginWalk(PlacementRecord& record, const PlacementList& placed, const RECT& client, WalkStart& start) {
    record.moveRight = 1;
    record.moveDown = 1;
    record.wrapped = 0;
    if (!OverlapsAny(record.bounds, placed)) return false;
    start = {record.position, record.bounds, WalkStepBound(record.bounds, client)};
    return true;
}

unsigned long long SaturatingProduct(unsigned long long a, unsigned long long b) {
    if (a != 0 && b > std::numeric_limits<unsigned long long>::max() / a) {
        return std::numeric_limits<unsigned long long>::max();
    }
    return a * b;
}

// The non-empty bounds of the placed icons ordered by top, so that a walk looks only at the icons that
// can reach into its rows instead of reading the whole list. A pass keeps one and adds each icon it
// places; a single walk builds its own.
class PlacedIndex {
public:
    explicit PlacedIndex(const PlacementList& placed) {
        rects_.reserve(placed.size() + 16);
        for (const PlacementRecord& record : placed) {
            if (!Empty(record.bounds)) rects_.push_back(record.bounds);
        }
        // Stable, so that icons of one row keep their list order, which is mostly left to right.
        std::stable_sort(rects_.begin(), rects_.end(), ByTop);
        for (const RECT& r : rects_) maxHeight_ = std::max(maxHeight_, Height(r));
        RebuildPrefix(0);
    }

    void Add(const RECT& r) {
        if (Empty(r)) return;
        const auto at = std::upper_bound(rects_.begin(), rects_.end(), r, ByTop);
        const std::size_t index = static_cast<std::size_t>(at - rects_.begin());
        rects_.insert(at, r);
        maxHeight_ = std::max(maxHeight_, Height(r));
        RebuildPrefix(index);
    }

    // The first rectangle whose top is at least `top`.
    std::size_t LowerBound(long long top) const {
        return static_cast<std::size_t>(
            std::lower_bound(rects_.begin(), rects_.end(), top,
                             [](const RECT& r, long long value) { return r.top < value; }) -
            rects_.begin());
    }

    bool Overlaps(const RECT& rect) const {
        for (std::size_t i = LowerBound(static_cast<long long>(rect.top) - maxHeight_ + 1);
             i < rects_.size() && rects_[i].top < rect.bottom; ++i) {
            if (Intersects(rect, rects_[i])) return true;
        }
        return false;
    }

    const std::vector<RECT>& rects() const { return rects_; }
    long long maxHeight() const { return maxHeight_; }
    // The lowest bottom edge among the first `count` rectangles (nothing below: the lowest possible).
    long long MaxBottomBefore(std::size_t count) const {
        return count == 0 ? std::numeric_limits<long long>::min() : prefixMaxBottom_[count - 1];
    }

private:
    static bool Empty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }
    static long long Height(const RECT& r) { return static_cast<long long>(r.bottom) - r.top; }
    static bool ByTop(const RECT& a, const RECT& b) { return a.top < b.top; }

    void RebuildPrefix(std::size_t from) {
        prefixMaxBottom_.resize(rects_.size());
        for (std::size_t i = from; i < rects_.size(); ++i) {
            const long long previous =
                i == 0 ? std::numeric_limits<long long>::min() : prefixMaxBottom_[i - 1];
            prefixMaxBottom_[i] = std::max(previous, static_cast<long long>(rects_[i].bottom));
        }
    }

    std::vector<RECT> rects_;
    std::vector<long long> prefixMaxBottom_;
    long long maxHeight_ = 0;
};

// The left edges at which an icon of a given size overlaps some placed icon, for every top in one band
// of rows. Within a band the same placed icons reach into the icon's rows, so the blocked left edges
// stay the same; the band is reloaded when the walk leaves it (a few times per sweep).
class RowBand {
public:
    RowBand(const PlacedIndex& placed, long long width, long long height)
        : placed_(placed), width_(width), height_(height) {}

    bool Covers(long long top) const { return top >= firstTop_ && top < endTop_; }

    void Load(long long top) {
        firstTop_ = std::numeric_limits<long long>::min();
        endTop_ = std::numeric_limits<long long>::max();
        spans_.clear();
        // Icons whose top lies a whole icon height above are behind the band: only their lowest
        // bottom edge matters. Icons whose top lies below the icon's rows are ahead: only the first.
        const std::vector<RECT>& rects = placed_.rects();
        const std::size_t first = placed_.LowerBound(top - placed_.maxHeight() + 1);
        firstTop_ = std::max(firstTop_, placed_.MaxBottomBefore(first));
        std::size_t i = first;
        for (; i < rects.size(); ++i) {
            const RECT& r = rects[i];
            const long long enter = static_cast<long long>(r.top) - height_ + 1;  // first top overlapping r
            const long long leave = r.bottom;                                     // first top past r
            if (top < enter) break;  // this one and all after it lie below the band
            if (top >= leave) {
                firstTop_ = std::max(firstTop_, leave);
            } else {
                firstTop_ = std::max(firstTop_, enter);
                endTop_ = std::min(endTop_, leave);
                spans_.push_back(
                    {static_cast<long long>(r.left) - width_ + 1, static_cast<long long>(r.right) - 1});
            }
        }
        if (i < rects.size()) endTop_ = std::min(endTop_, static_cast<long long>(rects[i].top) - height_ + 1);
        // The spans come row by row, and within a row mostly left to right: merge the sorted runs
        // rather than sorting them afresh.
        const auto byFirst = [](const Span& a, const Span& b) { return a.first < b.first; };
        runs_.clear();
        for (std::size_t k = 0; k < spans_.size(); ++k) {
            if (k == 0 || spans_[k].first < spans_[k - 1].first) runs_.push_back(k);
        }
        if (runs_.size() > 8) {
            std::sort(spans_.begin(), spans_.end(), byFirst);
        } else {
            runs_.push_back(spans_.size());
            while (runs_.size() > 2) {
                std::inplace_merge(spans_.begin() + runs_[0], spans_.begin() + runs_[1],
                                   spans_.begin() + runs_[2], byFirst);
                runs_.erase(runs_.begin() + 1);
            }
        }
        // Merge overlapping and adjacent spans, so that the edge just past a span is always free.
        std::size_t kept = 0;
        for (const Span& span : spans_) {
            if (kept > 0 && span.first <= spans_[kept - 1].last + 1) {
                spans_[kept - 1].last = std::max(spans_[kept - 1].last, span.last);
            } else {
                spans_[kept++] = span;
            }
        }
        spans_.resize(kept);
    }

    bool Blocked(long long left) const { return SpanAt(left) != spans_.end(); }

    // The first free left edge beyond `left` in the given direction (it may lie past the row's end).
    long long NextFree(long long left, bool rightwards) const {
        const long long next = rightwards ? left + 1 : left - 1;
        const auto span = SpanAt(next);
        if (span == spans_.end()) return next;
        return rightwards ? span->last + 1 : span->first - 1;
    }

private:
    struct Span {
        long long first;  // blocked left edges first..last
        long long last;
    };

    std::vector<Span>::const_iterator SpanAt(long long left) const {
        auto after = std::upper_bound(spans_.begin(), spans_.end(), left,
                                      [](long long value, const Span& span) { return value < span.first; });
        if (after == spans_.begin()) return spans_.end();
        const auto span = after - 1;
        return left <= span->last ? span : spans_.end();
    }

    const PlacedIndex& placed_;
    const long long width_;
    const long long height_;
    long long firstTop_ = 0;
    long long endTop_ = 0;  // the band covers tops firstTop_ .. endTop_ - 1
    std::vector<Span> spans_;
    std::vector<std::size_t> runs_;  // where each sorted run of spans_ starts
};

}  // namespace

bool OverlapsAny(const RECT& rect, const PlacementList& list) {
    for (const PlacementRecord& other : list) {
        if (Intersects(rect, other.bounds)) return true;
    }
    return false;
}

// The sweep turns at the client's left and top edges, which are 0 for any rectangle from GetClientRect;
// testing the edges themselves keeps the sweep inside a client placed anywhere else too.
void StepPlacement(PlacementRecord& record, const RECT& client) {
    if (record.moveRight) {
        Shift(record, 1, 0);
        if (record.bounds.right <= client.right) return;
        Shift(record, -1, 0);
        record.moveRight = 0;
    } else {
        Shift(record, -1, 0);
        if (record.bounds.left >= client.left) return;
        Shift(record, 1, 0);
        record.moveRight = 1;
    }
    if (record.moveDown) {
        Shift(record, 0, 1);
        if (record.bounds.bottom > client.bottom) {
            Shift(record, 0, -2);
            record.moveDown = 0;
        }
    } else {
        Shift(record, 0, -1);
        if (record.bounds.top < client.top) {
            Shift(record, 0, 2);
            record.moveDown = 1;
        }
    }
}

// Why the bound is safe. Let X and Y be one more than the width and height of the smallest rectangle
// holding both the client and the start bounds. A row run (the moves between two turns plus the turn)
// visits each left edge at most once, and all edges lie in that rectangle: at most X steps. Vertically
// the turns settle into the zigzag between the top and bottom bounce rows after at most dy + 2 runs (dy:
// how far the start sticks out above and below the client), the horizontal runs after two, and from
// then on the walk repeats with a period of at most 2 * max(client height, 1) runs. Everything the walk
// can ever do it has done within one period after settling, and a second return to the start comes at
// most one period after the first. So every walk that can end ends within
// X * (dy + 3 + 4 * max(client height, 1)) <= 4 * X * Y steps; one that has not is sweeping positions it
// has already tested and would never end. The test suite checks this on sampled geometries.
unsigned long long WalkStepBound(const RECT& startBounds, const RECT& client) {
    const long long spanX = static_cast<long long>(std::max(client.right, startBounds.right)) -
                            std::min(client.left, startBounds.left) + 1;
    const long long spanY = static_cast<long long>(std::max(client.bottom, startBounds.bottom)) -
                            std::min(client.top, startBounds.top) + 1;
    const unsigned long long x = static_cast<unsigned long long>(std::max(spanX, 1LL));
    const unsigned long long y = static_cast<unsigned long long>(std::max(spanY, 1LL));
    return SaturatingProduct(4, SaturatingProduct(x, y));
}

WalkResult WalkToFreeSpotByPixels(PlacementRecord& record, const PlacementList& placed, const RECT& client) {
    WalkStart start;
    if (!BeginWalk(record, placed, client, start)) return WalkResult::Stayed;
    unsigned long long steps = 0;
    do {
        if (steps == start.bound) return start.EndPass(record);
        StepPlacement(record, client);
        ++steps;
        if (AtPosition(record, start.position)) {
            if (record.wrapped) return WalkResult::PassEnded;
            record.wrapped = 1;
        }
    } while (OverlapsAny(record.bounds, placed));
    return WalkResult::Moved;
}

namespace {

WalkResult WalkIndexed(PlacementRecord& record, const PlacedIndex& placed, const RECT& client) {
    record.moveRight = 1;
    record.moveDown = 1;
    record.wrapped = 0;
    if (!placed.Overlaps(record.bounds)) return WalkResult::Stayed;
    const WalkStart start = {record.position, record.bounds, WalkStepBound(record.bounds, client)};
    const RECT& startBounds = start.bounds;
    const unsigned long long bound = start.bound;
    const long long width =
        static_cast<long long>(startBounds.right) - startBounds.left;  // >= 1: it overlaps
    const long long height = static_cast<long long>(startBounds.bottom) - startBounds.top;
    RowBand band(placed, width, height);
    unsigned long long steps = 0;

    // Every position the walk reaches goes through here; true when the walk ends at it.
    const auto arrived = [&](WalkResult& result) {
        if (AtPosition(record, start.position)) {
            if (record.wrapped) {
                result = start.EndPass(record);
                return true;
            }
            record.wrapped = 1;
        }
        if (!band.Covers(record.bounds.top)) band.Load(record.bounds.top);
        if (!band.Blocked(record.bounds.left)) {
            result = WalkResult::Moved;
            return true;
        }
        if (steps == bound) {
            result = start.EndPass(record);
            return true;
        }
        return false;
    };

    band.Load(record.bounds.top);
    WalkResult result = WalkResult::PassEnded;
    for (;;) {
        // The run along the current row: StepPlacement shifts while the bounds stay inside the client.
        const bool rightwards = record.moveRight != 0;
        const long long left = record.bounds.left;
        const long long rowEnd = rightwards ? std::max(left, static_cast<long long>(client.right) - width)
                                            : std::min(left, static_cast<long long>(client.left));
        const unsigned long long moves =
            static_cast<unsigned long long>(rightwards ? rowEnd - left : left - rowEnd);
        const auto distanceTo = [&](long long target) {
            const long long d = rightwards ? target - left : left - target;
            return d > 0 ? static_cast<unsigned long long>(d)
                         : std::numeric_limits<unsigned long long>::max();
        };
        // Stop at whichever comes first: the start, a free edge, the bound, the row end.
        unsigned long long jump = moves;
        if (record.bounds.top == startBounds.top) jump = std::min(jump, distanceTo(startBounds.left));
        jump = std::min(jump, distanceTo(band.NextFree(left, rightwards)));
        jump = std::min(jump, bound - steps);
        if (jump > 0) {
            Shift(record, rightwards ? static_cast<LONG>(jump) : -static_cast<LONG>(jump), 0);
            steps += jump;
            if (arrived(result)) return result;
            if (jump < moves) continue;
        }
        // At the row end: the next step is a turn, and StepPlacement makes it exactly.
        StepPlacement(record, client);
        ++steps;
        if (arrived(result)) return result;
    }
}

}  // namespace

WalkResult WalkToFreeSpot(PlacementRecord& record, const PlacementList& placed, const RECT& client) {
    return WalkIndexed(record, PlacedIndex(placed), client);
}

std::size_t PlaceUnplaced(PlacementList& unplaced, PlacementList& placed, const RECT& client,
                          WalkFunction walk) {
    // The shipped walk keeps one index for the whole pass rather than sorting the list per icon.
    std::optional<PlacedIndex> index;
    if (walk == WalkToFreeSpot) index.emplace(placed);
    std::size_t done = 0;
    for (PlacementRecord& record : unplaced) {
        const WalkResult result = index ? WalkIndexed(record, *index, client) : walk(record, placed, client);
        if (result == WalkResult::PassEnded) break;
        placed.push_back(record);
        if (index) index->Add(record.bounds);
        ++done;
    }
    return done;
}

}  // namespace plx

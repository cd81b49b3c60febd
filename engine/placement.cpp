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
#include <cstdint>
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

// A run of whole numbers first..last, both included: columns covered by icons, or blocked left edges.
struct Span {
    long long first;
    long long last;
};

// Span lists are kept sorted, with a gap of at least one number between neighbours: every set of
// numbers is held in exactly one way, whatever order its spans came in.

// Takes a span that starts no earlier than `last` into it, if the two overlap or touch.
bool JoinLast(Span& last, const Span& span) {
    if (span.first > last.last + 1) return false;
    last.last = std::max(last.last, span.last);
    return true;
}

// A span list as it is read: begin .. end - 1.
struct Spans {
    const Span* begin;
    const Span* end;
};

// Both lists merged into out (cleared first).
void MergeSpans(Spans a, Spans b, std::vector<Span>& out) {
    out.clear();
    const auto append = [&out](const Span& span) {
        if (out.empty() || !JoinLast(out.back(), span)) out.push_back(span);
    };
    while (a.begin != a.end && b.begin != b.end)
        append(a.begin->first <= b.begin->first ? *a.begin++ : *b.begin++);
    for (; a.begin != a.end; ++a.begin) append(*a.begin);
    for (; b.begin != b.end; ++b.begin) append(*b.begin);
}

// The span lists of an index, end to end in one vector, so that a pass allocates next to nothing. A list
// that outgrows its room moves to the end with twice the room; what it leaves behind lasts as long as
// the pass.
class SpanStore {
public:
    struct List {
        std::size_t begin = 0;
        std::size_t size = 0;
        std::size_t room = 0;
    };

    void Reserve(std::size_t spans) { spans_.reserve(spans); }

    List NewList(std::size_t room) {
        List list;
        Move(list, room);
        return list;
    }

    Spans Read(const List& list) const {
        return {spans_.data() + list.begin, spans_.data() + list.begin + list.size};
    }

    // Adds a span to the list; it absorbs the spans it overlaps or touches.
    void Add(List& list, Span span) {
        Span* const first = spans_.data() + list.begin;
        Span* const last = first + list.size;
        if (list.size == 0 || last[-1].first <= span.first) {
            // The usual case, spans coming left to right: only the last one can take it in.
            if (list.size == 0 || !JoinLast(last[-1], span)) Insert(list, list.size, span);
            return;
        }
        Span* const from = std::lower_bound(
            first, last, span.first, [](const Span& s, long long value) { return s.last + 1 < value; });
        Span* to = from;
        for (; to != last && to->first <= span.last + 1; ++to) {
            span.first = std::min(span.first, to->first);
            span.last = std::max(span.last, to->last);
        }
        if (from == to) {
            Insert(list, static_cast<std::size_t>(from - first), span);
        } else {
            *from = span;
            std::copy(to, last, from + 1);
            list.size -= static_cast<std::size_t>(to - from) - 1;
        }
    }

private:
    void Insert(List& list, std::size_t at, const Span& span) {
        if (list.size == list.room) Move(list, std::max<std::size_t>(4, 2 * list.room));
        Span* const first = spans_.data() + list.begin;
        std::copy_backward(first + at, first + list.size, first + list.size + 1);
        first[at] = span;
        ++list.size;
    }

    void Move(List& list, std::size_t room) {
        const std::size_t begin = spans_.size();
        spans_.resize(begin + room);
        std::copy(spans_.begin() + list.begin, spans_.begin() + list.begin + list.size,
                  spans_.begin() + begin);
        list.begin = begin;
        list.room = room;
    }

    std::vector<Span> spans_;
};

// The placed icons of a walk or a pass grouped in rows of icons with the same top and bottom edges, so
// that a walk looks only at the rows that reach into its own rows, and takes each row's blocked left
// edges as worked out once rather than icon by icon. A pass keeps one and adds each icon it places: an
// icon goes into its row's columns and into the row's blocked edges as they stand, at the cost of the
// row's length; a single walk builds its own.
class PlacedIndex {
public:
    struct Row {
        long long top;
        long long bottom;
        SpanStore::List columns;   // the columns its icons cover (left .. right - 1)
        long long edgesWidth = 0;  // the icon width `edges` holds; 0 while not worked out
        SpanStore::List edges;     // the left edges at which an icon that wide overlaps the row
    };

    // `toAdd`: how many icons the pass may add, so that nothing need grow meanwhile.
    explicit PlacedIndex(const PlacementList& placed, std::size_t toAdd = 0) {
        std::vector<RECT> rects;
        rects.reserve(placed.size());
        for (const PlacementRecord& record : placed) {
            if (!Empty(record.bounds)) rects.push_back(record.bounds);
        }
        std::sort(rects.begin(), rects.end(), [](const RECT& a, const RECT& b) {
            if (a.top != b.top) return a.top < b.top;
            if (a.bottom != b.bottom) return a.bottom < b.bottom;
            return a.left < b.left;
        });
        const auto sameRow = [](const RECT& a, const RECT& b) {
            return a.top == b.top && a.bottom == b.bottom;
        };
        std::size_t rowCount = 0;
        for (std::size_t i = 0; i < rects.size(); ++i) rowCount += i == 0 || !sameRow(rects[i - 1], rects[i]);
        rows_.reserve(rowCount + toAdd);
        order_.reserve(rowCount + toAdd);
        // Room for every row's columns and blocked edges, and for the lists of the rows a pass adds.
        store_.Reserve(2 * rects.size() + 8 * toAdd);
        for (std::size_t begin = 0, end = 0; begin < rects.size(); begin = end) {
            while (end < rects.size() && sameRow(rects[begin], rects[end])) ++end;
            order_.push_back(static_cast<std::uint32_t>(rows_.size()));
            Row& row = NewRow(rects[begin]);
            row.columns = store_.NewList(end - begin);
            for (std::size_t i = begin; i < end; ++i) {
                store_.Add(row.columns, {rects[i].left, static_cast<long long>(rects[i].right) - 1});
            }
        }
    }

    void Add(const RECT& r) {
        if (Empty(r)) return;
        const auto at =
            std::lower_bound(order_.begin(), order_.end(), r, [this](std::uint32_t i, const RECT& key) {
                const Row& row = rows_[i];
                return row.top != key.top ? row.top < key.top : row.bottom < key.bottom;
            });
        Row* row = nullptr;
        if (at == order_.end() || rows_[*at].top != r.top || rows_[*at].bottom != r.bottom) {
            // Only the order of the rows moves, never their icons.
            order_.insert(at, static_cast<std::uint32_t>(rows_.size()));
            row = &NewRow(r);
        } else {
            row = &rows_[*at];
        }
        const long long last = static_cast<long long>(r.right) - 1;
        store_.Add(row->columns, {r.left, last});
        if (row->edgesWidth != 0) store_.Add(row->edges, {r.left - row->edgesWidth + 1, last});
    }

    std::size_t size() const { return order_.size(); }
    // The rows by top (then bottom): row(0) is the highest.
    Row& row(std::size_t i) { return rows_[order_[i]]; }
    long long maxHeight() const { return maxHeight_; }

    // The first row whose top is at least `top`.
    std::size_t LowerBound(long long top) const {
        return static_cast<std::size_t>(
            std::lower_bound(order_.begin(), order_.end(), top,
                             [this](std::uint32_t i, long long value) { return rows_[i].top < value; }) -
            order_.begin());
    }

    // The left edges at which an icon `width` wide overlaps the row, given that it reaches into its rows.
    // Working them out may reallocate the store: lists read before must be read again.
    Spans BlockedEdges(Row& row, long long width) {
        if (row.edgesWidth != width) {
            row.edgesWidth = width;
            if (row.edges.room < row.columns.size) row.edges = store_.NewList(row.columns.size);
            row.edges.size = 0;
            // The room suffices: the columns are read where they are, and none of them moves.
            for (Spans c = store_.Read(row.columns); c.begin != c.end; ++c.begin) {
                store_.Add(row.edges, {c.begin->first - width + 1, c.begin->last});
            }
        }
        return store_.Read(row.edges);
    }

    Spans Edges(const Row& row) const { return store_.Read(row.edges); }

private:
    static bool Empty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

    Row& NewRow(const RECT& r) {
        maxHeight_ = std::max(maxHeight_, static_cast<long long>(r.bottom) - r.top);
        rows_.push_back({r.top, r.bottom, {}, 0, {}});
        return rows_.back();
    }

    SpanStore store_;
    std::vector<Row> rows_;             // in the order they were made
    std::vector<std::uint32_t> order_;  // rows_ by top, then bottom
    long long maxHeight_ = 0;
};

// The left edges at which an icon of a given size overlaps some placed icon, for every top in one band
// of rows. Within a band the same rows reach into the icon's rows, so the blocked left edges stay the
// same; the band is reloaded when the walk leaves it (a few times per sweep). A pass keeps one band, so
// that its buffers last from walk to walk.
class RowBand {
public:
    explicit RowBand(PlacedIndex& placed) : placed_(placed) {}
    RowBand(const RowBand&) = delete;
    RowBand& operator=(const RowBand&) = delete;

    // A walk of an icon of this size begins: the band covers nothing until it is loaded.
    void Begin(long long width, long long height) {
        width_ = width;
        height_ = height;
        firstTop_ = 1;
        endTop_ = 0;
    }

    bool Covers(long long top) const { return top >= firstTop_ && top < endTop_; }

    void Load(long long top) {
        firstTop_ = std::numeric_limits<long long>::min();
        endTop_ = std::numeric_limits<long long>::max();
        // Rows whose top lies a whole row height above are behind the band: only the lowest bottom edge
        // among them matters, and rows further up than that edge less the row height cannot reach it.
        const long long maxHeight = placed_.maxHeight();
        const std::size_t first = placed_.LowerBound(top - maxHeight + 1);
        for (std::size_t i = first; i > 0; --i) {
            const PlacedIndex::Row& row = placed_.row(i - 1);
            if (row.top + maxHeight <= firstTop_) break;
            firstTop_ = std::max(firstTop_, row.bottom);
        }
        // The rows that reach into the band; the only one so far is read where it lies.
        merged_.clear();
        const PlacedIndex::Row* only = nullptr;
        for (std::size_t i = first; i < placed_.size(); ++i) {
            PlacedIndex::Row& row = placed_.row(i);
            const long long enter = row.top - height_ + 1;  // the first top overlapping the row
            const long long leave = row.bottom;             // the first top past it
            if (top < enter) {
                // This row and all after it lie below the band.
                endTop_ = std::min(endTop_, enter);
                break;
            }
            if (top >= leave) {
                firstTop_ = std::max(firstTop_, leave);
                continue;
            }
            firstTop_ = std::max(firstTop_, enter);
            endTop_ = std::min(endTop_, leave);
            const Spans edges = placed_.BlockedEdges(row, width_);
            if (only == nullptr && merged_.empty()) {
                only = &row;
            } else if (only != nullptr) {
                MergeSpans(placed_.Edges(*only), edges, merged_);
                only = nullptr;
            } else {
                MergeSpans(Read(merged_), edges, scratch_);
                merged_.swap(scratch_);
            }
        }
        spans_ = only != nullptr ? placed_.Edges(*only) : Read(merged_);
    }

    bool Blocked(long long left) const { return SpanAt(left) != nullptr; }

    // The first free left edge beyond `left` in the given direction (it may lie past the row's end).
    long long NextFree(long long left, bool rightwards) const {
        const long long next = rightwards ? left + 1 : left - 1;
        const Span* const span = SpanAt(next);
        if (span == nullptr) return next;
        return rightwards ? span->last + 1 : span->first - 1;
    }

private:
    static Spans Read(const std::vector<Span>& spans) { return {spans.data(), spans.data() + spans.size()}; }

    const Span* SpanAt(long long left) const {
        const Span* const after =
            std::upper_bound(spans_.begin, spans_.end, left,
                             [](long long value, const Span& span) { return value < span.first; });
        if (after == spans_.begin) return nullptr;
        const Span* const span = after - 1;
        return left <= span->last ? span : nullptr;
    }

    PlacedIndex& placed_;
    long long width_ = 1;
    long long height_ = 1;
    long long firstTop_ = 1;
    long long endTop_ = 0;              // the band covers tops firstTop_ .. endTop_ - 1
    Spans spans_ = {nullptr, nullptr};  // the band's blocked left edges: one row's own, or merged_
    std::vector<Span> merged_;
    std::vector<Span> scratch_;
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

WalkResult WalkIndexed(PlacementRecord& record, RowBand& band, const RECT& client) {
    record.moveRight = 1;
    record.moveDown = 1;
    record.wrapped = 0;
    // An empty rectangle overlaps nothing; a non-empty one overlaps exactly where its band blocks it.
    if (record.bounds.left >= record.bounds.right || record.bounds.top >= record.bounds.bottom) {
        return WalkResult::Stayed;
    }
    const long long width = static_cast<long long>(record.bounds.right) - record.bounds.left;
    const long long height = static_cast<long long>(record.bounds.bottom) - record.bounds.top;
    band.Begin(width, height);
    band.Load(record.bounds.top);
    if (!band.Blocked(record.bounds.left)) return WalkResult::Stayed;
    const WalkStart start = {record.position, record.bounds, WalkStepBound(record.bounds, client)};
    const RECT& startBounds = start.bounds;
    const unsigned long long bound = start.bound;
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
    PlacedIndex index(placed);
    RowBand band(index);
    return WalkIndexed(record, band, client);
}

std::size_t PlaceUnplaced(PlacementList& unplaced, PlacementList& placed, const RECT& client,
                          WalkFunction walk) {
    placed.reserve(placed.size() + unplaced.size());
    // The shipped walk keeps one index and one band for the whole pass rather than building them per icon.
    std::optional<PlacedIndex> index;
    std::optional<RowBand> band;
    if (walk == WalkToFreeSpot) {
        index.emplace(placed, unplaced.size());
        band.emplace(*index);
    }
    std::size_t done = 0;
    for (PlacementRecord& record : unplaced) {
        const WalkResult result = band ? WalkIndexed(record, *band, client) : walk(record, placed, client);
        if (result == WalkResult::PassEnded) break;
        placed.push_back(record);
        if (index) index->Add(record.bounds);
        ++done;
    }
    return done;
}

}  // namespace plx

// The free-spot walk of a restore: the one-pixel serpentine step, the reference walk built from it, and
// the fast walk, which must end every walk in exactly the record the reference walk ends in.
#include "engine/monitors.h"
#include "engine/placement.h"
#include "engine/scaled_places.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using plx::PlacementList;
using plx::PlacementRecord;
using plx::WalkResult;

// An icon whose bounds start at (left, top); its position sits inside the bounds, as a list view's does.
PlacementRecord Icon(int left, int top, int width, int height, int index = 0) {
    PlacementRecord record;
    record.index = index;
    record.bounds = {left, top, left + width, top + height};
    record.position = {left + 3, top + 2};
    return record;
}

::testing::AssertionResult SameRecord(const PlacementRecord& a, const PlacementRecord& b) {
    if (a.index == b.index && a.position.x == b.position.x && a.position.y == b.position.y &&
        EqualRect(&a.bounds, &b.bounds) && a.moveRight == b.moveRight && a.moveDown == b.moveDown &&
        a.wrapped == b.wrapped) {
        return ::testing::AssertionSuccess();
    }
    const auto text = [](const PlacementRecord& r) {
        char buffer[160];
        wsprintfA(buffer, "#%d at (%ld,%ld) bounds (%ld,%ld,%ld,%ld) right %d down %d wrapped %d", r.index,
                  r.position.x, r.position.y, r.bounds.left, r.bounds.top, r.bounds.right, r.bounds.bottom,
                  r.moveRight, r.moveDown, r.wrapped);
        return std::string(buffer);
    };
    return ::testing::AssertionFailure() << text(a) << " vs " << text(b);
}

// ---------------------------------------------------------------------------------------------------
// OverlapsAny

TEST(OverlapsAnyTest, FollowsIntersectRect) {
    const PlacementList placed = {Icon(10, 10, 10, 10), Icon(100, 100, 5, 5)};
    // Sharing an edge or a corner is not overlapping.
    EXPECT_FALSE(plx::OverlapsAny({20, 10, 30, 20}, placed));
    EXPECT_FALSE(plx::OverlapsAny({0, 10, 10, 20}, placed));
    EXPECT_FALSE(plx::OverlapsAny({10, 20, 20, 30}, placed));
    EXPECT_FALSE(plx::OverlapsAny({20, 20, 30, 30}, placed));
    // One pixel in common is.
    EXPECT_TRUE(plx::OverlapsAny({19, 19, 29, 29}, placed));
    EXPECT_TRUE(plx::OverlapsAny({0, 0, 11, 11}, placed));
    // A later record counts as much as the first.
    EXPECT_TRUE(plx::OverlapsAny({102, 102, 103, 103}, placed));
    // Empty and inverted rectangles never overlap, on either side.
    EXPECT_FALSE(plx::OverlapsAny({12, 12, 12, 18}, placed));
    EXPECT_FALSE(plx::OverlapsAny({18, 12, 12, 18}, placed));
    EXPECT_FALSE(plx::OverlapsAny({0, 0, 50, 50}, {Icon(5, 5, 0, 10), Icon(20, 20, 10, -5)}));
    EXPECT_FALSE(plx::OverlapsAny({0, 0, 50, 50}, {}));
}

// ---------------------------------------------------------------------------------------------------
// StepPlacement

TEST(StepPlacementTest, MovesRightFirstAndTurnsDownAtTheRightEdge) {
    const RECT client = {0, 0, 100, 60};
    PlacementRecord record = Icon(50, 20, 10, 10);
    plx::StepPlacement(record, client);
    EXPECT_TRUE(SameRecord(record, Icon(51, 20, 10, 10)));

    record = Icon(90, 20, 10, 10);  // right edge on the client's
    plx::StepPlacement(record, client);
    PlacementRecord expected = Icon(90, 21, 10, 10);
    expected.moveRight = 0;
    EXPECT_TRUE(SameRecord(record, expected));
    plx::StepPlacement(record, client);  // and sweeps back left
    expected = Icon(89, 21, 10, 10);
    expected.moveRight = 0;
    EXPECT_TRUE(SameRecord(record, expected));
}

TEST(StepPlacementTest, TurnsAtTheLeftEdgeAndBouncesAtBottomAndTop) {
    const RECT client = {0, 0, 100, 60};
    PlacementRecord record = Icon(0, 20, 10, 10);
    record.moveRight = 0;
    plx::StepPlacement(record, client);
    PlacementRecord expected = Icon(0, 21, 10, 10);
    EXPECT_TRUE(SameRecord(record, expected));

    // At the bottom the vertical move goes one pixel up instead and the sweep heads upwards.
    record = Icon(90, 50, 10, 10);
    plx::StepPlacement(record, client);
    expected = Icon(90, 49, 10, 10);
    expected.moveRight = 0;
    expected.moveDown = 0;
    EXPECT_TRUE(SameRecord(record, expected));

    // At the top it goes one pixel down and heads downwards again.
    record = Icon(0, 0, 10, 10);
    record.moveRight = 0;
    record.moveDown = 0;
    plx::StepPlacement(record, client);
    EXPECT_TRUE(SameRecord(record, Icon(0, 1, 10, 10)));
}

TEST(StepPlacementTest, SweepsRowsDownThenUpBetweenTheEdges) {
    // Tops reachable: 0..4. The rows of the sweep zigzag between them, each row run to an edge.
    const RECT client = {0, 0, 10, 6};
    PlacementRecord record = Icon(0, 0, 4, 2);
    std::vector<LONG> rows = {record.bounds.top};
    for (int step = 0; step < 7 * 10; ++step) {
        const LONG top = record.bounds.top;
        plx::StepPlacement(record, client);
        if (record.bounds.top != top) {
            rows.push_back(record.bounds.top);
            // Every turn happens at an edge, after a full run: 6 shifts plus the turn.
            EXPECT_TRUE(record.bounds.left == 0 || record.bounds.right == 10);
            EXPECT_EQ(step % 7, 6);
        }
    }
    EXPECT_EQ(rows, (std::vector<LONG>{0, 1, 2, 3, 4, 3, 2, 1, 0, 1, 2}));
    EXPECT_EQ(record.position.x - record.bounds.left, 3);
    EXPECT_EQ(record.position.y - record.bounds.top, 2);
}

// ---------------------------------------------------------------------------------------------------
// The walks on hand-made desktops; each case holds for both.

struct Walk {
    const char* name;
    plx::WalkFunction walk;
};
const Walk kWalks[] = {{"fast", plx::WalkToFreeSpot}, {"pixel", plx::WalkToFreeSpotByPixels}};

TEST(WalkTest, AnIconOverNothingStaysWithFreshFlags) {
    for (const Walk& w : kWalks) {
        SCOPED_TRACE(w.name);
        PlacementRecord record = Icon(40, 40, 20, 20);
        record.moveRight = 0;
        record.moveDown = 0;
        record.wrapped = 1;
        EXPECT_EQ(w.walk(record, {Icon(60, 40, 20, 20)}, {0, 0, 200, 200}), WalkResult::Stayed);
        EXPECT_TRUE(SameRecord(record, Icon(40, 40, 20, 20)));
    }
}

TEST(WalkTest, MovesRightAlongItsRowUntilItOnlyTouches) {
    for (const Walk& w : kWalks) {
        SCOPED_TRACE(w.name);
        PlacementRecord record = Icon(10, 10, 20, 20);
        EXPECT_EQ(w.walk(record, {Icon(0, 0, 40, 40), Icon(45, 0, 10, 10)}, {0, 0, 200, 200}),
                  WalkResult::Moved);
        EXPECT_TRUE(SameRecord(record, Icon(40, 10, 20, 20)));
    }
}

TEST(WalkTest, AtTheRightEdgeGoesOneDownAndSweepsLeft) {
    for (const Walk& w : kWalks) {
        SCOPED_TRACE(w.name);
        PlacementRecord record = Icon(40, 5, 20, 20);
        EXPECT_EQ(w.walk(record, {Icon(30, 0, 70, 30)}, {0, 0, 100, 100}), WalkResult::Moved);
        PlacementRecord expected = Icon(10, 6, 20, 20);
        expected.moveRight = 0;
        EXPECT_TRUE(SameRecord(record, expected));
    }
}

TEST(WalkTest, BouncesAtTheBottomAndFindsASpotAboveItsStart) {
    // Only the top row is free; the start is below it, so the sweep goes down, bounces and comes up.
    for (const Walk& w : kWalks) {
        SCOPED_TRACE(w.name);
        PlacementRecord record = Icon(5, 20, 10, 10);
        EXPECT_EQ(w.walk(record, {Icon(0, 10, 60, 30)}, {0, 0, 60, 40}), WalkResult::Moved);
        EXPECT_EQ(record.bounds.top, 0);
        EXPECT_EQ(record.moveDown, 0);
        EXPECT_EQ(record.wrapped, 1);  // it passed its start on the way up
    }
}

TEST(WalkTest, AFullDesktopEndsThePassWithTheIconBackAtItsStart) {
    const RECT client = {0, 0, 120, 90};
    const PlacementList placed = {Icon(0, 0, 60, 90), Icon(50, 0, 70, 45), Icon(50, 40, 70, 50)};
    for (const Walk& w : kWalks) {
        SCOPED_TRACE(w.name);
        PlacementRecord record = Icon(30, 30, 25, 25);
        EXPECT_EQ(w.walk(record, placed, client), WalkResult::PassEnded);
        EXPECT_EQ(record.bounds.left, 30);
        EXPECT_EQ(record.bounds.top, 30);
        EXPECT_EQ(record.position.x, 33);
        EXPECT_EQ(record.wrapped, 1);
        // An icon sticking out never meets its start again; its walk ends at the step bound.
        for (const PlacementRecord& out :
             {Icon(-10, 30, 25, 25), Icon(100, 80, 25, 25), Icon(30, -5, 25, 25), Icon(-20, -20, 200, 200)}) {
            record = out;
            EXPECT_EQ(w.walk(record, placed, client), WalkResult::PassEnded);
            EXPECT_TRUE(EqualRect(&record.bounds, &out.bounds));
            EXPECT_EQ(record.position.y, out.position.y);
        }
    }
}

TEST(WalkTest, TheSecondPassStopsAtTheFirstIconWithoutASpot) {
    // Room for exactly one more icon: the second new one finds none, and the third is not walked.
    const RECT client = {0, 0, 100, 50};
    PlacementList placed = {Icon(0, 0, 50, 50)};
    PlacementList unplaced = {Icon(10, 10, 50, 50, 1), Icon(20, 0, 50, 50, 2), Icon(0, 0, 10, 10, 3)};
    EXPECT_EQ(plx::PlaceUnplaced(unplaced, placed, client), 1u);
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[1].index, 1);
    EXPECT_EQ(placed[1].bounds.left, 50);
    EXPECT_EQ(unplaced[1].bounds.left, 20);
    EXPECT_TRUE(SameRecord(unplaced[2], Icon(0, 0, 10, 10, 3)));
}

TEST(WalkTest, IconsPlacedInAPassFillTheGapsOfTheirRowInTurn) {
    // One row of 20 x 20 icons with a gap of 20 at 40 and one of 10 at 100. Every new icon is dropped on
    // the first icon and walks right along the row, past the icons placed before it.
    const RECT client = {0, 0, 200, 60};
    const PlacementList row = {Icon(0, 0, 20, 20),  Icon(20, 0, 20, 20),  Icon(60, 0, 20, 20),
                               Icon(80, 0, 20, 20), Icon(110, 0, 20, 20), Icon(130, 0, 70, 20)};
    const PlacementList dropped = {Icon(5, 0, 20, 20, 1), Icon(5, 0, 20, 20, 2), Icon(5, 0, 20, 20, 3),
                                   Icon(5, 0, 10, 20, 4), Icon(5, 0, 20, 20, 5)};
    for (const Walk& w : kWalks) {
        SCOPED_TRACE(w.name);
        PlacementList placed = row, unplaced = dropped;
        EXPECT_EQ(plx::PlaceUnplaced(unplaced, placed, client, w.walk), 5u);
        // The first fills the wide gap, which joins the row from 0 to 100 into one.
        EXPECT_TRUE(SameRecord(unplaced[0], Icon(40, 0, 20, 20, 1)));
        // The next two find no gap of 20 left, sweep down to the first top clear of the row and line up
        // there from the left.
        EXPECT_TRUE(SameRecord(unplaced[1], Icon(0, 20, 20, 20, 2)));
        EXPECT_TRUE(SameRecord(unplaced[2], Icon(20, 20, 20, 20, 3)));
        // A narrower icon fits the narrow gap; the last one, as wide as the first, goes on below.
        EXPECT_TRUE(SameRecord(unplaced[3], Icon(100, 0, 10, 20, 4)));
        EXPECT_TRUE(SameRecord(unplaced[4], Icon(40, 20, 20, 20, 5)));
        ASSERT_EQ(placed.size(), row.size() + 5);
        EXPECT_EQ(placed.back().index, 5);
    }
}

// ---------------------------------------------------------------------------------------------------
// The fast walk against the pixel walk on generated desktops.

class Desktops {
public:
    explicit Desktops(unsigned seed) : random_(seed) {}

    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int percent) { return Between(1, 100) <= percent; }

    // Small clients keep the pixel walk quick; some are not at the origin.
    RECT Client() {
        const int left = Chance(15) ? Between(-30, 30) : 0;
        const int top = Chance(15) ? Between(-30, 30) : 0;
        return {left, top, left + Between(40, 200), top + Between(40, 160)};
    }

    // An icon of a usual or odd size anywhere around the client, sticking out on any side at times.
    PlacementRecord AnyIcon(const RECT& client, int index) {
        const int width = Chance(5) ? Between(1, 260) : Between(8, 50);
        const int height = Chance(5) ? Between(1, 200) : Between(8, 50);
        const int left = Between(client.left - width - 10, client.right + 10);
        const int top = Between(client.top - height - 10, client.bottom + 10);
        return Icon(left, top, width, height, index);
    }

    PlacementList Placed(const RECT& client) {
        PlacementList placed;
        if (Chance(30)) {
            // Tiles covering the whole client: no free spot for anything.
            const int tileWidth = Between(15, 60), tileHeight = Between(15, 60);
            for (int y = client.top; y < client.bottom; y += tileHeight) {
                for (int x = client.left; x < client.right; x += tileWidth) {
                    placed.push_back(Icon(x, y, tileWidth, tileHeight, static_cast<int>(placed.size())));
                }
            }
        }
        const int more = Between(0, 25);
        for (int i = 0; i < more; ++i) placed.push_back(AnyIcon(client, static_cast<int>(placed.size())));
        // Now and then a record with empty bounds, which nothing overlaps.
        if (Chance(10)) placed.push_back(Icon(client.left + 5, client.top + 5, 0, 20, -1));
        return placed;
    }

private:
    std::mt19937 random_;
};

TEST(FastWalkTest, EndsEveryWalkInTheRecordOfThePixelWalk) {
    Desktops desktops(20240611);
    int results[3] = {};
    for (int round = 0; round < 2500; ++round) {
        const RECT client = desktops.Client();
        const PlacementList placed = desktops.Placed(client);
        PlacementRecord fast = desktops.AnyIcon(client, 1000);
        // Most new icons are dropped onto a placed one, where a walk is needed.
        if (!placed.empty() && desktops.Chance(70)) {
            const RECT& target = placed[desktops.Between(0, static_cast<int>(placed.size()) - 1)].bounds;
            fast = Icon(target.left + desktops.Between(-5, 5), target.top + desktops.Between(-5, 5),
                        fast.bounds.right - fast.bounds.left, fast.bounds.bottom - fast.bounds.top, 1000);
        }
        PlacementRecord pixel = fast;
        const WalkResult fastResult = plx::WalkToFreeSpot(fast, placed, client);
        const WalkResult pixelResult = plx::WalkToFreeSpotByPixels(pixel, placed, client);
        ASSERT_EQ(fastResult, pixelResult) << "round " << round;
        ASSERT_TRUE(SameRecord(fast, pixel)) << "round " << round;
        ++results[static_cast<int>(pixelResult)];
    }
    // The generated desktops must exercise every ending, or the comparison proves little.
    EXPECT_GT(results[static_cast<int>(WalkResult::Stayed)], 100);
    EXPECT_GT(results[static_cast<int>(WalkResult::Moved)], 800);
    EXPECT_GT(results[static_cast<int>(WalkResult::PassEnded)], 200);
}

// Runs the second pass with both walks and compares every record they leave; `placedAfter` gets the
// placed list as the passes left it.
::testing::AssertionResult SamePass(const RECT& client, const PlacementList& placed,
                                    const PlacementList& unplaced, PlacementList& placedAfter) {
    PlacementList fastPlaced = placed, pixelPlaced = placed;
    PlacementList fastUnplaced = unplaced, pixelUnplaced = unplaced;
    const std::size_t fastDone = plx::PlaceUnplaced(fastUnplaced, fastPlaced, client, plx::WalkToFreeSpot);
    const std::size_t pixelDone =
        plx::PlaceUnplaced(pixelUnplaced, pixelPlaced, client, plx::WalkToFreeSpotByPixels);
    if (fastDone != pixelDone || fastPlaced.size() != pixelPlaced.size()) {
        return ::testing::AssertionFailure() << "placed " << fastDone << " vs " << pixelDone;
    }
    for (std::size_t i = 0; i < fastUnplaced.size(); ++i) {
        ::testing::AssertionResult same = SameRecord(fastUnplaced[i], pixelUnplaced[i]);
        if (!same) return same << " (icon " << i << ")";
    }
    for (std::size_t i = 0; i < fastPlaced.size(); ++i) {
        ::testing::AssertionResult same = SameRecord(fastPlaced[i], pixelPlaced[i]);
        if (!same) return same << " (placed " << i << ")";
    }
    placedAfter = std::move(pixelPlaced);
    return ::testing::AssertionSuccess();
}

TEST(FastWalkTest, AWholeSecondPassEndsInThePositionsOfThePixelWalk) {
    Desktops desktops(7);
    int endedEarly = 0;
    for (int round = 0; round < 300; ++round) {
        const RECT client = desktops.Client();
        const PlacementList placed = desktops.Placed(client);
        PlacementList unplaced;
        const int count = desktops.Between(1, 12);
        for (int i = 0; i < count; ++i) unplaced.push_back(desktops.AnyIcon(client, 100 + i));

        PlacementList after;
        ASSERT_TRUE(SamePass(client, placed, unplaced, after)) << "round " << round;
        if (after.size() < placed.size() + unplaced.size()) ++endedEarly;
    }
    EXPECT_GT(endedEarly, 20);
}

// Desktops laid out in a grid, as a list view arranges one: rows of icons with the same top and bottom
// edges, some cells empty, neighbours at times overlapping. The new icons mostly have the grid's size and
// start on its rows, so that the pass places them into rows that earlier walks have read and that later
// walks read again; the others have other sizes, for which the rows' blocked edges are worked out anew.
TEST(FastWalkTest, APassOverAGridPlacesIconsIntoItsRowsAsThePixelWalkDoes) {
    Desktops desktops(31);
    int intoRows = 0, endedEarly = 0, totalNew = 0;
    for (int round = 0; round < 400; ++round) {
        const RECT client = desktops.Client();
        const int width = desktops.Between(6, 20), height = desktops.Between(6, 20);
        const int pitchX = std::max(1, width + desktops.Between(-3, 8));
        const int pitchY = std::max(1, height + desktops.Between(-3, 6));
        const int fill = desktops.Between(20, 85);
        PlacementList placed;
        std::vector<POINT> cells;
        for (int y = client.top; y + height <= client.bottom; y += pitchY) {
            for (int x = client.left; x + width <= client.right; x += pitchX) {
                cells.push_back({x, y});
                if (desktops.Chance(fill)) {
                    placed.push_back(Icon(x, y, width, height, static_cast<int>(placed.size())));
                }
            }
        }
        PlacementList unplaced;
        const int count = desktops.Between(3, 20);
        for (int i = 0; i < count; ++i) {
            const POINT cell = cells[desktops.Between(0, static_cast<int>(cells.size()) - 1)];
            const int w = desktops.Chance(75) ? width : desktops.Between(3, 30);
            const int h = desktops.Chance(75) ? height : desktops.Between(3, 30);
            const int dx = desktops.Chance(50) ? 0 : desktops.Between(-3, 3);
            const int dy = desktops.Chance(80) ? 0 : desktops.Between(-3, 3);
            unplaced.push_back(Icon(cell.x + dx, cell.y + dy, w, h, 100 + i));
        }

        PlacementList after;
        ASSERT_TRUE(SamePass(client, placed, unplaced, after)) << "round " << round;
        totalNew += static_cast<int>(after.size() - placed.size());
        for (std::size_t i = placed.size(); i < after.size(); ++i) {
            const RECT& b = after[i].bounds;
            intoRows += std::any_of(after.begin(), after.begin() + i, [&b](const PlacementRecord& r) {
                return r.bounds.top == b.top && r.bounds.bottom == b.bottom;
            });
        }
        if (after.size() < placed.size() + unplaced.size()) ++endedEarly;
    }
    // Many new icons must join a row that was there before them, or the rows' upkeep goes untested.
    EXPECT_GT(totalNew, 2000);
    EXPECT_GT(intoRows * 3, totalNew);
    EXPECT_GT(endedEarly, 20);
}

// ---------------------------------------------------------------------------------------------------
// The step bound: past it a walk only revisits positions it has already tested, so ending it there
// loses no free spot and no return to the start.

TEST(WalkStepBoundTest, NothingNewHappensAfterTheBound) {
    Desktops desktops(99);
    for (int round = 0; round < 150; ++round) {
        const RECT client = {0, 0, desktops.Between(5, 50), desktops.Between(5, 40)};
        const PlacementRecord start = desktops.AnyIcon(client, 0);
        const unsigned long long bound = plx::WalkStepBound(start.bounds, client);

        // Positions are bounds corners within the span of client and start, a bit widened.
        const LONG originX = std::min(client.left, start.bounds.left) - 2;
        const LONG originY = std::min(client.top, start.bounds.top) - 2;
        const LONG spanX = std::max(client.right, start.bounds.right) - originX + 3;
        const LONG spanY = std::max(client.bottom, start.bounds.bottom) - originY + 3;
        std::vector<bool> seen(static_cast<std::size_t>(spanX) * spanY);
        const auto cell = [&](const PlacementRecord& r) -> std::size_t {
            const LONG x = r.bounds.left - originX, y = r.bounds.top - originY;
            if (x < 0 || x >= spanX || y < 0 || y >= spanY) {
                ADD_FAILURE() << "the walk left the area around client and start: " << x << "," << y;
                return 0;
            }
            return static_cast<std::size_t>(y) * static_cast<std::size_t>(spanX) +
                   static_cast<std::size_t>(x);
        };
        const auto atStart = [&](const PlacementRecord& r) {
            return r.position.x == start.position.x && r.position.y == start.position.y;
        };

        PlacementRecord record = start;
        int returns = 0;
        for (unsigned long long step = 0; step < bound; ++step) {
            plx::StepPlacement(record, client);
            seen[cell(record)] = true;
            if (atStart(record)) ++returns;
        }
        for (unsigned long long step = 0; step < bound; ++step) {
            plx::StepPlacement(record, client);
            ASSERT_TRUE(seen[cell(record)]) << "round " << round << ": new position after the bound";
            if (atStart(record)) {
                ASSERT_GE(returns, 2) << "round " << round << ": return to the start after the bound";
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// The places of a slot saved at another DPI.

const RECT kExtent = {-21, -4, 54, 71};  // a 75 x 75 icon cell around its position, as the list view has it

RECT BoundsAt(POINT position, const RECT& extent) {
    RECT bounds = extent;
    OffsetRect(&bounds, position.x, position.y);
    return bounds;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// Icons saved in columns, `rows` high each, `pitch` apart.
std::vector<plx::SavedIcon> Columns(std::initializer_list<LONG> columns, int rows, LONG top, LONG pitch,
                                    const RECT& extent = kExtent) {
    std::vector<plx::SavedIcon> icons;
    for (const LONG x : columns)
        for (int row = 0; row < rows; ++row) icons.push_back({{x, top + pitch * row}, extent});
    return icons;
}

// What every restore at another DPI must leave: each icon wholly inside a work area, no two icons
// overlapping, and of two of the first `ordered` icons saved in one row, the one saved left wholly
// left of the other.
::testing::AssertionResult PlacedApart(const std::vector<plx::SavedIcon>& icons,
                                       const std::vector<POINT>& places, const plx::MonitorAreas& areas,
                                       size_t ordered) {
    for (size_t i = 0; i < icons.size(); ++i) {
        const RECT a = BoundsAt(places[i], icons[i].extent);
        if (std::none_of(areas.begin(), areas.end(),
                         [&](const plx::MonitorArea& m) { return Inside(a, m.work); }))
            return ::testing::AssertionFailure() << "icon " << i << " outside at " << a.left << "," << a.top;
        for (size_t j = 0; j < i; ++j) {
            const RECT b = BoundsAt(places[j], icons[j].extent);
            RECT common = {};
            if (IntersectRect(&common, &a, &b))
                return ::testing::AssertionFailure() << "icons " << j << " and " << i << " overlap";
            const LONG dx = icons[i].saved.x - icons[j].saved.x;
            if (i < ordered && icons[i].saved.y == icons[j].saved.y && dx != 0 &&
                (dx < 0 ? a.right > b.left : b.right > a.left))
                return ::testing::AssertionFailure() << "icons " << j << " and " << i << " changed sides";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(ScaledPlacesTest, PlacesScaleOnTheirMonitorAndColumnsKeepTheirOrderWithoutSharingAPlace) {
    // Two 1920 x 1080 monitors, the second left of the primary, so that the view begins on the second;
    // the primary's taskbar takes its bottom 40 pixels.
    const plx::MonitorAreas sideBySide = {{{1920, 0, 3840, 1080}, {1920, 0, 3840, 1040}},
                                          {{0, 0, 1920, 1080}, {0, 0, 1920, 1080}}};
    const RECT view = {0, 0, 3840, 1080};
    std::vector<plx::SavedIcon> icons = Columns({1940, 3660, 3760}, 4, 20, 100);
    icons.push_back({{100, 100}, kExtent});
    std::vector<POINT> places = plx::PlaceScaledIcons(icons, sideBySide, view, 96, 120);
    EXPECT_TRUE(PlacedApart(icons, places, sideBySide, icons.size()));
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(places[row].x, 1945) << "offset 20 from the primary's left edge, scaled";
        EXPECT_EQ(places[row].y, 25 + 125 * row);
        // The two columns that the scale takes past the right edge end at it, side by side.
        EXPECT_EQ(BoundsAt(places[8 + row], kExtent).right, 3840);
        EXPECT_EQ(BoundsAt(places[4 + row], kExtent).right, 3840 - 75);
    }
    EXPECT_EQ(places[12].x, 125);
    EXPECT_EQ(places[12].y, 125);

    // One monitor with its taskbar, a grid of 75 x 75 cells at 96 DPI: columns on the right that the
    // scale takes past the edge, columns on the left too long for the larger scale, and two icons saved
    // on one spot.
    const plx::MonitorAreas one = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}};
    const RECT screen = {0, 0, 1920, 1080};
    for (const auto& [from, to] : {std::pair<int, int>{96, 144}, {96, 120}, {144, 96}, {120, 96}}) {
        SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to));
        const auto at = [](int pixels, int dpi) { return MulDiv(pixels, dpi, 96); };
        // The cell at the new DPI, rounded down so that the cells of the scaled grid only touch.
        const int cell = 75 * to / 96;
        const RECT extent = {-at(21, to), -at(4, to), cell - at(21, to), cell - at(4, to)};
        icons =
            Columns({at(1675, from), at(1750, from), at(1825, from)}, 5, at(5, from), at(75, from), extent);
        const size_t rightColumns = icons.size();
        const std::vector<plx::SavedIcon> left =
            Columns({at(25, from), at(100, from), at(175, from)}, 14, at(5, from), at(75, from), extent);
        icons.insert(icons.end(), left.begin(), left.end());
        icons.push_back({{at(900, from), at(400, from)}, extent});
        icons.push_back({{at(900, from), at(400, from)}, extent});
        places = plx::PlaceScaledIcons(icons, one, screen, from, to);
        EXPECT_TRUE(PlacedApart(icons, places, one, rightColumns));
        // Whatever fits keeps its scaled place; of the two on one spot, the first keeps it.
        for (size_t i = 0; i + 1 < icons.size(); ++i) {
            const POINT scaled = {MulDiv(icons[i].saved.x, to, from), MulDiv(icons[i].saved.y, to, from)};
            if (!Inside(BoundsAt(scaled, extent), one[0].work)) continue;
            EXPECT_EQ(places[i].x, scaled.x) << i;
            EXPECT_EQ(places[i].y, scaled.y) << i;
        }
        // The other goes to the nearest free place: beside it.
        const POINT& kept = places[places.size() - 2];
        EXPECT_EQ(std::abs(places.back().x - kept.x) + std::abs(places.back().y - kept.y), cell);
    }
}

}  // namespace

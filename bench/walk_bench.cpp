// Speed of the restore's second pass: the shipped free-spot walk against the one-pixel reference walk on
// the same desktops, with a check that both leave every icon at the same place. Run by hand, see
// bench/README.md; it prints figures and never fails on speed.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench/restore_timing.h"
#include "bench/seconds.h"
#include "engine/monitors.h"
#include "engine/placement.h"
#include "engine/scaled_places.h"

namespace {

using bench::Seconds;
using plx::PlacementList;
using plx::PlacementRecord;

PlacementRecord Icon(int index, int left, int top, int width = 75, int height = 100) {
    PlacementRecord record;
    record.index = index;
    record.position = {left + 21, top + 2};  // the list view's position lies inside the bounds
    record.bounds = {left, top, left + width, top + height};
    return record;
}

// Icons laid out column after column from the top left, the order a list view numbers them in.
PlacementList Columns(int count, int pitchX, int pitchY, int perColumn) {
    PlacementList icons;
    for (int i = 0; i < count; ++i)
        icons.push_back(Icon(i, (i / perColumn) * pitchX, (i % perColumn) * pitchY));
    return icons;
}

// A restore's second pass: the placed icons and the new ones to walk, in item order.
struct Desktop {
    RECT client;
    PlacementList placed;
    PlacementList unplaced;
};

struct PassOutcome {
    PlacementList unplaced;  // every record as the pass left it
    std::size_t placedCount = 0;
    int moved = 0;
    double secondsPerPass = 0;
    int runs = 0;
};

// Runs the pass until at least minSeconds have gone by (once at the least) and keeps the last outcome.
PassOutcome TimePass(const Desktop& desktop, plx::WalkFunction walk, double minSeconds) {
    PassOutcome outcome;
    const double begin = Seconds();
    double elapsed = 0;
    do {
        PlacementList placed = desktop.placed;
        outcome.unplaced = desktop.unplaced;
        outcome.placedCount = plx::PlaceUnplaced(outcome.unplaced, placed, desktop.client, walk);
        ++outcome.runs;
        elapsed = Seconds() - begin;
    } while (elapsed < minSeconds);
    outcome.secondsPerPass = elapsed / outcome.runs;
    for (std::size_t i = 0; i < outcome.placedCount; ++i) {
        const POINT& from = desktop.unplaced[i].position;
        const POINT& to = outcome.unplaced[i].position;
        if (from.x != to.x || from.y != to.y) ++outcome.moved;
    }
    return outcome;
}

bool SamePlaces(const PassOutcome& a, const PassOutcome& b) {
    if (a.placedCount != b.placedCount || a.unplaced.size() != b.unplaced.size()) return false;
    for (std::size_t i = 0; i < a.unplaced.size(); ++i) {
        const PlacementRecord& x = a.unplaced[i];
        const PlacementRecord& y = b.unplaced[i];
        if (x.position.x != y.position.x || x.position.y != y.position.y ||
            !EqualRect(&x.bounds, &y.bounds)) {
            return false;
        }
    }
    return true;
}

// Every walk of the pass is timed both ways; the fast pass is repeated to get a readable time.
void CompareWalks(const char* title, const Desktop& desktop) {
    std::printf("%s\n", title);
    std::printf("  client %ld x %ld, %zu placed, %zu new\n", desktop.client.right - desktop.client.left,
                desktop.client.bottom - desktop.client.top, desktop.placed.size(), desktop.unplaced.size());
    const PassOutcome pixel = TimePass(desktop, plx::WalkToFreeSpotByPixels, 0.2);
    const PassOutcome fast = TimePass(desktop, plx::WalkToFreeSpot, 0.5);
    std::printf("  pixel walk: %12.3f ms per pass (%d run%s)\n", pixel.secondsPerPass * 1e3, pixel.runs,
                pixel.runs == 1 ? "" : "s");
    std::printf("  fast walk:  %12.3f ms per pass (%d runs)\n", fast.secondsPerPass * 1e3, fast.runs);
    std::printf("  speed-up:   %12.0fx\n", pixel.secondsPerPass / fast.secondsPerPass);
    std::printf("  pass: %zu of %zu new icons placed, %d moved%s\n", fast.placedCount,
                desktop.unplaced.size(), fast.moved,
                fast.placedCount < desktop.unplaced.size() ? ", pass ended without a free spot" : "");
    std::printf("  final positions of all %zu new icons: %s\n\n", desktop.unplaced.size(),
                SamePlaces(pixel, fast) ? "identical" : "DIFFERENT");
}

// A 4K desktop with most of its area taken by columns of icons; new icons arrive on the first
// columns, where the list view puts them, and each walks across the columns to the free part.
void LargeDesktop() {
    Desktop desktop;
    desktop.client = {0, 0, 3840, 2160};
    desktop.placed = Columns(500, 147, 102, 21);  // gaps too narrow for another icon
    for (int i = 0; i < 100; ++i) {
        const RECT& under = desktop.placed[i].bounds;
        desktop.unplaced.push_back(Icon(500 + i, under.left + 8, under.top + 6));
    }
    CompareWalks("1. 3840 x 2160, 500 icons in columns over most of it, 100 new icons dropped on them",
                 desktop);
}

// No free spot at all: the first new icon sweeps the whole client back to its start twice, which ends
// the pass.
void FullDesktop() {
    Desktop desktop;
    desktop.client = {0, 0, 1920, 1080};
    int index = 0;
    for (int column = 0; column <= 25; ++column) {
        for (int row = 0; row <= 10; ++row) {
            // The last column and row are pulled in to end at the client's edge.
            desktop.placed.push_back(
                Icon(index++, column < 25 ? column * 75 : 1920 - 75, row < 10 ? row * 100 : 1080 - 100));
        }
    }
    for (int i = 0; i < 10; ++i) desktop.unplaced.push_back(Icon(index++, 300 + 40 * i, 250 + 30 * i));
    CompareWalks("2. 1920 x 1080 covered completely, 10 new icons dropped on it", desktop);
}

// An everyday desktop: a few columns on the left, new icons partly on them and partly in the open.
void OrdinaryDesktop() {
    Desktop desktop;
    desktop.client = {0, 0, 1920, 1080};
    desktop.placed = Columns(60, 80, 105, 10);
    for (int i = 0; i < 5; ++i) desktop.unplaced.push_back(Icon(60 + i, 4, 3 + 105 * i));
    for (int i = 0; i < 5; ++i) desktop.unplaced.push_back(Icon(65 + i, 1200 + 80 * i, 400));
    CompareWalks("3. 1920 x 1080, 60 icons in the left columns, 10 new icons", desktop);
}

// Two monitors side by side, 1280 x 1024 and 1024 x 768: the view spans 2304 x 1024 and the part below
// the second monitor is shown by none, so it takes part in the pass as taken space. New icons land on
// the primary's full columns and in that dead zone, and walk to where a monitor shows them.
void TwoMonitors() {
    Desktop desktop;
    desktop.client = {0, 0, 2304, 1024};
    const plx::MonitorAreas areas = {{{0, 0, 1280, 1024}, {0, 0, 1280, 1024}},
                                     {{1280, 0, 2304, 768}, {1280, 0, 2304, 768}}};
    desktop.placed = Columns(150, 80, 102, 10);
    for (const RECT& dead : plx::ZonesWithoutIcons(desktop.client, areas)) {
        PlacementRecord zone;
        zone.index = -1;
        zone.bounds = dead;
        desktop.placed.push_back(zone);
    }
    int index = 150;
    for (int i = 0; i < 10; ++i) desktop.unplaced.push_back(Icon(index++, 4 + 80 * i, 3 + 102 * (i % 10)));
    for (int i = 0; i < 10; ++i) desktop.unplaced.push_back(Icon(index++, 1300 + 90 * i, 800 + 10 * i));
    CompareWalks("4. two monitors, 2304 x 1024 with a dead zone below the second, 150 icons, 20 new icons",
                 desktop);
}

// A full 4K desktop saved at 96 DPI and restored at 120 and 144: a third to a half of its columns and
// rows go past the edges, and each of those icons looks for the nearest free place. No target: how long
// the worst case of a restore at another scale takes.
void ScaledPlaces() {
    const RECT screen = {0, 0, 3840, 2160};
    const plx::MonitorAreas areas = {{screen, {0, 0, 3840, 2120}}};
    for (const UINT dpi : {120u, 144u}) {
        const LONG width = MulDiv(75, static_cast<int>(dpi), 96),
                   height = MulDiv(100, static_cast<int>(dpi), 96);
        std::vector<plx::SavedIcon> icons;
        for (int i = 0; i < 1000; ++i)
            icons.push_back(
                {{10 + (i / 20) * 76, 10 + (i % 20) * 101}, {-width / 4, -2, width - width / 4, height - 2}});
        std::vector<POINT> places;
        int runs = 0;
        const double begin = Seconds();
        do {
            places = plx::PlaceScaledIcons(icons, areas, screen, 96, dpi);
            ++runs;
        } while (Seconds() - begin < 0.5);
        int moved = 0;
        for (std::size_t i = 0; i < icons.size(); ++i)
            moved += places[i].x != MulDiv(icons[i].saved.x, static_cast<int>(dpi), 96) ||
                     places[i].y != MulDiv(icons[i].saved.y, static_cast<int>(dpi), 96);
        std::printf(
            "  1,000 icons saved at 96 DPI placed at %u: %.2f ms (%d runs), %d not at their scaled place\n",
            dpi, (Seconds() - begin) / runs * 1e3, runs, moved);
    }
    std::printf("\n");
}

// One section per measured operation; a new measurement adds its own section here.
struct Section {
    const char* title;
    void (*run)();
};

const Section kSections[] = {
    {"Second pass of a restore: fast walk against the pixel walk",
     [] {
         LargeDesktop();
         FullDesktop();
         OrdinaryDesktop();
         TwoMonitors();
     }},
    {"Places of a slot saved at another DPI", ScaledPlaces},
    {"Restore of 1,000 icons against the bare cost of its messages and registry reads, off and on the screen",
     RunRestoreTiming},
};

}  // namespace

int main() {
    for (const Section& section : kSections) {
        std::printf("== %s\n\n", section.title);
        section.run();
    }
    return 0;
}

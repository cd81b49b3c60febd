// The arrangements of monitors the tree keeps profiles for, read back from their key names, and how the
// monitors of one arrangement are found again in another: what a first visit to an arrangement is
// seeded from.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "store/profile_tree.h"

namespace plx {

// One monitor of an arrangement: its size, and its top-left corner relative to the primary's.
struct ArrangedMonitor {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
    bool operator==(const ArrangedMonitor& o) const {
        return width == o.width && height == o.height && x == o.x && y == o.y;
    }
};

// The monitors a resolution key names: the primary first (at 0,0), then the others in the key's order.
struct Arrangement {
    std::vector<ArrangedMonitor> monitors;
    // False for a name that ends in a count and checksum: monitors holds only those that fit the name.
    bool whole = true;
};

// Nothing when name is not a resolution key's ("Items", "HiddenItems", anything else).
std::optional<Arrangement> ParseArrangement(const std::string& name);

// For each monitor of from, the index of the monitor of to taken for it, or -1. Only monitors of the
// same size are taken for each other, one for one: a primary for the primary first, the others for
// the others in their order, and only then a primary for another monitor (the roles swapped).
std::vector<int> MatchMonitors(const Arrangement& from, const Arrangement& to);

// An arrangement that has a profile to seed from: its current profile has a "Manual" slot.
struct KnownArrangement {
    ScreenSize size;
    Arrangement arrangement;
    ProfileName profile;
    // The DPI the slot's positions were saved at ("ManualDPI" in the profile's key); 0 when not said.
    DWORD manualDpi = 0;
};
// Every whole arrangement of the tree but `except` whose current profile has a "Manual" slot.
std::vector<KnownArrangement> ArrangementsWithProfiles(const ScreenSize& except);

// The index in known of the arrangement nearest to `to`: the one with the most monitors in common, then
// the one last used, then the one whose common monitors moved least. Nothing when none has a monitor
// in common with `to`.
std::optional<size_t> NearestArrangement(const std::vector<KnownArrangement>& known, const Arrangement& to,
                                         const ScreenSize& lastUsed);

// A monitor that `to` still has: where the desktop's list view showed it at from, and where its
// top-left corner is shown at `to`.
struct KeptMonitor {
    RECT before;
    POINT after;
};
// The list view spans the virtual screen: at from, its origin was the top-left corner of all monitors.
// toPrimary: where the view shows the primary's top-left corner now.
std::vector<KeptMonitor> KeptMonitors(const Arrangement& from, const Arrangement& to, POINT toPrimary);

// A place saved at from moved with the monitor it lies on, scaled from savedDpi to dpi about that
// monitor's corner (savedDpi 0: as it is). False when it lies on no monitor that is kept.
bool MoveWithMonitor(POINT saved, const std::vector<KeptMonitor>& kept, UINT savedDpi, UINT dpi,
                     POINT& moved);

}  // namespace plx

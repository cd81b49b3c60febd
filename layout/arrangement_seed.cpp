#include "layout/arrangement_seed.h"

#include <new>
#include <set>
#include <string>

#include "engine/positions.h"
#include "store/arrangements.h"
#include "store/slots.h"
#include "win32/dpi.h"

namespace plx {

namespace {

void Seed(HWND listView, const ScreenSize& size) {
    const std::optional<Arrangement> here = ParseArrangement(ResolutionKeyName(size));
    if (!here || !here->whole) return;
    const std::vector<KnownArrangement> known = ArrangementsWithProfiles(size);
    const std::optional<size_t> nearest = NearestArrangement(known, *here, ReadLastResolution());
    if (!nearest) return;
    const KnownArrangement& seed = known[*nearest];
    unique_hkey slot = OpenSlotKey(seed.size, seed.profile, kManualSlot, KeyAccess::Read);
    if (!slot) return;
    // The primary's top-left corner is the origin of screen coordinates.
    POINT primary = {0, 0};
    MapWindowPoints(nullptr, listView, &primary, 1);
    const std::vector<KeptMonitor> kept = KeptMonitors(seed.arrangement, *here, primary);
    const UINT dpi = WindowDpi(listView);

    IconPlaces places = ReadIconPlaces(listView);
    // A slot holds one place per label: icons named alike after the first stay where they are.
    std::set<std::string> seen;
    bool moving = false;
    for (IconPlace& place : places) {
        if (!seen.insert(place.label).second) continue;
        BYTE data[8];
        bool legacy = false;
        POINT moved = {};
        if (!ReadSavedPosition(slot.get(), place.label, data, legacy) ||
            !MoveWithMonitor(DecodePosition(data), kept, seed.manualDpi, dpi, moved))
            continue;
        moving = moving || moved.x != place.position.x || moved.y != place.position.y;
        place.position = moved;
    }
    // Every icon has its place here, its own or the seeded one: none is walked to a free spot.
    if (moving) PlaceIcons(listView, places);
}

}  // namespace

void SeedFromNearestArrangement(HWND listView, const ScreenSize& size) {
    try {
        Seed(listView, size);
    } catch (const std::bad_alloc&) {
        // The seed is a kindness: without it the first set-up saves the desktop as the system left it.
    }
}

}  // namespace plx

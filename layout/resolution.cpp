#include "layout/resolution.h"

#include <string>

#include "engine/desktop_listview.h"
#include "engine/positions.h"
#include "layout/arrangement_seed.h"
#include "layout/profiles.h"
#include "layout/undo.h"
#include "store/profile_tree.h"
#include "store/slots.h"
#include "store/snapshots.h"
#include "store/store_lock.h"
#include "win32/unique.h"

namespace plx {

namespace {

HWND ListViewOrDesktop(HWND listView) { return listView ? listView : FindDesktopListView(); }

// Saves the present desktop as the current profile (quietly; no item is hidden or shown), once the
// icons of monitors known from another arrangement are where that arrangement has them, and carries
// the slots of a layout from before profiles into it.
void FirstTimeSetup(HWND listView) {
    HWND view = ListViewOrDesktop(listView);
    // Without a desktop nothing is saved, and the slots of an older layout stay where they are: moved
    // into a profile that was never saved, they would sit in an unmarked key for the next set-up to
    // overwrite.
    if (!view) return;
    const ScreenSize size = GetScreenSize();
    // The icons of the monitors the user had before first go where the nearest arrangement has them.
    SeedFromNearestArrangement(view, size);
    // Into the profile the set-up saves: "Default" unless a current profile was already named.
    const ProfileName profile = GetCurrentProfile(size);
    // The same holds for a profile whose marker could not be written.
    if (SaveProfile(view, size, profile, nullptr, TRUE, nullptr, false) == SaveOutcome::NotSaved) return;
    MigrateLegacySlots(size, profile);
}

// The latest snapshot of size when it is the layout as last seen; nothing while the user keeps no layout
// automatically.
std::optional<Snapshot> LastSeenSnapshot(const ScreenSize& size) {
    if (!KeepLayoutAutomatically()) return std::nullopt;
    return SnapshotNewerThanProfile(size);
}

// Puts the icons as snapshot has them; before: the places an undo takes them back to.
void PlaceSnapshot(HWND listView, const ScreenSize& size, const Snapshot& snapshot,
                   const IconPlaces& before) {
    PlaceIcons(listView, snapshot.places, snapshot.info.dpi);
    KeepForUndo(size, before);
}

// A display change or a new shell that takes the arrangement into use: the profile is activated (or the
// first set-up runs), and then the icons go where they were last seen when that is a snapshot.
void TakeArrangementIntoUse(HWND listView, const ScreenSize& size) {
    // Read before the activation, whose own places are not the layout as last seen.
    const std::optional<Snapshot> lastSeen = LastSeenSnapshot(size);
    const IconPlaces before = ReadIconPlaces(ListViewOrDesktop(listView));
    PrepareResolution(listView);
    HWND view = ListViewOrDesktop(listView);
    // Only where the activation went through: an arrangement left as it was keeps its icons.
    if (lastSeen && view && ReadLastResolution() == size && GetScreenSize() == size)
        PlaceSnapshot(view, size, *lastSeen, before);
}

}  // namespace

ProfileSearch SearchProfiles() {
    LONG status = ERROR_SUCCESS;
    unique_hkey resolution = OpenResolutionKey(GetScreenSize(), KeyAccess::Read, &status);
    // Only a key that is not there means "no profile": one that cannot be read may hold the user's.
    if (!resolution) return status == ERROR_FILE_NOT_FOUND ? ProfileSearch::NotFound : ProfileSearch::Failed;
    bool found = false;
    const LONG rc = ForEachSubkey(resolution.get(), [&](const std::string& name) {
        found = IsProfileKey(resolution.get(), name);
        return !found;
    });
    if (found) return ProfileSearch::Found;
    return rc == ERROR_SUCCESS ? ProfileSearch::NotFound : ProfileSearch::Failed;
}

ActivationOutcome PrepareResolution(HWND listView) {
    CarryOverOlderProfiles();
    switch (SearchProfiles()) {
        case ProfileSearch::NotFound:
            FirstTimeSetup(listView);
            return ActivationOutcome::Done;
        case ProfileSearch::Failed:
            return ActivationOutcome::Done;
        case ProfileSearch::Found:
            break;
    }
    if (ReadLastResolution() == GetScreenSize()) return ActivationOutcome::Done;
    if (HWND view = ListViewOrDesktop(listView)) return ActivateProfile(view, GetScreenSize(), nullptr);
    return ActivationOutcome::Done;
}

void FollowDisplayChange(HWND listView, bool arrangementMoved) {
    CarryOverOlderProfiles();
    const ScreenSize size = GetScreenSize();
    if (SearchProfiles() == ProfileSearch::Found && ReadLastResolution() == size) {
        // Back at the arrangement the profile is active for: the system may have moved the icons of a
        // monitor that was gone for a moment, so they go back where they were last seen (a snapshot, or
        // the profile's places). Nothing is activated and no file moves.
        if (arrangementMoved) PutIconsBack(listView);
        return;
    }
    TakeArrangementIntoUse(listView, size);
}

void PutIconsBack(HWND listView) {
    const ScreenSize size = GetScreenSize();
    const IconPlaces before = ReadIconPlaces(listView);
    if (const std::optional<Snapshot> lastSeen = LastSeenSnapshot(size))
        return PlaceSnapshot(listView, size, *lastSeen, before);
    // A profile without its slot moves nothing, and what was kept for an undo stays.
    if (RestorePositions(listView, size, GetCurrentProfile(size), kManualSlot) != PositionsResult::NoSlot)
        KeepForUndo(size, before);
}

void ReturnToLastSeen(HWND listView) {
    CarryOverOlderProfiles();
    const ScreenSize size = GetScreenSize();
    if (SearchProfiles() == ProfileSearch::Found && ReadLastResolution() == size)
        return PutIconsBack(listView);
    TakeArrangementIntoUse(listView, size);
}

void EnsureDefaultProfile(HWND listView) {
    if (SearchProfiles() == ProfileSearch::NotFound) FirstTimeSetup(listView);
}

}  // namespace plx

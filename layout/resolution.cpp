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

namespace {

// Below RootKey while the carry-over runs: the copy grows under kCarryingKey and is renamed into the
// arrangement's name once whole, which kCarriedValue in it then says. No resolution key has that name.
constexpr char kCarryingKey[] = "Carrying over";
constexpr char kCarriedValue[] = "CarriedOver";

bool IsWholeCopy(HKEY root, const std::string& name) {
    unique_hkey key = OpenKeyForReading(root, name);
    DWORD carried = 0;
    return key && ReadNumber(key.get(), kCarriedValue, carried) == ERROR_SUCCESS && carried == 1;
}

// The profiles of from written over those of the same name in to, each copied whole.
bool CopyProfilesOver(HKEY from, HKEY to) {
    bool copied = true;
    const LONG walked = ForEachSubkey(from, [&](const std::string& name) {
        unique_hkey source = OpenKeyForReading(from, name);
        DeleteKeyTree(to, name);
        unique_hkey target = CreateKey(to, name);
        copied = source && target && RegCopyTreeW(source.get(), nullptr, target.get()) == ERROR_SUCCESS;
        return copied;
    });
    return copied && walked == ERROR_SUCCESS;
}

}  // namespace

void CarryOverOlderProfiles() {
    const ScreenSize size = GetScreenSize();
    if (size.SingleMonitor() || !KeptByOlderVersion()) return;
    // The older version kept these monitors' profiles under the primary's size, and was last used at
    // that size. They are copied, not moved: the primary's key stays for the primary alone (and for
    // the older version), and nothing stored is lost whichever way the copy ends.
    const ScreenSize primary{size.width, size.height, {}};
    if (ReadLastResolution() != primary) return;
    // The shell and orvane may both begin it: one at a time, and the second finds it done.
    StoreLock lock;
    if (!lock.Held() || !KeptByOlderVersion()) return;
    unique_hkey root = OpenKeyForWriting(HKEY_CURRENT_USER, kRootKey);
    if (!root) return;
    const std::string target = ResolutionKeyName(size);
    const auto rename = [&](const std::string& from, const std::string& to) {
        return RegRenameKey(root.get(), ToWide(from).c_str(), ToWide(to).c_str()) == ERROR_SUCCESS;
    };
    // A whole copy holds all there is to carry over, the arrangement's key of before included: it goes
    // into place over whatever is left of that key. A copy that is not whole goes.
    if (IsWholeCopy(root.get(), kCarryingKey)) {
        DeleteKeyTree(root.get(), target);
        if (!rename(kCarryingKey, target)) return;
    }
    DeleteKeyTree(root.get(), kCarryingKey);

    if (!IsWholeCopy(root.get(), target)) {
        unique_hkey from = OpenKeyForReading(root.get(), ResolutionKeyName(primary));
        if (!from) return;
        // The arrangement's key may be there already, made before the carry-over ran (an export, an
        // import, or an earlier version of this module that stopped half-way): the copy takes its
        // profiles over those of the same name, and replaces it whole.
        unique_hkey before = OpenKeyForReading(root.get(), target);
        bool whole = false;
        {
            unique_hkey copy = CreateKey(root.get(), kCarryingKey);
            whole = copy && RegCopyTreeW(from.get(), nullptr, copy.get()) == ERROR_SUCCESS &&
                    (!before || CopyProfilesOver(before.get(), copy.get())) &&
                    WriteNumber(copy.get(), kCarriedValue, 1) == ERROR_SUCCESS &&
                    RegFlushKey(copy.get()) == ERROR_SUCCESS;
        }
        // Half a copy would pass for this arrangement's profiles: it goes, and the next call tries again.
        if (!whole) {
            DeleteKeyTree(root.get(), kCarryingKey);
            return;
        }
        before.reset();
        DeleteKeyTree(root.get(), target);
        if (!rename(kCarryingKey, target)) return;
    }
    // The desktop is as the older version left it for this arrangement: nothing to activate. From here
    // on the tree is this version's, and the carry-over is done.
    WriteLastResolution(size);
    if (unique_hkey carried = OpenKeyForWriting(root.get(), target))
        RegDeleteValueW(carried.get(), ToWide(kCarriedValue).c_str());
}

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

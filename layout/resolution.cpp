#include "layout/resolution.h"

#include <string>

#include "engine/desktop_listview.h"
#include "layout/profiles.h"
#include "store/profile_tree.h"
#include "store/slots.h"
#include "win32/unique.h"

namespace plx {

namespace {

HWND ListViewOrDesktop(HWND listView) { return listView ? listView : FindDesktopListView(); }

// Saves the present desktop as the current profile (quietly, nothing moves) and carries the slots
// of a layout from before profiles into it.
void FirstTimeSetup(HWND listView) {
    HWND view = ListViewOrDesktop(listView);
    // Without a desktop nothing is saved, and the slots of an older layout stay where they are: moved
    // into a profile that was never saved, they would sit in an unmarked key for the next set-up to
    // overwrite.
    if (!view) return;
    const ScreenSize size = GetScreenSize();
    // Into the profile the set-up saves: "Default" unless a current profile was already named.
    const ProfileName profile = GetCurrentProfile(size);
    // The same holds for a profile whose marker could not be written.
    if (SaveProfile(view, size, profile, nullptr, TRUE, nullptr, false) == SaveOutcome::NotSaved) return;
    MigrateLegacySlots(size, profile);
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

void PrepareResolution(HWND listView) {
    switch (SearchProfiles()) {
        case ProfileSearch::NotFound:
            FirstTimeSetup(listView);
            return;
        case ProfileSearch::Failed:
            return;
        case ProfileSearch::Found:
            break;
    }
    if (ReadLastResolution() == GetScreenSize()) return;
    if (HWND view = ListViewOrDesktop(listView)) ActivateProfile(view, GetScreenSize(), nullptr);
}

void EnsureDefaultProfile(HWND listView) {
    if (SearchProfiles() == ProfileSearch::NotFound) FirstTimeSetup(listView);
}

}  // namespace plx

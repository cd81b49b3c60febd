#include "store/resolution.h"

#include <string>

#include "engine/desktop_listview.h"
#include "store/catalogue.h"
#include "store/profiles.h"
#include "store/registry.h"
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
    SaveProfile(view, nullptr, nullptr, TRUE, nullptr, false);
    unique_hkey resolution = OpenKeyForWriting(HKEY_CURRENT_USER, ResolutionKeyPath());
    if (!resolution) return;
    // Into the profile the set-up just saved: "Default" unless a current profile was already named.
    const std::string profile = GetCurrentProfile();
    MigrateLegacySlot(resolution.get(), kManualSlot, (profile + "\\" + kManualSlot).c_str());
    MigrateLegacySlot(resolution.get(), kStartupSlot, (profile + "\\" + kStartupSlot).c_str());
}

}  // namespace

ProfileSearch SearchProfiles() {
    LONG status = ERROR_SUCCESS;
    unique_hkey resolution = OpenKeyForReading(HKEY_CURRENT_USER, ResolutionKeyPath(), &status);
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
    if (HWND view = ListViewOrDesktop(listView)) ActivateProfile(view, nullptr);
}

void EnsureDefaultProfile(HWND listView) {
    if (SearchProfiles() == ProfileSearch::NotFound) FirstTimeSetup(listView);
}

void MigrateLegacySlot(HKEY resolutionKey, const char* legacy, const char* target) {
    {
        unique_hkey source = OpenKeyForWriting(resolutionKey, legacy);
        if (!source) return;
        unique_hkey destination = CreateKey(resolutionKey, target);
        // Without a place to go, the old positions stay where they are.
        if (!destination) return;
        for (const DesktopItem& item : BuildItemCatalogue(nullptr)) {
            BYTE point[8];
            DWORD size = sizeof(point);
            if (ReadBytes(source.get(), item.DisplayName.c_str(), point, size) == ERROR_SUCCESS &&
                size == sizeof(point))
                WriteBytes(destination.get(), item.DisplayName.c_str(), point, sizeof(point));
        }
    }
    DeleteKeyTree(resolutionKey, legacy);
}

}  // namespace plx

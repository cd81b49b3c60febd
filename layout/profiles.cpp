#include "layout/profiles.h"

#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/channel.h"
#include "engine/positions.h"
#include "layout/actions.h"
#include "layout/move_progress.h"
#include "layout/undo.h"
#include "store/profile_tree.h"
#include "store/snapshots.h"
#include "store/store_lock.h"
#include "store/store_security.h"
#include "store/visibility.h"
#include "win32/long_path.h"
#include "win32/unique.h"

namespace plx {

namespace {

// The store directory itself is made with one creation; its mirrors come with each hide. The setup
// makes it for every user; made here, it is the user's own.
std::string PrepareStoreDirectory() {
    const std::string store = HiddenStoreDirectory();
    if (!store.empty() && GetFileAttributesW(FileApiPath(store).c_str()) == INVALID_FILE_ATTRIBUTES)
        CreateOwnFolder(ToWide(store));
    return store;
}

// The profile key with its marker; empty when either cannot be written.
unique_hkey MarkedProfileKey(const ScreenSize& size, const ProfileName& profile) {
    unique_hkey key = OpenProfileKey(size, profile, KeyAccess::Create);
    if (key && WriteString(key.get(), nullptr, kProfileMarker) != ERROR_SUCCESS) key.reset();
    return key;
}

// After an activation: true when no item is left where the profile does not want it. An item counts by
// where it is, whatever its move reported: one the profile shows must not be in the store, and one it
// hides must not be on the desktop (an item synced with a cloud stays there by design; one whose file
// is nowhere is gone, not misplaced).
bool EveryItemInPlace(const DesktopItemList& list, const std::vector<VisibilityOutcome>& outcomes,
                      const std::string& store) {
    const auto there = [](const std::string& path) {
        return !path.empty() && GetFileAttributesW(FileApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    for (size_t i = 0; i < list.size(); ++i) {
        const DesktopItem& item = list[i];
        if (!item.Movable() || outcomes[i] == VisibilityOutcome::KeptForCloud) continue;
        const std::string stored = store.empty() ? std::string() : StorePathFor(store, item.DesktopPath);
        if (item.Visible ? there(stored) : there(item.DesktopPath)) return false;
    }
    return true;
}

// The desktop folders whose mirrors a release may leave empty: the user's own and the common one.
std::vector<std::wstring> OwnDesktopFolders() {
    std::vector<std::wstring> folders;
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0])
            folders.push_back(path);
    }
    return folders;
}

}  // namespace

SaveOutcome SaveProfile(HWND listView, const ScreenSize& size, const ProfileName& name, HWND owner,
                        BOOL quiet, const DesktopItemList* items, bool apply) {
    // Taken before anything changes: without it the save changes nothing.
    std::optional<StoreLock> lock;
    if (apply && !lock.emplace().Held()) return SaveOutcome::NotSaved;
    unique_hkey profileKey = MarkedProfileKey(size, name);
    // Without its key and marker the profile does not exist: moving items for it would leave them
    // recorded nowhere, and its name must not become current.
    if (!profileKey) return SaveOutcome::NotSaved;
    bool complete = true;
    // The slot takes the desktop as it was, before any item moves.
    if (!SavePositionsOrSay(listView, size, name, kManualSlot, owner, quiet)) complete = false;

    if (apply) SweepHiddenStore();
    const std::string store = PrepareStoreDirectory();
    unique_hkey hidden = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey);
    DesktopItemList list = items ? *items : BuildItemCatalogue(owner);
    // A profile never hides an item synced with a cloud: it is recorded as shown, as it stays.
    for (DesktopItem& item : list)
        if (item.CloudSynced) item.Visible = true;
    std::vector<VisibilityOutcome> outcomes(list.size(), VisibilityOutcome::NothingToDo);
    MoveProgressDialog progress(owner);
    if (apply) outcomes = ApplyVisibility(list, store, hidden.get(), &progress);
    for (size_t i = 0; i < list.size(); ++i) {
        DesktopItem& item = list[i];
        if (!item.Movable()) continue;
        switch (outcomes[i]) {
            case VisibilityOutcome::ShowFailed:
                item.Visible = false;
                break;
            case VisibilityOutcome::HideFailedAtMove:
            case VisibilityOutcome::KeptForCloud:
                item.Visible = true;
                break;
            case VisibilityOutcome::HideFailedAtDirectory:
                // The profile keeps whatever it said about this item before.
                continue;
            default:
                break;
        }
        unique_hkey record = CreateKey(profileKey.get(), std::to_string(item.ID));
        if (!record || WriteNumber(record.get(), "Visible", item.Visible ? 1 : 0) != ERROR_SUCCESS)
            complete = false;
    }
    hidden.reset();
    WriteLastResolution(size);
    // A snapshot from before the save is older than the profile: an automatic restore takes the profile.
    NoteProfileTime(size);
    if (apply) {
        NotifyDesktopChanged(owner);
        RestorePositions(listView, size, name, kManualSlot);
    }
    return complete ? SaveOutcome::Saved : SaveOutcome::Partial;
}

SaveOutcome SaveCurrentProfile(HWND listView, HWND owner, BOOL quiet, const DesktopItemList* items,
                               bool apply) {
    const ScreenSize size = GetScreenSize();
    return SaveProfile(listView, size, GetCurrentProfile(size), owner, quiet, items, apply);
}

ActivationOutcome ActivateProfile(HWND listView, const ScreenSize& size, HWND owner) {
    // The sweep first: the catalogue lists stored items by their entries.
    if (!OpenKeyForReading(HKEY_CURRENT_USER, kItemsKey)) return ActivationOutcome::Done;
    StoreLock lock;
    if (!lock.Held()) return ActivationOutcome::NotRun;
    // The stored items as the sweep leaves them; their entries are read again only when the sweep
    // could not list them (activation shows no list: their icons are not looked up).
    std::optional<DesktopItemList> stored;
    bool unsettled = false;
    SweepHiddenStore(&stored, &unsettled);
    if (!stored) {
        stored.emplace();
        if (!AppendHiddenItems(*stored, false)) return ActivationOutcome::InPart;
    }
    const ProfileName name = GetCurrentProfile(size);
    unique_hkey profileKey = OpenProfileKey(size, name, KeyAccess::Read);
    std::optional<DesktopItemList> list = ReadItemsToApply(profileKey.get(), *stored);
    if (!list) return ActivationOutcome::InPart;
    // Before any item comes or goes: what an undo puts back.
    const IconPlaces before = ReadIconPlaces(listView);
    const std::string store = PrepareStoreDirectory();
    unique_hkey hidden = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey);
    MoveProgressDialog progress(owner);
    const std::vector<VisibilityOutcome> outcomes = ApplyVisibility(*list, store, hidden.get(), &progress);
    hidden.reset();
    NotifyDesktopChanged(owner);
    WriteLastResolution(size);
    // Kept before the icons move: an end during the restore still leaves the way back.
    KeepForUndo(size, before);
    ReachedStep("restoring positions");
    RestorePositions(listView, size, name, kManualSlot);
    return unsettled || !EveryItemInPlace(*list, outcomes, store) ? ActivationOutcome::InPart
                                                                  : ActivationOutcome::Done;
}

ActivationOutcome ActivateProfile(HWND listView, HWND owner) {
    return ActivateProfile(listView, GetScreenSize(), owner);
}

bool ReleaseHiddenItems(HWND listView) {
    CloseAgentWindow();
    StoreLock lock;
    if (!lock.Held()) return false;
    // Before the list is made, so that it holds every stored item by its entry.
    SweepHiddenStore();
    DesktopItemList list = BuildItemCatalogue(nullptr);
    for (DesktopItem& item : list) {
        if (item.Movable()) item.Visible = true;
    }
    if (SaveCurrentProfile(listView, nullptr, TRUE, &list, true) == SaveOutcome::NotSaved) {
        // The items come back even when no profile can record them.
        const std::string store = PrepareStoreDirectory();
        unique_hkey hidden = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey);
        MoveProgressDialog progress(nullptr);
        ApplyVisibility(list, store, hidden.get(), &progress);
        NotifyDesktopChanged(nullptr);
    }
    // Only what is empty goes: a file whose move back failed stays in the store with its folders,
    // where the user can still find it.
    const std::string store = HiddenStoreDirectory();
    if (!store.empty() && GetFileAttributesW(FileApiPath(store).c_str()) != INVALID_FILE_ATTRIBUTES)
        RemoveEmptyDirectories(store, OwnDesktopFolders());
    return true;
}

}  // namespace plx

#include "layout/profiles.h"

#include <optional>
#include <string>
#include <vector>

#include "engine/channel.h"
#include "engine/positions.h"
#include "layout/actions.h"
#include "layout/move_progress.h"
#include "layout/undo.h"
#include "store/profile_tree.h"
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

bool ActivateProfile(HWND listView, const ScreenSize& size, HWND owner) {
    // The sweep first: the catalogue lists stored items by their entries.
    if (!OpenKeyForReading(HKEY_CURRENT_USER, kItemsKey)) return true;
    StoreLock lock;
    if (!lock.Held()) return false;
    // The stored items as the sweep leaves them; their entries are read again only when the sweep
    // could not list them (activation shows no list: their icons are not looked up).
    std::optional<DesktopItemList> stored;
    SweepHiddenStore(&stored);
    if (!stored) {
        stored.emplace();
        if (!AppendHiddenItems(*stored, false)) return true;
    }
    const ProfileName name = GetCurrentProfile(size);
    unique_hkey profileKey = OpenProfileKey(size, name, KeyAccess::Read);
    std::optional<DesktopItemList> list = ReadItemsToApply(profileKey.get(), *stored);
    if (!list) return true;
    // Before any item comes or goes: what an undo puts back.
    const IconPlaces before = ReadIconPlaces(listView);
    const std::string store = PrepareStoreDirectory();
    unique_hkey hidden = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey);
    MoveProgressDialog progress(owner);
    ApplyVisibility(*list, store, hidden.get(), &progress);
    hidden.reset();
    NotifyDesktopChanged(owner);
    WriteLastResolution(size);
    // Kept before the icons move: an end during the restore still leaves the way back.
    KeepForUndo(size, before);
    ReachedStep("restoring positions");
    RestorePositions(listView, size, name, kManualSlot);
    return true;
}

bool ActivateProfile(HWND listView, HWND owner) { return ActivateProfile(listView, GetScreenSize(), owner); }

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
        RemoveEmptyDirectories(store);
    return true;
}

}  // namespace plx

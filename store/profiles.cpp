#include "store/profiles.h"

#include <string>

#include "engine/names.h"
#include "engine/positions.h"
#include "store/registry.h"
#include "store/visibility.h"
#include "win32/unique.h"

namespace plx {

namespace {

std::string RecordKeyPath(const std::string& profileKey, int id) {
    return profileKey + "\\" + std::to_string(id);
}

// The store directory itself is made with one creation; its mirrors come with each hide.
std::string PrepareStoreDirectory() {
    const std::string store = HiddenStoreDirectory();
    if (!store.empty() && GetFileAttributesA(store.c_str()) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryA(store.c_str(), nullptr);
    return store;
}

}  // namespace

void WriteLastResolution() {
    unique_hkey root = OpenKeyForWriting(HKEY_CURRENT_USER, kRootKey);
    if (!root) return;
    const ScreenSize size = GetScreenSize();
    BYTE data[8];
    EncodePosition({size.width, size.height}, data);
    WriteBytes(root.get(), kLastResolutionValue, data, sizeof(data));
}

ScreenSize ReadLastResolution() {
    unique_hkey root = OpenKeyForReading(HKEY_CURRENT_USER, kRootKey);
    BYTE data[8] = {};
    DWORD size = sizeof(data);
    if (!root || ReadBytes(root.get(), kLastResolutionValue, data, size) != ERROR_SUCCESS ||
        size != sizeof(data))
        return {};
    const POINT last = DecodePosition(data);
    return {static_cast<int>(last.x), static_cast<int>(last.y)};
}

void SaveProfile(HWND listView, const char* profile, HWND owner, BOOL quiet, const DesktopItemList* items,
                 bool apply) {
    const std::string name = profile ? std::string(profile) : GetCurrentProfile();
    const std::string profileKey = ProfileKeyPath(name);
    {
        unique_hkey key = CreateKey(HKEY_CURRENT_USER, profileKey);
        if (key) WriteString(key.get(), nullptr, kProfileMarker);
    }
    // The slot takes the desktop as it was, before any item moves.
    SaveRestorePositions(listView, SavePositions, owner, quiet, name.c_str());

    const std::string store = PrepareStoreDirectory();
    unique_hkey hidden = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey);
    DesktopItemList list = items ? *items : BuildItemCatalogue(owner);
    for (DesktopItem& item : list) {
        if (!item.Movable()) continue;
        if (apply) {
            switch (ApplyItemVisibility(item, store, hidden.get())) {
                case VisibilityOutcome::ShowFailed:
                    item.Visible = false;
                    break;
                case VisibilityOutcome::HideFailedAtMove:
                    item.Visible = true;
                    break;
                case VisibilityOutcome::HideFailedAtDirectory:
                    // The profile keeps whatever it said about this item before.
                    continue;
                default:
                    break;
            }
        }
        unique_hkey record = CreateKey(HKEY_CURRENT_USER, RecordKeyPath(profileKey, item.ID));
        if (record) WriteNumber(record.get(), "Visible", item.Visible ? 1 : 0);
    }
    hidden.reset();
    WriteLastResolution();
    if (apply) {
        NotifyDesktopChanged(owner);
        SaveRestorePositions(listView, RestorePositions, owner, TRUE, name.c_str());
    }
}

void ActivateProfile(HWND listView, HWND owner) {
    std::optional<DesktopItemList> list = ReadItemCatalogue();
    if (!list) return;
    const std::string store = PrepareStoreDirectory();
    unique_hkey hidden = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey);
    const std::string name = GetCurrentProfile();
    const std::string profileKey = ProfileKeyPath(name);
    for (DesktopItem& item : *list) {
        unique_hkey record = OpenKeyForReading(HKEY_CURRENT_USER, RecordKeyPath(profileKey, item.ID));
        DWORD visible = 0;
        if (record && ReadNumber(record.get(), "Visible", visible) == ERROR_SUCCESS)
            item.Visible = visible != 0;
        ApplyItemVisibility(item, store, hidden.get());
    }
    hidden.reset();
    NotifyDesktopChanged(owner);
    WriteLastResolution();
    SaveRestorePositions(listView, RestorePositions, owner, TRUE, name.c_str());
}

void ReleaseHiddenItems(HWND listView) {
    // From outside the shell (nobody could reach it) the shell may be hung: that must not hold the caller.
    if (HWND agent = FindWindowA(nullptr, kAgentWindowTitle))
        SendMessageTimeoutA(agent, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kAgentAnswerTimeoutMs, nullptr);
    DesktopItemList list = BuildItemCatalogue(nullptr);
    for (DesktopItem& item : list) {
        if (item.Movable()) item.Visible = true;
    }
    SaveProfile(listView, nullptr, nullptr, TRUE, &list, true);
    // Only what is empty goes: a file whose move back failed stays in the store with its folders,
    // where the user can still find it.
    const std::string store = HiddenStoreDirectory();
    if (!store.empty() && GetFileAttributesA(store.c_str()) != INVALID_FILE_ATTRIBUTES)
        RemoveEmptyDirectories(store);
}

}  // namespace plx

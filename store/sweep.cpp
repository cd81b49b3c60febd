// The sweep that every action moving items runs first (declared in store/visibility.h).
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/catalogue.h"
#include "store/moves.h"
#include "store/profile_tree.h"
#include "store/store_lock.h"
#include "store/store_security.h"
#include "store/visibility.h"
#include "win32/long_path.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// Paths as the file system tells them apart.
using PathSet = std::set<std::wstring, NoCaseOrdinalLess>;

bool Exists(const std::string& path) {
    return GetFileAttributesW(FileApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ParentOf(const std::string& path) {
    const size_t lastSlash = path.find_last_of('\\');
    return lastSlash == std::string::npos ? std::string() : path.substr(0, lastSlash);
}

// An entry whose move between volumes was cut short, or finished without a sweep since: the move is
// finished or undone, and the entry then says where the item is. A source that cannot be deleted yet,
// or a staging copy that cannot go yet, keeps "Moving" for the next sweep.
// False when the item stays unsettled.
bool SettleEntry(HKEY hiddenItems, const std::string& name, DWORD moving, const std::string& desktop,
                 const std::string& stored) {
    const bool intoStore = (moving & 0xF) == kMovingIntoStore;
    const MovePhase phase = (moving & kMovingPlaced)    ? MovePhase::Placed
                            : (moving & kMovingCopying) ? MovePhase::Copying
                                                        : MovePhase::Unknown;
    const MoveRecord record = [&](MovePhase next) { return RecordPhase(hiddenItems, name, intoStore, next); };
    const MoveResult result = intoStore ? SettleMoveAcrossVolumes(desktop, stored, phase, record)
                                        : SettleMoveAcrossVolumes(stored, desktop, phase, record);
    if (result == MoveResult::Split) return false;
    // Both: the stored file keeps its entry, whichever of the two it is.
    const bool inStore = result == MoveResult::Both || (result == MoveResult::Arrived) == intoStore;
    if (!inStore) {
        DeleteKeyTree(hiddenItems, name);
        return true;
    }
    if (unique_hkey entry = OpenKeyForWriting(hiddenItems, name))
        RegDeleteValueW(entry.get(), ToWide(kMovingValue).c_str());
    return true;
}

// A file in the store that no complete entry names (left by an older version that moved first and
// recorded afterwards, or put there by hand) gets its entry back rather than being moved to the
// desktop: nothing moves, so nothing can meet what stands at its desktop path, and no move between
// volumes is needed in the middle of a sweep. Listed again, the item is what the action that runs the
// sweep then applies the profile to: activation shows it if the profile does, the release brings it
// back. Its ID is the catalogue's for its desktop path, or a new one.
void AdoptStoredFile(HKEY hiddenItems, const std::string& desktopPath, const std::string& storedPath) {
    if (!IsPlainFullPath(desktopPath)) return;
    const std::string keyName = ItemKeyName(desktopPath);
    DesktopItem item;
    item.DesktopPath = desktopPath;
    if (unique_hkey known = OpenKeyForReading(HKEY_CURRENT_USER, std::string(kItemsKey) + "\\" + keyName)) {
        ReadString(known.get(), "DisplayName", item.DisplayName);
        ReadString(known.get(), "TypeName", item.TypeName);
    }
    if (item.DisplayName.empty()) item.DisplayName = SplitPath(desktopPath).fileName;
    if (item.TypeName.empty()) {
        SHFILEINFOW info = {};
        if (SHGetFileInfoW(ToWide(storedPath).c_str(), 0, &info, sizeof(info), SHGFI_TYPENAME))
            item.TypeName = ToUtf8(info.szTypeName);
    }
    DWORD id = 0;
    unique_hkey entry = OpenKeyForReading(hiddenItems, keyName);
    if (entry && ReadNumber(entry.get(), "ID", id) == ERROR_SUCCESS)
        item.ID = static_cast<int>(id);
    else
        item.ID = CatalogueIdFor(desktopPath, item.DisplayName, item.TypeName);
    entry.reset();
    if (item.ID >= 0) WriteHiddenEntry(hiddenItems, keyName, item);
}

// A desktop folder's mirror in the store, held as a move's folders are, and what it held when listed.
struct Mirror {
    std::string folder, path;
    HeldFolders held;
    std::vector<std::pair<std::string, DWORD>> entries;
};

// The mirrors of the desktop folders that are the user's own: one that is a link, or a folder that
// another user made, is not read.
std::vector<Mirror> ListMirrors(const std::string& store) {
    PathSet folders;
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0])
            folders.insert(path);
    }
    std::vector<Mirror> mirrors;
    for (const std::wstring& folder : folders) {
        Mirror mirror;
        mirror.folder = ToUtf8(folder);
        mirror.path = ParentOf(StorePathFor(store, mirror.folder + "\\x"));
        const std::wstring chain = ToWide(SplitPath(mirror.folder + "\\x").directory);
        if (mirror.held.Hold(ToWide(store), chain, false) != StoreFolderCheck::Held) continue;
        mirror.entries = FolderEntries(mirror.path);
        mirrors.push_back(std::move(mirror));
    }
    return mirrors;
}

}  // namespace

bool SweepHiddenStore(std::optional<DesktopItemList>* stored, bool* unsettled) {
    if (unsettled) *unsettled = false;
    StoreLock lock;
    if (!lock.Held()) return false;
    const std::string store = HiddenStoreDirectory();
    if (store.empty() || !Exists(store)) return true;
    unique_hkey hidden = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey);
    if (!hidden) return true;
    std::vector<std::string> names;
    // Only a walk that saw every entry tells which stored files have none, and lists every stored item.
    const bool sawEveryEntry = ForEachSubkey(hidden.get(), [&](const std::string& name) {
                                   names.push_back(name);
                                   return true;
                               }) == ERROR_SUCCESS;

    PathSet named;            // places in the store that a complete entry names
    DesktopItemList listing;  // the stored items, as the entries are left
    listing.reserve(names.size());
    // The desktop folders' own mirrors, held and listed once. Only these are searched for stored files
    // without an entry: what lies elsewhere in the store cannot be told from the mirror directories of
    // a deeper folder. Their listings also tell which entries' files are there, each with no look-up
    // of its own; a file they do not show is looked up still.
    std::vector<Mirror> mirrors = ListMirrors(store);
    PathSet listed;
    for (const Mirror& mirror : mirrors)
        for (const auto& found : mirror.entries) listed.insert(ToWide(mirror.path + "\\" + found.first));
    const auto there = [&](const std::string& path) { return listed.count(ToWide(path)) || Exists(path); };
    bool settled = false;  // the listings may be out of date
    for (const std::string& name : names) {
        DesktopItem item = StoredItem(name, store);
        const std::string& desktop = item.DesktopPath;
        const std::string& stored = item.Path;
        // No move takes an item whose paths are not plain: it is not listed either.
        if (!IsPlainFullPath(desktop)) continue;
        unique_hkey entry = OpenKeyForReading(hidden.get(), name);
        if (!entry) continue;
        // An entry of three values with an "ID" is one written whole, without "Moving": every writer
        // here writes "ID", "DisplayName" and "TypeName" first and adds "Moving" only to a whole entry.
        // Its ID is all the sweep needs from it: one request where "Moving" and both names took three.
        DWORD values = 0, id = 0, moving = 0;
        const bool whole = RegQueryInfoKeyW(entry.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                           values == 3 && ReadNumber(entry.get(), "ID", id) == ERROR_SUCCESS;
        if (!whole && ReadNumber(entry.get(), kMovingValue, moving) == ERROR_SUCCESS &&
            ((moving & 0xF) == kMovingIntoStore || (moving & 0xF) == kMovingToDesktop)) {
            // The sweep deletes in the store only through folders checked and held as a move's are. A
            // missing folder holds nothing of the item: the settling then only finds where it is.
            HeldFolders held;
            const std::wstring chain = ToWide(SplitPath(desktop).directory);
            // Not listed either: no move goes through such a folder.
            if (held.Hold(ToWide(store), chain, false) == StoreFolderCheck::Refused) continue;
            if (!SettleEntry(hidden.get(), name, moving, desktop, stored) && unsettled) *unsettled = true;
            settled = true;
            entry = OpenKeyForReading(hidden.get(), name);
            if (!entry || !Exists(stored)) continue;
        } else if (!there(stored)) {
            // The file never left the desktop, or came back before its entry went. An entry whose
            // file is in neither place stays, as it always did.
            entry.reset();
            if (Exists(desktop)) DeleteKeyTree(hidden.get(), name);
            continue;
        }
        if (whole) item.ID = static_cast<int>(id);
        const HiddenEntryRead read = whole ? HiddenEntryRead::Complete : ReadHiddenEntry(entry.get(), item);
        if (read == HiddenEntryRead::Complete) named.insert(ToWide(stored));
        if (read != HiddenEntryRead::NoId) listing.push_back(std::move(item));
    }

    if (!sawEveryEntry) return true;
    for (Mirror& mirror : mirrors) {
        if (settled) mirror.entries = FolderEntries(mirror.path);
        const std::string& folder = mirror.folder;
        for (const auto& found : mirror.entries) {
            const std::string storedPath = mirror.path + "\\" + found.first;
            if ((found.second & FILE_ATTRIBUTE_REPARSE_POINT) || IsStagingPath(storedPath) ||
                named.count(ToWide(storedPath)))
                continue;
            const std::string desktop = folder + "\\" + found.first;
            AdoptStoredFile(hidden.get(), desktop, storedPath);
            // Listed as its entry now says, in place of what an incomplete entry said.
            const std::string keyName = ItemKeyName(desktop);
            for (auto it = listing.begin(); it != listing.end(); ++it)
                if (!CompareNoCaseOrdinal(it->Path, storedPath)) {
                    listing.erase(it);
                    break;
                }
            DesktopItem item = StoredItem(keyName, store);
            unique_hkey entry = OpenKeyForReading(hidden.get(), keyName);
            if (entry && IsPlainFullPath(desktop) &&
                ReadHiddenEntry(entry.get(), item) != HiddenEntryRead::NoId)
                listing.push_back(std::move(item));
        }
    }
    if (stored) *stored = std::move(listing);
    return true;
}

}  // namespace plx

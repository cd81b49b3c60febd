#include "store/catalogue.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <set>

#include "win32/module.h"
#include "store/cloud_files.h"
#include "store/moves.h"
#include "store/profile_tree.h"
#include "store/store_lock.h"
#include "win32/long_path.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

std::string ReplaceCharacter(const std::string& text, char from, char to, UINT codePage) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<BYTE>(text[i]);
        if (IsDBCSLeadByteEx(codePage, byte) && i + 1 < text.size()) {
            out += text[i];
            out += text[++i];
            continue;
        }
        out += text[i] == from ? to : text[i];
    }
    return out;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(FileApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ReadFlag(HKEY key, const char* name, bool& field) {
    DWORD value = 0;
    if (ReadNumber(key, name, value) == ERROR_SUCCESS) field = value != 0;
}

// Walks the entries of "Items" or "HiddenItems"; entries without a readable "ID" are passed over.
// visit gets the key name, the open entry and a new item that carries the ID. Returns the walk's
// status: anything but ERROR_SUCCESS means that some entries were not seen.
template <typename Visit>
LONG ForEachItemEntry(HKEY key, Visit visit) {
    return ForEachSubkey(key, [&](const std::string& name) {
        unique_hkey entry = OpenKeyForReading(key, name);
        DWORD id = 0;
        if (!entry || ReadNumber(entry.get(), "ID", id) != ERROR_SUCCESS) return true;
        DesktopItem item;
        item.ID = static_cast<int>(id);
        visit(name, entry.get(), item);
        return true;
    });
}

// IDs are never handed out twice: a new one starts above every ID stored under "Items" and under
// "HiddenItems", whatever "NextID" says (missing, of another type, or behind after a restore of part
// of the tree, or after an unregistration that kept only what describes the stored items). Nothing
// when either walk could not be finished: no ID is then known to be free.
std::optional<DWORD> NextFreeId(HKEY catalogue) {
    DWORD next = 0;
    if (ReadNumber(catalogue, "NextID", next) != ERROR_SUCCESS) next = 0;
    auto above = [&](const std::string&, HKEY, const DesktopItem& item) {
        const DWORD id = static_cast<DWORD>(item.ID);
        if (id >= next && id < 0x7FFFFFFFu) next = id + 1;
    };
    if (ForEachItemEntry(catalogue, above) != ERROR_SUCCESS) return std::nullopt;
    LONG status = ERROR_SUCCESS;
    unique_hkey hidden = OpenKeyForReading(HKEY_CURRENT_USER, kHiddenItemsKey, &status);
    if (!hidden) {
        if (status == ERROR_FILE_NOT_FOUND) return next;
        return std::nullopt;
    }
    if (ForEachItemEntry(hidden.get(), above) != ERROR_SUCCESS) return std::nullopt;
    return next;
}

// The shell hands names back in one of three forms; StrRetToStrW takes each (and frees the shell's
// copy). A name is taken only when its UTF-8 form leads back to exactly the same name: one with a lone
// surrogate (which a file name may hold) would lead to another file, whose key, ID and moves it would
// then share.
bool StrRetToString(STRRET& value, LPCITEMIDLIST pidl, std::string& out) {
    LPWSTR wide = nullptr;
    if (FAILED(StrRetToStrW(&value, pidl, &wide)) || !wide) return false;
    unique_cotaskmem owned(wide);
    std::string text = ToUtf8(wide);
    if (ToWide(text) != wide) return false;
    out = std::move(text);
    return true;
}

// The entry an earlier version made for desktopPath, under the spelling it wrote paths in
// (LegacySpelling), moved to keyName, the exact one: the item keeps its ID, and with it its visibility
// in every profile. Not taken while anything stands at the path that spelling names, on the desktop or
// in the store: the entry is then that item's own. The moved entry, open for writing; none when there
// was nothing to move or it could not be moved.
unique_hkey AdoptLegacyEntry(HKEY catalogue, const std::string& desktopPath, const std::string& keyName) {
    const std::string legacyPath = LegacySpelling(desktopPath);
    if (legacyPath.empty() || Exists(legacyPath) || Exists(StorePathFor(legacyPath))) return {};
    const std::string legacyKey = ItemKeyName(legacyPath);
    unique_hkey legacy = OpenKeyForReading(catalogue, legacyKey);
    DWORD id = 0;
    if (!legacy || ReadNumber(legacy.get(), "ID", id) != ERROR_SUCCESS) return {};
    unique_hkey entry = CreateKey(catalogue, keyName);
    if (!entry) return {};
    // Copied whole before the old entry goes: an end in between leaves the ID under both names, never
    // under neither.
    if (RegCopyTreeW(legacy.get(), nullptr, entry.get()) != ERROR_SUCCESS) {
        entry.reset();
        DeleteKeyTree(catalogue, keyName);
        return {};
    }
    legacy.reset();
    DeleteKeyTree(catalogue, legacyKey);
    return entry;
}

}  // namespace

std::string ItemKeyName(const std::string& path, UINT codePage) {
    return ReplaceCharacter(path, '\\', '>', codePage);
}

std::string PathFromKeyName(const std::string& keyName, UINT codePage) {
    return ReplaceCharacter(keyName, '>', '\\', codePage);
}

SplitDesktopPath SplitPath(const std::string& path) {
    SplitDesktopPath parts;
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        start = 2;
    }
    const size_t lastSlash = path.find_last_of('\\');
    if (lastSlash == std::string::npos || lastSlash < start) {
        parts.fileName = path.substr(start);
    } else {
        parts.directory = path.substr(start, lastSlash + 1 - start);
        parts.fileName = path.substr(lastSlash + 1);
    }
    return parts;
}

bool IsPlainFullPath(const std::string& path, size_t longest) {
    if (path.size() < 4 || path[1] != ':' || path[2] != '\\') return false;
    const auto drive = static_cast<unsigned char>(path[0]);
    if (drive >= 0x80 || !IsCharAlphaW(static_cast<wchar_t>(drive))) return false;
    if (CharCount(path) >= longest) return false;
    size_t begin = 3;
    for (;;) {
        const size_t end = path.find('\\', begin);
        const std::string part =
            path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        // Windows also drops trailing dots and spaces, so "..." or ". ." would walk upwards too.
        if (part.empty() || part.find_first_not_of(". ") == std::string::npos) return false;
        if (part.find_first_of("/:*?\"<>|") != std::string::npos) return false;
        if (end == std::string::npos) return true;
        begin = end + 1;
    }
}

std::string HiddenStoreDirectory(const std::string& modulePath) {
    if (modulePath.empty()) return {};
    const size_t lastSlash = modulePath.find_last_of('\\');
    const std::string directory =
        lastSlash == std::string::npos ? std::string() : modulePath.substr(0, lastSlash + 1);
    return directory + "Hidden";
}

std::string StoreDirectoryFor(const std::string& moduleFolder, const std::vector<std::string>& programFolders,
                              const std::string& dataFolder) {
    if (moduleFolder.empty()) return {};
    // Every user's folders in the store would otherwise lie where the default rules of application
    // control (AppLocker, WDAC, software restriction) let every program run: below Program Files.
    // Below the program data folder they run nothing by default.
    if (!dataFolder.empty()) {
        for (const std::string& programs : programFolders) {
            if (programs.empty() || moduleFolder.size() <= programs.size() ||
                moduleFolder[programs.size()] != '\\')
                continue;
            if (CompareNoCaseOrdinal(ToWide(moduleFolder.substr(0, programs.size())), ToWide(programs)) == 0)
                return dataFolder + kMachineStoreChain;
        }
    }
    return moduleFolder + (moduleFolder.back() == '\\' ? "Hidden" : "\\Hidden");
}

namespace {

// A folder as the file system names it, known by a path that may be spelled otherwise.
std::string NamedByFileSystem(const std::wstring& folder) {
    if (folder.empty()) return {};
    return ToUtf8(CanonicalFolder(folder + L"\\."));
}

}  // namespace

std::vector<std::string> MachineProgramFolders() {
    // From the 64-bit view: a 32-bit module on 64-bit Windows is given the 32-bit folder as Program
    // Files, and the store must not depend on which build asks.
    std::vector<std::string> folders;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) != ERROR_SUCCESS)
        return folders;
    unique_hkey key(raw);
    for (const wchar_t* name : {L"ProgramFilesDir", L"ProgramFilesDir (x86)"}) {
        wchar_t folder[MAX_PATH] = {};
        DWORD size = sizeof(folder);
        if (RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, folder, &size) != ERROR_SUCCESS)
            continue;
        const std::string named = NamedByFileSystem(folder);
        if (!named.empty()) folders.push_back(named);
    }
    return folders;
}

std::string MachineDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return {};
    return NamedByFileSystem(folder);
}

std::string HiddenStoreDirectory() {
    // The machine's folders do not move while the system runs.
    static const std::vector<std::string> programs = MachineProgramFolders();
    static const std::string data = MachineDataFolder();
    return StoreDirectoryFor(ModuleFolder(), programs, data);
}

std::string StorePathFor(const std::string& storeDirectory, const std::string& desktopPath) {
    const SplitDesktopPath parts = SplitPath(desktopPath);
    return storeDirectory + parts.directory + parts.fileName;
}

std::string StorePathFor(const std::string& desktopPath) {
    return StorePathFor(HiddenStoreDirectory(), desktopPath);
}

DesktopItem StoredItem(const std::string& keyName, const std::string& storeDirectory) {
    DesktopItem item;
    item.DesktopPath = PathFromKeyName(keyName);
    item.Path = StorePathFor(storeDirectory, item.DesktopPath);
    item.Visible = false;
    return item;
}

HiddenEntryRead ReadHiddenEntry(HKEY entry, DesktopItem& item) {
    DWORD id = 0;
    if (ReadNumber(entry, "ID", id) != ERROR_SUCCESS) return HiddenEntryRead::NoId;
    item.ID = static_cast<int>(id);
    const bool named = ReadString(entry, "DisplayName", item.DisplayName) == ERROR_SUCCESS;
    const bool typed = ReadString(entry, "TypeName", item.TypeName) == ERROR_SUCCESS;
    return named && typed ? HiddenEntryRead::Complete : HiddenEntryRead::Incomplete;
}

bool AppendHiddenItems(DesktopItemList& items, bool withIcons) {
    const std::string store = HiddenStoreDirectory();
    if (store.empty()) return true;
    LONG status = ERROR_SUCCESS;
    unique_hkey hidden = OpenKeyForReading(HKEY_CURRENT_USER, kHiddenItemsKey, &status);
    if (!hidden) return status == ERROR_FILE_NOT_FOUND;
    return ForEachSubkey(hidden.get(), [&](const std::string& name) {
               DesktopItem item = StoredItem(name, store);
               unique_hkey entry = OpenKeyForReading(hidden.get(), name);
               if (!entry || !Exists(item.Path) ||
                   ReadHiddenEntry(entry.get(), item) == HiddenEntryRead::NoId)
                   return true;
               if (withIcons) {
                   SHFILEINFOW info = {};
                   if (SHGetFileInfoW(ToWide(item.Path).c_str(), 0, &info, sizeof(info),
                                      SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
                       item.IconIndex = info.iIcon;
               }
               items.push_back(std::move(item));
               return true;
           }) == ERROR_SUCCESS;
}

DesktopItemList BuildItemCatalogue(HWND owner, HIMAGELIST* imageList) {
    DesktopItemList items;
    unique_hkey catalogue = CreateKey(HKEY_CURRENT_USER, kItemsKey);
    if (!catalogue) return items;
    // IDs are handed out under the store's lock: a dialog, an import, the shell and another session of
    // the user each list the desktop, and two of them reading "NextID" at once would give two items one
    // ID. Without the lock no ID is known to be free: new items wait for the next list.
    std::optional<StoreLock> lock;
    lock.emplace();
    std::optional<DWORD> nextId = lock->Held() ? NextFreeId(catalogue.get()) : std::nullopt;

    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put())) || !desktop) return items;
    ComPtr<IEnumIDList> enumerator;
    const HRESULT hr = desktop->EnumObjects(
        owner, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, enumerator.put());
    // S_FALSE with no enumerator is the shell's way of saying there is nothing to list.
    if (hr != S_OK || !enumerator) return items;
    CloudSyncRoots syncRoots;

    for (;;) {
        LPITEMIDLIST raw = nullptr;
        if (enumerator->Next(1, &raw, nullptr) != S_OK) break;
        unique_cotaskmem owned(raw);
        LPCITEMIDLIST pidl = raw;

        STRRET parsing = {}, normal = {};
        std::string parsingName, displayName;
        if (FAILED(desktop->GetDisplayNameOf(pidl, SHGDN_FORPARSING, &parsing)) ||
            !StrRetToString(parsing, pidl, parsingName))
            continue;
        if (FAILED(desktop->GetDisplayNameOf(pidl, SHGDN_NORMAL, &normal)) ||
            !StrRetToString(normal, pidl, displayName))
            continue;

        // The copy of a move between volumes, while it grows (or left by an end of the process until
        // the next sweep), is no item of its own.
        if (IsStagingPath(parsingName)) continue;
        DesktopItem item;
        item.Path = item.DesktopPath = parsingName;
        item.DisplayName = displayName;
        SFGAOF attributes = SFGAO_FILESYSTEM | SFGAO_HIDDEN | SFGAO_CANMOVE;
        if (SUCCEEDED(desktop->GetAttributesOf(1, &pidl, &attributes))) {
            item.VirtualFolder = !(attributes & SFGAO_FILESYSTEM);
            item.Visible = !(attributes & SFGAO_HIDDEN);
            if (!item.VirtualFolder) item.SpecialFolder = !(attributes & SFGAO_CANMOVE);
        }
        if (!item.VirtualFolder && !item.SpecialFolder)
            item.CloudSynced = IsCloudSynced(item.DesktopPath, syncRoots);
        SHFILEINFOW info = {};
        const DWORD_PTR images =
            SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info, sizeof(info),
                           SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_TYPENAME | SHGFI_SMALLICON);
        if (images) {
            if (imageList) *imageList = reinterpret_cast<HIMAGELIST>(images);
            item.IconIndex = info.iIcon;
            item.TypeName = ToUtf8(info.szTypeName);
        }

        const std::string keyName = ItemKeyName(item.DesktopPath);
        if (keyName.empty() || CharCount(keyName) > kMaxKeyNameChars) continue;
        DWORD id = 0;
        unique_hkey known = OpenKeyForWriting(catalogue.get(), keyName);
        if (!known) known = AdoptLegacyEntry(catalogue.get(), item.DesktopPath, keyName);
        const bool hasId = known && ReadNumber(known.get(), "ID", id) == ERROR_SUCCESS;
        // A new item waits for the next catalogue when no ID is known to be free.
        if (!hasId && !nextId) continue;
        unique_hkey entry = known ? std::move(known) : CreateKey(catalogue.get(), keyName);
        if (!entry) continue;
        if (hasId) {
            item.ID = static_cast<int>(id);
        } else {
            item.ID = static_cast<int>((*nextId)++);
            WriteNumber(entry.get(), "ID", static_cast<DWORD>(item.ID));
            WriteNumber(entry.get(), "Visible", item.Visible ? 1 : 0);
            WriteNumber(entry.get(), "SpecialFolder", item.SpecialFolder ? 1 : 0);
            WriteNumber(entry.get(), "VirtualFolder", item.VirtualFolder ? 1 : 0);
        }
        WriteString(entry.get(), "DisplayName", item.DisplayName);
        WriteString(entry.get(), "TypeName", item.TypeName);
        items.push_back(std::move(item));
    }
    if (nextId) WriteNumber(catalogue.get(), "NextID", *nextId);
    catalogue.reset();
    lock.reset();
    // Stored items whose entries could not be read are not listed: whatever is done with the list
    // leaves them where they are, in the store, found again by the next list.
    AppendHiddenItems(items, true);
    return items;
}

int CatalogueIdFor(const std::string& desktopPath, const std::string& displayName,
                   const std::string& typeName) {
    const std::string keyName = ItemKeyName(desktopPath);
    if (keyName.empty() || CharCount(keyName) > kMaxKeyNameChars) return -1;
    // Looked up and handed out under the store's lock (see BuildItemCatalogue).
    StoreLock lock;
    if (!lock.Held()) return -1;
    unique_hkey catalogue = CreateKey(HKEY_CURRENT_USER, kItemsKey);
    if (!catalogue) return -1;
    unique_hkey known = OpenKeyForReading(catalogue.get(), keyName);
    if (!known) known = AdoptLegacyEntry(catalogue.get(), desktopPath, keyName);
    if (unique_hkey entry = std::move(known)) {
        DWORD id = 0;
        if (ReadNumber(entry.get(), "ID", id) == ERROR_SUCCESS) return static_cast<int>(id);
    }
    // No ID is handed out while the stored ones cannot all be read.
    const std::optional<DWORD> next = NextFreeId(catalogue.get());
    if (!next) return -1;
    const DWORD id = *next;
    unique_hkey entry = CreateKey(catalogue.get(), keyName);
    if (!entry || WriteNumber(entry.get(), "ID", id) != ERROR_SUCCESS) return -1;
    WriteNumber(catalogue.get(), "NextID", id + 1);
    WriteNumber(entry.get(), "Visible", 0);
    WriteNumber(entry.get(), "SpecialFolder", 0);
    WriteNumber(entry.get(), "VirtualFolder", 0);
    WriteString(entry.get(), "DisplayName", displayName);
    WriteString(entry.get(), "TypeName", typeName);
    return static_cast<int>(id);
}

std::optional<DesktopItemList> ReadItemCatalogue(bool withIcons) {
    unique_hkey catalogue = OpenKeyForReading(HKEY_CURRENT_USER, kItemsKey);
    if (!catalogue) return std::nullopt;
    DesktopItemList items;
    const LONG walked =
        ForEachItemEntry(catalogue.get(), [&](const std::string& name, HKEY entry, DesktopItem& item) {
            item.Path = item.DesktopPath = PathFromKeyName(name);
            ReadFlag(entry, "Visible", item.Visible);
            ReadFlag(entry, "SpecialFolder", item.SpecialFolder);
            ReadFlag(entry, "VirtualFolder", item.VirtualFolder);
            // A name too long for the buffer is left empty rather than cut: it is only shown, never a key.
            ReadString(entry, "DisplayName", item.DisplayName);
            ReadString(entry, "TypeName", item.TypeName);
            items.push_back(std::move(item));
        });
    catalogue.reset();
    // A profile applied to part of the catalogue would show and hide by a list that is not the
    // desktop's: nothing when either walk could not be finished.
    if (walked != ERROR_SUCCESS || !AppendHiddenItems(items, withIcons)) return std::nullopt;
    return items;
}

std::optional<DesktopItemList> ReadItemsToApply(HKEY profileKey, const DesktopItemList& stored) {
    unique_hkey catalogue = OpenKeyForReading(HKEY_CURRENT_USER, kItemsKey);
    if (!catalogue) return std::nullopt;
    // The profile's word on an item; false, with the item unchanged, where it has none.
    auto applyProfile = [&](DesktopItem& item) {
        if (!profileKey) return false;
        unique_hkey record = OpenKeyForReading(profileKey, std::to_string(item.ID));
        DWORD visible = 0;
        if (!record || ReadNumber(record.get(), "Visible", visible) != ERROR_SUCCESS) return false;
        item.Visible = visible != 0;
        return true;
    };
    // Only an item of a desktop folder is hidden: a catalogue entry elsewhere names what the desktop
    // once showed (a Desktop folder the user moved, whose old files stay where they were), and its
    // file is not the desktop's to move.
    std::set<std::wstring, NoCaseOrdinalLess> desktops;
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0])
            desktops.insert(path);
    }
    const auto onADesktop = [&](const std::string& path) {
        const size_t lastSlash = path.find_last_of('\\');
        return lastSlash != std::string::npos && desktops.count(ToWide(path.substr(0, lastSlash)));
    };
    // Key names as the registry tells them apart.
    std::set<std::wstring, NoCaseOrdinalLess> inStore;
    for (const DesktopItem& item : stored) inStore.insert(ToWide(ItemKeyName(item.DesktopPath)));

    DesktopItemList items;
    const LONG walked = ForEachSubkey(catalogue.get(), [&](const std::string& name) {
        if (inStore.count(ToWide(name))) return true;
        unique_hkey entry = OpenKeyForReading(catalogue.get(), name);
        DWORD id = 0;
        if (!entry || ReadNumber(entry.get(), "ID", id) != ERROR_SUCCESS) return true;
        DesktopItem item;
        item.ID = static_cast<int>(id);
        item.Path = item.DesktopPath = PathFromKeyName(name);
        if (!applyProfile(item)) ReadFlag(entry.get(), "Visible", item.Visible);
        if (item.Visible) return true;
        ReadFlag(entry.get(), "SpecialFolder", item.SpecialFolder);
        ReadFlag(entry.get(), "VirtualFolder", item.VirtualFolder);
        if (!item.Movable() || !onADesktop(item.DesktopPath)) return true;
        // Written into the item's entry in "HiddenItems" when it goes.
        ReadString(entry.get(), "DisplayName", item.DisplayName);
        ReadString(entry.get(), "TypeName", item.TypeName);
        items.push_back(std::move(item));
        return true;
    });
    if (walked != ERROR_SUCCESS) return std::nullopt;
    for (DesktopItem item : stored) {
        applyProfile(item);
        if (item.Visible) items.push_back(std::move(item));
    }
    return items;
}

}  // namespace plx

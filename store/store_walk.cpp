#include "store/store_walk.h"

#include <sddl.h>
#include <shlobj.h>

#include "store/moves.h"
#include "store/store_lock.h"
#include "store/store_security.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// Empties the folder held by the handle from the bottom up, deleting files only when told to, and
// then removes it unless it is kept; whatever cannot go keeps its folder in place. keep: the chain of
// folders below this one that stay, even empty (the store's shared folders). Every entry is opened without
// following a reparse point and checked to be the entry that was listed, and removed through that
// handle; the folders above stay open without delete sharing meanwhile, so nothing swapped in while
// the walk runs can lead it out of the tree. A junction or symbolic link is neither followed nor
// removed, and the folder that holds it stays.
void EmptyAndRemove(HANDLE folder, const std::wstring& path, bool deleteFiles, bool remove,
                    const std::vector<std::wstring>& keep) {
    const std::wstring final = FinalPath(folder);
    for (const FolderEntry& entry : ListFolder(folder)) {
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!directory && !deleteFiles) continue;
        const std::wstring child = path + L"\\" + entry.name;
        unique_hfile handle = OpenNoFollow(child, DELETE | (directory ? FILE_LIST_DIRECTORY : 0));
        if (!handle || !IsEntryOf(handle.get(), final, entry.name, directory)) continue;
        if (directory) {
            const bool kept = !keep.empty() && CompareNoCaseOrdinal(entry.name, keep.front()) == 0;
            EmptyAndRemove(
                handle.get(), child, deleteFiles, !kept,
                kept ? std::vector<std::wstring>(keep.begin() + 1, keep.end()) : std::vector<std::wstring>());
        } else {
            DeleteByHandle(handle.get());
        }
    }
    if (remove) DeleteByHandle(folder);
}

// The pieces of "\a\b c\" that end in a backslash: "a", "b c".
std::vector<std::wstring> Pieces(const std::wstring& chain) {
    std::vector<std::wstring> pieces;
    for (size_t begin = 0, end; (end = chain.find(L'\\', begin)) != std::wstring::npos; begin = end + 1)
        if (end > begin) pieces.push_back(chain.substr(begin, end - begin));
    return pieces;
}

// The folder itself, held: no reparse point, and a folder.
unique_hfile OpenFolderItself(const std::wstring& path, DWORD access) {
    unique_hfile handle = OpenNoFollow(path, access);
    DWORD attributes = 0;
    if (!handle || !AttributesOf(handle.get(), attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return unique_hfile();
    return handle;
}

// keepChain: shared folders below path that stay even when empty ("\Users\"); path itself goes when
// nothing is kept.
void RemoveDirectoryContents(const std::wstring& path, bool deleteFiles, const std::wstring& keepChain = {}) {
    std::wstring folder = path;
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (folder.empty()) return;
    unique_hfile handle = OpenFolderItself(folder, DELETE | FILE_LIST_DIRECTORY);
    if (!handle) return;
    const std::vector<std::wstring> keep = Pieces(keepChain);
    EmptyAndRemove(handle.get(), folder, deleteFiles, keep.empty(), keep);
}

std::vector<BYTE> SidBytes(const std::wstring& text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &sid)) return {};
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    std::vector<BYTE> copy(bytes, bytes + GetLengthSid(sid));
    LocalFree(sid);
    return copy;
}

bool IsDrivePath(const std::wstring& path) {
    return path.size() > 3 && path[1] == L':' && path[2] == L'\\' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// Brings back what is stored in the desktop's mirror, item by item. This may run as an administrator
// or SYSTEM through folders that users control, so nothing is done by path: each item is opened
// without following a reparse point and checked to be the entry listed in the held mirror, renamed
// relative to the held desktop folder (never replacing, never to another volume), and its final path
// checked afterwards. A desktop folder turned into a junction after it was checked (setting one needs
// no more than the right to write attributes, which holding it does not stop) could still lead the
// rename elsewhere, where the redirection policy is missing: the item then goes back into the store,
// by the held mirror's handle. Whatever cannot come back stays in the store.
void ReturnToDesktop(const std::wstring& store, const DesktopFolder& desktop) {
    if (!IsDrivePath(desktop.path)) return;
    // The store mirrors the desktop's folders without the drive letter.
    const std::wstring chain = desktop.path.substr(2) + L"\\";
    OwnerRule owners;
    std::vector<BYTE> owner = desktop.ownerSid;
    if (!owner.empty() && IsValidSid(owner.data())) owners.alsoTrusted = owner.data();
    HeldFolders stored;
    if (stored.Hold(store, chain, false, DELETE | FILE_LIST_DIRECTORY, owners) != StoreFolderCheck::Held)
        return;
    // The desktop's own folders belong to their users, whoever owns them; none may be a reparse point.
    HeldFolders onDesktop;
    if (onDesktop.Hold(desktop.path.substr(0, 3), chain.substr(1), false, 0, OwnerRule{false}) !=
        StoreFolderCheck::Held)
        return;
    const std::wstring storedFinal = FinalPath(stored.Last());
    const std::wstring desktopFinal = FinalPath(onDesktop.Last());
    if (storedFinal.empty() || desktopFinal.empty()) return;
    for (const FolderEntry& entry : ListFolder(stored.Last())) {
        ReachedStep("returning stored item");
        // A partial copy of an interrupted move between volumes is no item: the owner's own sweep
        // settles it.
        if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsStagingPath(ToUtf8(entry.name))) continue;
        const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        unique_hfile item = OpenNoFollow(stored.LastPath() + L"\\" + entry.name, DELETE);
        if (!item || !IsEntryOf(item.get(), storedFinal, entry.name, directory)) continue;
        if (!RenameInto(item.get(), onDesktop.Last(), entry.name)) continue;
        if (CompareNoCaseOrdinal(FinalPath(item.get()), desktopFinal + L"\\" + entry.name) != 0)
            RenameInto(item.get(), stored.Last(), entry.name);
    }
    stored.RemoveEmptyBelowBase();
}

// Once the store holds nothing but its shared folders (the mirror of the profiles folder, which the
// setup made for all users), they go, and the store with them. While anything else is left they
// stay: users may create folders in the store, and would otherwise own the shared ones next.
void RemoveStoreIfOnlySharedLeft(const std::wstring& store) {
    std::wstring path = store;
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    const std::vector<std::wstring> pieces = Pieces(SharedStoreChain());
    std::vector<unique_hfile> held;
    held.push_back(OpenFolderItself(path, DELETE | FILE_LIST_DIRECTORY));
    if (!held.back()) return;
    for (size_t i = 0;; ++i) {
        const std::vector<FolderEntry> entries = ListFolder(held.back().get());
        if (i == pieces.size() || entries.empty()) {
            if (!entries.empty()) return;
            break;
        }
        if (entries.size() != 1 || CompareNoCaseOrdinal(entries[0].name, pieces[i]) != 0) return;
        const std::wstring parentFinal = FinalPath(held.back().get());
        path += L"\\" + pieces[i];
        unique_hfile next = OpenNoFollow(path, DELETE | FILE_LIST_DIRECTORY);
        if (!next || !IsEntryOf(next.get(), parentFinal, entries[0].name, true)) return;
        held.push_back(std::move(next));
    }
    // Deepest first: a folder goes when its handle closes, and only then is its parent empty.
    while (!held.empty() && DeleteByHandle(held.back().get())) held.pop_back();
}

// The store's own folders on the way to each desktop's mirror, the mirror first, each removed only when
// empty and held as a move holds them (the desktop's owner may own them). The deepest folder of a chain
// that is there is where it starts: a mirror that went leaves its parents. Nothing is walked into: an
// empty folder inside a mirror is a stored item.
void RemoveEmptyChains(std::wstring store, const std::vector<DesktopFolder>& desktops) {
    while (store.size() > 3 && store.back() == L'\\') store.pop_back();
    for (const DesktopFolder& desktop : desktops) {
        if (!IsDrivePath(desktop.path)) continue;
        OwnerRule owners;
        if (!desktop.ownerSid.empty() && IsValidSid(const_cast<BYTE*>(desktop.ownerSid.data())))
            owners.alsoTrusted = const_cast<BYTE*>(desktop.ownerSid.data());
        const std::vector<std::wstring> pieces = Pieces(desktop.path.substr(2) + L"\\");
        for (size_t length = pieces.size(); length > 0; --length) {
            std::wstring chain = L"\\";
            for (size_t i = 0; i < length; ++i) chain += pieces[i] + L"\\";
            HeldFolders held;
            const StoreFolderCheck check =
                held.Hold(store, chain, false, DELETE | FILE_LIST_DIRECTORY, owners);
            if (check == StoreFolderCheck::Missing) continue;
            if (check == StoreFolderCheck::Held) held.RemoveEmptyBelowBase();
            break;
        }
    }
    RemoveStoreIfOnlySharedLeft(store);
}

}  // namespace

void RemoveDirectoryTree(const std::string& path) { RemoveDirectoryContents(ToWide(path), true); }

void RemoveEmptyDirectories(const std::string& store, const std::vector<std::wstring>& desktopFolders) {
    std::vector<DesktopFolder> desktops;
    for (const std::wstring& folder : desktopFolders) desktops.push_back({folder, {}});
    RemoveEmptyChains(ToWide(store), desktops);
}

std::vector<DesktopFolder> MachineDesktopFolders() {
    std::vector<DesktopFolder> desktops;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_READ, &raw) == ERROR_SUCCESS) {
        unique_hkey profiles(raw);
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD length = ARRAYSIZE(name);
            if (RegEnumKeyExW(profiles.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            wchar_t profile[MAX_PATH] = {};
            DWORD size = sizeof(profile);
            if (RegGetValueW(profiles.get(), name, L"ProfileImagePath", RRF_RT_REG_SZ, nullptr, profile,
                             &size) != ERROR_SUCCESS)
                continue;
            std::vector<BYTE> sid = SidBytes(name);
            if (!sid.empty()) desktops.push_back({std::wstring(profile) + L"\\Desktop", std::move(sid)});
        }
    }
    // The desktop of the user who runs this, where it was moved away from the profile's folder.
    wchar_t own[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, own))) {
        bool listed = false;
        for (const DesktopFolder& desktop : desktops)
            listed = listed || CompareNoCaseOrdinal(desktop.path, own) == 0;
        if (!listed) desktops.push_back({own, {}});
    }
    wchar_t common[MAX_PATH] = {};
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, common)))
        desktops.push_back({common, {}});
    return desktops;
}

bool ReturnStoredItems(const std::wstring& store, const std::vector<DesktopFolder>& desktops) {
    if (store.empty()) return true;
    // Every lock before any move, always in the same order: another uninstall takes them in the same
    // order, and every other holder takes one alone.
    std::vector<StoreLock> locks;
    locks.emplace_back();
    for (const DesktopFolder& desktop : desktops) {
        if (desktop.ownerSid.empty()) continue;
        LPWSTR text = nullptr;
        if (!ConvertSidToStringSidW(const_cast<BYTE*>(desktop.ownerSid.data()), &text)) return false;
        unique_hlocal owned(text);
        locks.emplace_back(text);
    }
    for (const StoreLock& lock : locks)
        if (!lock.Held()) return false;
    // Before anything is walked: from here on this process follows no junction or symbolic link that
    // a user without administrator's rights made, where the system knows the policy.
    RefuseUserRedirection();
    for (const DesktopFolder& desktop : desktops) ReturnToDesktop(store, desktop);
    // What is left stays, with the folders that lead to it; nothing in a mirror is taken for a leftover.
    RemoveEmptyChains(store, desktops);
    return true;
}

}  // namespace plx

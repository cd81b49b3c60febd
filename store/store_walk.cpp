#include "store/store_walk.h"

#include <sddl.h>
#include <shlobj.h>

#include "store/store_security.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// Empties the folder held by the handle from the bottom up, deleting files only when told to, and
// then removes it; whatever cannot go keeps its folder in place. Every entry is opened without
// following a reparse point and checked to be the entry that was listed, and removed through that
// handle; the folders above stay open without delete sharing meanwhile, so nothing swapped in while
// the walk runs can lead it out of the tree. A junction or symbolic link is neither followed nor
// removed, and the folder that holds it stays.
void EmptyAndRemove(HANDLE folder, const std::wstring& path, bool deleteFiles) {
    const std::wstring final = FinalPath(folder);
    for (const FolderEntry& entry : ListFolder(folder)) {
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!directory && !deleteFiles) continue;
        const std::wstring child = path + L"\\" + entry.name;
        unique_hfile handle = OpenNoFollow(child, DELETE | (directory ? FILE_LIST_DIRECTORY : 0));
        if (!handle || !IsEntryOf(handle.get(), final, entry.name, directory)) continue;
        if (directory)
            EmptyAndRemove(handle.get(), child, deleteFiles);
        else
            DeleteByHandle(handle.get());
    }
    DeleteByHandle(folder);
}

void RemoveDirectoryContents(const std::wstring& path, bool deleteFiles) {
    std::wstring folder = path;
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (folder.empty()) return;
    unique_hfile handle = OpenNoFollow(folder, DELETE | FILE_LIST_DIRECTORY);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!handle || !GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    EmptyAndRemove(handle.get(), folder, deleteFiles);
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
    for (const FolderEntry& entry : ListFolder(stored.Last())) {
        // A rename: never replaces, never copies to another drive, never follows a link it moves.
        MoveFileExW((stored.LastPath() + L"\\" + entry.name).c_str(),
                    (onDesktop.LastPath() + L"\\" + entry.name).c_str(), 0);
    }
    stored.RemoveEmptyBelowBase();
}

}  // namespace

void RemoveDirectoryTree(const std::string& path) { RemoveDirectoryContents(ToWide(path), true); }

void RemoveEmptyDirectories(const std::string& path) { RemoveDirectoryContents(ToWide(path), false); }

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
    wchar_t common[MAX_PATH] = {};
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, common)))
        desktops.push_back({common, {}});
    return desktops;
}

void ReturnStoredItems(const std::wstring& store, const std::vector<DesktopFolder>& desktops) {
    if (store.empty()) return;
    for (const DesktopFolder& desktop : desktops) ReturnToDesktop(store, desktop);
    // What is left stays, with the folders that lead to it; every empty folder goes, the store too.
    RemoveDirectoryContents(store, false);
}

}  // namespace plx

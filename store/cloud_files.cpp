#include "store/cloud_files.h"

#include <optional>
#include <utility>

#include "store/profile_tree.h"
#include "win32/module.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// Not every SDK has them yet (winnt.h of Windows 10 1709 and later).
constexpr DWORD kRecallOnOpen = 0x00040000;        // FILE_ATTRIBUTE_RECALL_ON_OPEN
constexpr DWORD kPinned = 0x00080000;              // FILE_ATTRIBUTE_PINNED
constexpr DWORD kUnpinned = 0x00100000;            // FILE_ATTRIBUTE_UNPINNED
constexpr DWORD kRecallOnDataAccess = 0x00400000;  // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS

// Where the system lists the sync roots that sync clients register: one key per root, each with
// "UserSyncRoots" whose values (one per user) hold the root's path.
constexpr wchar_t kSyncRootManagerKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SyncRootManager";

// cldapi.dll's CfGetSyncRootInfoByPath (Windows 10 1709 and later): S_OK for a path under a sync root.
FARPROC SyncRootQuery() {
    // Looked up once: the library stays loaded for the life of the process.
    static const FARPROC query = [] {
        HMODULE library = LoadSystemLibrary(L"cldapi.dll");
        // Export names are ANSI by the platform's design: GetProcAddress has no wide form.
        return library ? GetProcAddress(library, "CfGetSyncRootInfoByPath") : nullptr;
    }();
    return query;
}

// path is root or lies below it (compared without regard to case, at a backslash).
bool IsAtOrBelow(const std::string& pathText, const std::string& rootText) {
    const std::wstring path = ToWide(pathText);
    std::wstring root = ToWide(rootText);
    while (root.size() > 3 && root.back() == L'\\') root.pop_back();
    if (root.empty() || path.size() < root.size()) return false;
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), static_cast<int>(root.size()),
                       root.c_str(), static_cast<int>(root.size())) != CSTR_EQUAL)
        return false;
    return path.size() == root.size() || path[root.size()] == L'\\' || root.back() == L'\\';
}

// The paths in the system's own list of sync roots; nothing when the list is there but could not be
// read whole.
std::optional<std::vector<std::string>> RegisteredSyncRoots() {
    std::vector<std::string> found;
    // The list is in the 64-bit view; a 32-bit module on 64-bit Windows would otherwise read its own.
    unique_hkey manager;
    const LONG opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSyncRootManagerKey, 0, KEY_READ | KEY_WOW64_64KEY, manager.put());
    if (opened == ERROR_FILE_NOT_FOUND) return found;
    if (opened != ERROR_SUCCESS) return std::nullopt;
    bool whole = true;
    const LONG walked = ForEachSubkey(manager.get(), [&](const std::string& name) {
        LONG status = ERROR_SUCCESS;
        unique_hkey roots = OpenKeyForReading(manager.get(), name + "\\UserSyncRoots", &status);
        if (!roots) {
            whole = status == ERROR_FILE_NOT_FOUND;
            return whole;
        }
        for (DWORD index = 0;; ++index) {
            wchar_t value[16384];
            DWORD valueLength = ARRAYSIZE(value);
            wchar_t data[MAX_PATH + 1] = {};
            DWORD dataSize = MAX_PATH * sizeof(wchar_t);
            DWORD type = 0;
            const LONG rc = RegEnumValueW(roots.get(), index, value, &valueLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS) return true;
            // A root of MAX_PATH characters or more holds no item that could be hidden: such an item's
            // path would be longer still.
            if (rc == ERROR_MORE_DATA) continue;
            // Any other error comes at every index (a key deleted behind its handle, for one).
            if (rc != ERROR_SUCCESS) {
                whole = false;
                return false;
            }
            if (type == REG_SZ || type == REG_EXPAND_SZ) found.push_back(ToUtf8(data));
        }
    });
    if (walked != ERROR_SUCCESS || !whole) return std::nullopt;
    return found;
}

}  // namespace

CloudSyncRoots::CloudSyncRoots() : query_(reinterpret_cast<GetSyncRootInfoByPath>(SyncRootQuery())) {
    // Without cldapi.dll the sync roots are read from the system's own list of them.
    if (query_) return;
    if (std::optional<std::vector<std::string>> roots = RegisteredSyncRoots())
        roots_ = std::move(*roots);
    else
        rootsKnown_ = false;
}

bool CloudSyncRoots::Contains(const std::string& path, DWORD attributes) {
    const size_t lastSlash = path.find_last_of('\\');
    const bool file = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // "C:\x" lies in the drive's root folder, "C:\"; a file with no folder in its path is asked about
    // itself.
    if (!file || lastSlash == std::string::npos) return Asked(path);
    std::string folder = path.substr(0, lastSlash);
    if (folder.size() == 2 && folder[1] == ':') folder += '\\';
    const auto known = folders_.find(folder);
    if (known != folders_.end()) return known->second;
    const bool contained = Asked(folder);
    folders_.emplace(std::move(folder), contained);
    return contained;
}

bool CloudSyncRoots::Asked(const std::string& path) const {
    if (query_) {
        const std::wstring wide = ToWide(path);
        if (wide.empty()) return false;
        BYTE basic[64] = {};  // CF_SYNC_ROOT_BASIC_INFO: the root's file ID
        DWORD returned = 0;
        return SUCCEEDED(query_(wide.c_str(), 0 /* CF_SYNC_ROOT_INFO_BASIC */, basic, sizeof(basic), &returned));
    }
    // Roots that could not be read may hold any path: nothing is taken out of a cloud unseen.
    if (!rootsKnown_) return true;
    for (const std::string& root : roots_)
        if (IsAtOrBelow(path, root)) return true;
    return false;
}

bool IsCloudPlaceholder(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return (attributes &
            (FILE_ATTRIBUTE_OFFLINE | kRecallOnOpen | kRecallOnDataAccess | kPinned | kUnpinned)) != 0;
}

bool IsCloudSynced(const std::string& path, CloudSyncRoots& roots) {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return IsCloudPlaceholder(attributes) || roots.Contains(path, attributes);
}

bool IsCloudSynced(const std::string& path) {
    CloudSyncRoots roots;
    return IsCloudSynced(path, roots);
}

}  // namespace plx

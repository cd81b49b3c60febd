#include "store/cloud_files.h"

#include "store/profile_tree.h"
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
        HMODULE library = LoadLibraryW(L"cldapi.dll");
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

// The paths in the system's own list of sync roots.
std::vector<std::string> RegisteredSyncRoots() {
    std::vector<std::string> found;
    // The list is in the 64-bit view; a 32-bit module on 64-bit Windows would otherwise read its own.
    unique_hkey manager;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSyncRootManagerKey, 0, KEY_READ | KEY_WOW64_64KEY,
                      manager.put()) != ERROR_SUCCESS)
        return found;
    ForEachSubkey(manager.get(), [&](const std::string& name) {
        unique_hkey roots = OpenKeyForReading(manager.get(), name + "\\UserSyncRoots");
        for (DWORD index = 0; roots; ++index) {
            wchar_t value[256];
            DWORD valueLength = ARRAYSIZE(value);
            wchar_t data[MAX_PATH + 1] = {};
            DWORD dataSize = MAX_PATH * sizeof(wchar_t);
            DWORD type = 0;
            const LONG rc = RegEnumValueW(roots.get(), index, value, &valueLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) found.push_back(ToUtf8(data));
        }
        return true;
    });
    return found;
}

}  // namespace

CloudSyncRoots::CloudSyncRoots() : query_(reinterpret_cast<GetSyncRootInfoByPath>(SyncRootQuery())) {
    // Without cldapi.dll the sync roots are read from the system's own list of them.
    if (!query_) roots_ = RegisteredSyncRoots();
}

bool CloudSyncRoots::Contains(const std::string& path) const {
    if (query_) {
        const std::wstring wide = ToWide(path);
        if (wide.empty()) return false;
        BYTE basic[64] = {};  // CF_SYNC_ROOT_BASIC_INFO: the root's file ID
        DWORD returned = 0;
        return SUCCEEDED(query_(wide.c_str(), 0 /* CF_SYNC_ROOT_INFO_BASIC */, basic, sizeof(basic), &returned));
    }
    for (const std::string& root : roots_)
        if (IsAtOrBelow(path, root)) return true;
    return false;
}

bool IsCloudPlaceholder(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return (attributes &
            (FILE_ATTRIBUTE_OFFLINE | kRecallOnOpen | kRecallOnDataAccess | kPinned | kUnpinned)) != 0;
}

bool IsCloudSynced(const std::string& path, const CloudSyncRoots& roots) {
    return IsCloudPlaceholder(GetFileAttributesW(ToWide(path).c_str())) || roots.Contains(path);
}

bool IsCloudSynced(const std::string& path) { return IsCloudSynced(path, CloudSyncRoots()); }

}  // namespace plx

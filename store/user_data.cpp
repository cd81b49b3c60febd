#include "store/user_data.h"

#include <optional>
#include <string>
#include <vector>

#include "store/catalogue.h"
#include "store/profile_tree.h"
#include "store/store_lock.h"
#include "win32/long_path.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// The names of the subkeys; nothing when the walk could not be finished.
std::optional<std::vector<std::string>> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    const LONG rc = ForEachSubkey(key, [&](const std::string& name) {
        names.push_back(name);
        return true;
    });
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return names;
}

std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = ARRAYSIZE(name);
        if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(ToUtf8(name, length));
    }
    return names;
}

// The entries of "HiddenItems" whose file is still in the store, whatever else they hold: such a
// file is found again only through its entry. Nothing when the entries cannot all be read: then no
// entry may be taken for one of a file that is gone.
std::optional<std::vector<std::string>> EntriesOfStoredFiles() {
    LONG status = ERROR_SUCCESS;
    unique_hkey hidden = OpenKeyForReading(HKEY_CURRENT_USER, kHiddenItemsKey, &status);
    if (!hidden) {
        if (status == ERROR_FILE_NOT_FOUND) return std::vector<std::string>();
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> names = SubkeyNames(hidden.get());
    if (!names) return std::nullopt;
    std::vector<std::string> kept;
    const std::string store = HiddenStoreDirectory();
    // Without the store's place no file can be looked for: every entry may still name one.
    if (store.empty()) return names;
    for (const std::string& name : *names) {
        const std::string stored = StorePathFor(store, PathFromKeyName(name));
        if (GetFileAttributesW(FileApiPath(stored).c_str()) != INVALID_FILE_ATTRIBUTES) kept.push_back(name);
    }
    return kept;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names)
        if (SameProfileName(n, name)) return true;  // as the registry compares key names
    return false;
}

// Deletes every subkey not in keep, and every value not in keepValues.
void DeleteAllBut(HKEY key, const std::vector<std::string>& keep,
                  const std::vector<std::string>& keepValues) {
    if (std::optional<std::vector<std::string>> names = SubkeyNames(key))
        for (const std::string& name : *names)
            if (!Contains(keep, name)) DeleteKeyTree(key, name);
    for (const std::string& name : ValueNames(key))
        if (!Contains(keepValues, name)) RegDeleteValueW(key, ToWide(name).c_str());
}

}  // namespace

bool RemoveUserData() {
    // The entries of stored files are read and kept under the lock: no move may add one meanwhile.
    StoreLock lock;
    if (!lock.Held()) return false;
    const std::optional<std::vector<std::string>> kept = EntriesOfStoredFiles();
    if (kept && kept->empty()) {
        DeleteKeyTree(HKEY_CURRENT_USER, kRootKey);
        return true;
    }
    unique_hkey root = OpenKeyForWriting(HKEY_CURRENT_USER, kRootKey);
    if (!root) return true;
    DeleteAllBut(root.get(), {"Items", "HiddenItems"}, {});
    if (unique_hkey items = OpenKeyForWriting(HKEY_CURRENT_USER, kItemsKey))
        DeleteAllBut(items.get(), {}, {"NextID"});
    // Entries that could not all be read stay, every one of them.
    if (!kept) return true;
    if (unique_hkey hidden = OpenKeyForWriting(HKEY_CURRENT_USER, kHiddenItemsKey))
        DeleteAllBut(hidden.get(), *kept, {});
    return true;
}

}  // namespace plx

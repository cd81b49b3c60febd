#include "store/user_data.h"

#include <string>
#include <vector>

#include "store/catalogue.h"
#include "store/registry.h"
#include "win32/unique.h"

namespace plx {

namespace {

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    ForEachSubkey(key, [&](const std::string& name) {
        names.push_back(name);
        return true;
    });
    return names;
}

std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

// The entries of "HiddenItems" whose file is still in the store, whatever else they hold: such a
// file is found again only through its entry.
std::vector<std::string> EntriesOfStoredFiles(HKEY hiddenItems) {
    std::vector<std::string> kept;
    const std::string store = HiddenStoreDirectory();
    if (store.empty() || !hiddenItems) return kept;
    for (const std::string& name : SubkeyNames(hiddenItems)) {
        const std::string stored = StorePathFor(store, PathFromKeyName(name));
        if (GetFileAttributesA(stored.c_str()) != INVALID_FILE_ATTRIBUTES) kept.push_back(name);
    }
    return kept;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names)
        if (lstrcmpiA(n.c_str(), name.c_str()) == 0) return true;
    return false;
}

// Deletes every subkey not in keep, and every value not in keepValues.
void DeleteAllBut(HKEY key, const std::vector<std::string>& keep,
                  const std::vector<std::string>& keepValues) {
    for (const std::string& name : SubkeyNames(key))
        if (!Contains(keep, name)) DeleteKeyTree(key, name);
    for (const std::string& name : ValueNames(key))
        if (!Contains(keepValues, name)) RegDeleteValueA(key, name.c_str());
}

}  // namespace

void RemoveUserData() {
    std::vector<std::string> kept;
    {
        unique_hkey hidden = OpenKeyForReading(HKEY_CURRENT_USER, kHiddenItemsKey);
        kept = EntriesOfStoredFiles(hidden.get());
    }
    if (kept.empty()) {
        DeleteKeyTree(HKEY_CURRENT_USER, kRootKey);
        return;
    }
    unique_hkey root = OpenKeyForWriting(HKEY_CURRENT_USER, kRootKey);
    if (!root) return;
    DeleteAllBut(root.get(), {"Items", "HiddenItems"}, {});
    if (unique_hkey items = OpenKeyForWriting(HKEY_CURRENT_USER, kItemsKey))
        DeleteAllBut(items.get(), {}, {"NextID"});
    if (unique_hkey hidden = OpenKeyForWriting(HKEY_CURRENT_USER, kHiddenItemsKey))
        DeleteAllBut(hidden.get(), kept, {});
}

}  // namespace plx

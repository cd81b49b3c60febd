// Desktop items that a cloud client keeps in sync. Moving one out of its synced folder would make the
// client download it (or fail) and delete it from the cloud, and with it from the user's other
// devices: such items are never taken into the hidden store.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace plx {

// True for the attributes of a cloud placeholder: a file or folder whose data is (partly) online only,
// recalled on open or on access, or marked pinned or unpinned by its sync client.
bool IsCloudPlaceholder(DWORD attributes);

// The cloud sync roots as they are when it is made: one for a batch of items, so that the roots are
// read once, not for every item, and each folder is asked about once.
class CloudSyncRoots {
public:
    CloudSyncRoots();
    // path is a sync root or lies in one. A sync root is a folder, so a file lies in one exactly when
    // its folder does: for attributes of a file (not INVALID_FILE_ATTRIBUTES, no directory bit) only
    // the folder is asked about, and its answer serves every file in it.
    bool Contains(const std::string& path, DWORD attributes);

private:
    bool Asked(const std::string& path) const;

    using GetSyncRootInfoByPath = HRESULT(WINAPI*)(LPCWSTR, int, void*, DWORD, DWORD*);
    GetSyncRootInfoByPath query_ = nullptr;
    std::vector<std::string> roots_;       // read from the system's list when the query is missing
    bool rootsKnown_ = true;               // false when that list could not be read whole
    std::map<std::string, bool> folders_;  // the answers for the folders of files asked about
};

// True when the item at path is a cloud placeholder or lies in a cloud sync root (the root included).
bool IsCloudSynced(const std::string& path, CloudSyncRoots& roots);
bool IsCloudSynced(const std::string& path);

}  // namespace plx

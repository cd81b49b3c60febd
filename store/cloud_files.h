// Desktop items that a cloud client keeps in sync. Moving one out of its synced folder would make the
// client download it (or fail) and delete it from the cloud, and with it from the user's other
// devices: such items are never taken into the hidden store.
#pragma once

#include <windows.h>

#include <string>

namespace plx {

// True for the attributes of a cloud placeholder: a file or folder whose data is (partly) online only,
// recalled on open or on access, or marked pinned or unpinned by its sync client.
bool IsCloudPlaceholder(DWORD attributes);

// True when the item at path is a cloud placeholder or lies in a cloud sync root (the root included).
bool IsCloudSynced(const std::string& path);

}  // namespace plx

// Removing the user's tree when the module is unregistered.
#pragma once

namespace plx {

// Deletes the whole tree under HKEY_CURRENT_USER "Software\Quillmar\Orvane", except what still
// describes items in the hidden store: their "HiddenItems" entries, and the catalogue's "NextID", so
// that their IDs are never handed to other items should the module come back. With nothing left in
// the store the tree goes entirely. False, having deleted nothing, when the store's lock cannot be had.
bool RemoveUserData();

}  // namespace plx

// Walks through the hidden store that hold up when the folders change under them: they may run with
// an administrator's or SYSTEM's rights through folders that users control.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace plx {

// Deletes the directory with everything in it, as far as it can.
void RemoveDirectoryTree(const std::string& path);
// Removes the store's own folders that lead to the mirrors of the desktop folders, each only when it is
// empty, deepest first (the mirror itself first), then the store when only its shared folders
// (SharedStoreChain) are left. Nothing inside a mirror is touched: an empty folder there is a stored item.
void RemoveEmptyDirectories(const std::string& store, const std::vector<std::wstring>& desktopFolders);

// A desktop folder that stored items may go back to, and whose folders in the store its owner may own.
struct DesktopFolder {
    std::wstring path;           // "C:\Users\Anna\Desktop"
    std::vector<BYTE> ownerSid;  // empty: only SYSTEM, Administrators and the caller own its mirror
};

// Every profile's "Desktop" folder that the machine lists (ProfileList), with the profile's SID, the
// desktop folder of the user who runs this (where it lies elsewhere), and the common desktop.
std::vector<DesktopFolder> MachineDesktopFolders();

// Brings every item stored under a desktop's mirror back into that desktop, where its place is free,
// then removes the mirror folders that end up empty, and the store's shared folders and the store
// only when nothing else is left in it. Items that cannot go back stay where they are: a taken place,
// a desktop that no longer exists, a mirror that its desktop's owner does not own or that others may
// change, another drive than the store's, a desktop folder swapped for a link meanwhile. Safe to run
// with an administrator's or SYSTEM's rights: it follows no link a user made (see the .cpp). Holds
// the store's lock of the user who runs it and of every desktop's owner meanwhile; false, having
// moved nothing, when one of them cannot be had.
bool ReturnStoredItems(const std::wstring& store, const std::vector<DesktopFolder>& desktops);

}  // namespace plx

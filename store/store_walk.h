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
// change, another drive than the store's, a desktop folder swapped for a link meanwhile, a file whose
// open or rename takes longer than a few seconds (an opportunistic lock that is never let go). Safe to
// run with an administrator's or SYSTEM's rights: it follows no link a user made (see the .cpp). Holds
// the store's lock of each desktop's owner (of the user who runs it, for a desktop without one) while
// it returns that desktop's items, and only then; a desktop whose owner's lock cannot be had keeps its
// items in the store and is named in leftFor. False when any desktop was left so.
bool ReturnStoredItems(const std::wstring& store, const std::vector<DesktopFolder>& desktops,
                       std::vector<std::wstring>* leftFor = nullptr);

}  // namespace plx

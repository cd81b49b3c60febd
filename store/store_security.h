// Who may reach what in the hidden store, and the checks that keep one user out of another's items.
//
// The store is one folder beside the module, shared by every user of the machine. Its folders mirror
// the desktop folders of the items moved into it: Hidden\Users\Anna\Desktop\Notes.txt is the hidden
// C:\Users\Anna\Desktop\Notes.txt. Who may do what, folder by folder:
//
// - The store itself and the shared folders the setup makes in it (the mirror of the profiles folder,
//   Hidden\Users): owned by Administrators; SYSTEM and Administrators have full control; users may pass
//   through, read the folder's attributes and its access list, and create folders, nothing else. They
//   can neither list these folders nor rename or delete anything in them (no delete-child, no delete
//   on the children, whose lists are their creators' own).
// - Every folder the module creates for a user (Hidden\Users\Anna and below, or any chain the setup did
//   not make): that user, SYSTEM and Administrators, full control, and nobody else; the list is
//   protected, so nothing the parent allows reaches into it. Files keep the list they had on the
//   desktop when they are moved in. A user folder whose list lets anybody else change or delete
//   anything in it, or takes entries from the folders above (a store kept from an earlier version,
//   whose setup let every user add files everywhere), is refused like a folder another user owns.
//
// So nobody lists, reads, renames, deletes or plants into another user's items or the folders that lead
// to them. A user can still create a folder on another user's future path first (Hidden\Users\Bert
// before Bert ever hides): the module then refuses that path, as it refuses every reparse point on it,
// instead of using a folder somebody else controls. Bert's hides fail there, and his files stay on his
// desktop; nothing of his is exposed. Every check is made on handles opened without following reparse
// points and held, without delete sharing, until the file operation is done: nobody can rename or
// replace a checked folder in between, so the paths the shell moves through name those folders.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

// The access list, in SDDL, of a folder the module creates for the user who runs it: that user, SYSTEM
// and Administrators, protected from inheritance. Empty when the user's SID cannot be read.
std::wstring OwnFolderSddl();
// Creates the folder with that list; false when it was not created.
bool CreateOwnFolder(const std::wstring& path);

enum class StoreFolderCheck {
    Held,        // every folder is there, checked, and held open
    Missing,     // a folder is missing and was not made, or cannot be opened
    NotAFolder,  // a file stands where the chain's last folder belongs
    Refused,     // a reparse point, a folder another user owns, or a handle that is not the named folder
};

// Whose folders a chain may pass through: any owner, or only the user who runs this, SYSTEM,
// Administrators and, when given, one more (the user whose desktop the items go back to). Checked, the
// user folders below the shared ones (see SharedStoreChain) must also be kept to their owner.
struct OwnerRule {
    bool checked = true;
    PSID alsoTrusted = nullptr;
};

// The folders below the store that the setup makes and shares among all users: the mirror of the
// profiles folder without its drive ("\Users\" for "C:\Users"), read from the machine's ProfileList.
std::wstring SharedStoreChain();

// True when the thread acts with an administrator's full rights (an elevated token) or as SYSTEM: then
// it does nothing in folders a user controls that a link could lead elsewhere.
bool ActsAsAdministrator();

// Switches the process to refusing junctions and links that a user without administrator's rights
// made (Windows 10 2004 and later, or with the update that brought it); false where the system lacks it.
bool RefuseUserRedirection();

// The folders from a base folder down to base + chain (chain like "\users\me\Desktop\"; a last piece
// without a backslash is a file name and is left out). Each is opened without following a reparse
// point and held open without delete sharing: while this object lives nobody can rename or remove
// them, so a path through them names these very folders.
class HeldFolders {
public:
    // create: missing folders are made with CreateOwnFolder. access: what each handle needs besides
    // reading its owner and attributes (listing and deleting, for the walks).
    StoreFolderCheck Hold(const std::wstring& base, const std::wstring& chain, bool create, DWORD access = 0,
                          OwnerRule owners = {});
    HANDLE Last() const { return folders_.empty() ? INVALID_HANDLE_VALUE : folders_.back().get(); }
    const std::wstring& LastPath() const { return path_; }
    // Removes the held folders below the base that are empty, deepest first, and lets all go. The
    // shared folders (base and SharedStoreChain) stay.
    void RemoveEmptyBelowBase();

private:
    std::vector<unique_hfile> folders_;
    std::wstring path_;
    size_t shared_ = 0;  // how many of folders_, from the base down, are the store's shared folders
};

// Handle tools for walks through folders that users control.

// Opens a file or folder itself, never what a reparse point leads to.
unique_hfile OpenNoFollow(const std::wstring& path, DWORD access);
// The attributes of what the handle holds; false when they cannot be read. Asks for nothing but them:
// unlike GetFileInformationByHandle, no question about the volume (its serial number), which Wine
// answers through the mount manager, another process.
bool AttributesOf(HANDLE handle, DWORD& attributes);
// The path of what the handle holds, as the file system names it ("\\?\C:\..."); empty on failure.
std::wstring FinalPath(HANDLE handle);
// True when the handle holds no reparse point, a folder exactly when directory is true, and the very
// entry name of the folder whose final path is parentFinal.
bool IsEntryOf(HANDLE handle, const std::wstring& parentFinal, const std::wstring& name, bool directory);

// The owner and access list of what the handle holds, in the descriptor that holds them; false when
// they cannot be read.
struct OwnerAndList {
    PSID owner = nullptr;
    PACL dacl = nullptr;  // null: no list at all, which lets everybody do everything
    unique_hlocal descriptor;
};
bool ReadOwnerAndList(HANDLE handle, OwnerAndList& read);

struct FolderEntry {
    std::wstring name;
    DWORD attributes;
};
// The entries of the folder held by the handle, without "." and "..".
std::vector<FolderEntry> ListFolder(HANDLE folder);
// Deletes what the handle holds once the handle is closed; fails for a folder that is not empty.
bool DeleteByHandle(HANDLE handle);
// Renames what the handle holds (opened with DELETE) to name inside the folder that folder holds,
// resolved from that handle, not from a path; never replaces, never copies to another volume.
bool RenameInto(HANDLE handle, HANDLE folder, const std::wstring& name);

}  // namespace plx

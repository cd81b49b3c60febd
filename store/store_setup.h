// What the installers do to the install folder's path and to the store's shared folders, with the
// installer's rights (an administrator's, or SYSTEM's in the Windows Installer package).
//
// Every shell and every logon runs the program's files, and every user's items pass through the store's
// shared folders: a folder on either path that a user can change, or a link a user can turn, would let
// that user plant code that others run or aim the installer's rights at something else. So:
// - each folder that exists on the install folder's path is checked, through a handle that does not
//   follow a link, for an owner among SYSTEM, Administrators, TrustedInstaller and the user who runs the
//   installer, and for rules that let nobody else change it (CheckInstallPath);
// - the store's folders are made, or taken back, one at a time through such handles, each held without
//   delete sharing (nobody can rename or replace it meanwhile, and nobody held it open for deleting at
//   that moment), its owner and rules set on the handle, and its final path compared before and after
//   (PrepareStore).
#pragma once

#include <windows.h>

#include <string>

namespace plx {

// The outcome of an installer's step: done, or refused with the reason, in words for the installer's
// message and log.
struct SetupStep {
    bool done = true;
    std::wstring reason;
    bool movedEarlierStore = false;  // PrepareStore moved an earlier version's store into place
};

// What Program Files gives (the install folder outside it gets the same), and the store's shared folders'
// rules: administrators own and change them, users pass through and make folders of their own.
inline constexpr wchar_t kInstallFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
inline constexpr wchar_t kStoreFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a4;;;BU)";

// Each folder that exists on the way to installFolder (a full path "X:\..."), from the drive's root
// down, and installFolder itself when it exists. Refused: a link, a file, an owner other than SYSTEM,
// Administrators, TrustedInstaller or the user who runs this, or rules that let anybody else delete the
// folder or what it holds, add folders to it, change its rules or owner, or (the install folder itself)
// add files to it. The root of a drive lets users add folders, which turns no path through it.
SetupStep CheckInstallPath(const std::wstring& installFolder);

// Makes the store (a full path) and the mirror of the profiles folder in it. above: the folder that
// must exist already, checked like the install path (the program data folder, or the install folder);
// the folders between it and the store are made with kInstallFolderSddl, or must pass that check. The
// store and the mirror are made with kStoreFolderSddl, or given it again (a folder a user made, or an
// earlier version left with other rules, is taken back). earlierStore: where an earlier version kept
// its store; when it is there it moves whole into place (one rename on the same drive), or, when either
// of the two holds no item, the empty one goes. What this call made goes again when it is refused.
SetupStep PrepareStore(const std::wstring& store, const std::wstring& above,
                       const std::wstring& earlierStore);

// Undoes PrepareStore's move of an earlier version's store (the package's rollback, which leaves that
// version installed, whose module looks for the store at earlierStore): the store moves back whole,
// through handles, when earlierStore's place is free.
SetupStep ReturnStoreToEarlierPlace(const std::wstring& store, const std::wstring& earlierStore);

// After the uninstall's return of the stored items: the store's shared folders and the store itself,
// deepest first, and for the store below the program data folder the two folders above it, each only
// when it is empty.
void RemoveEmptyStore(const std::wstring& store);

}  // namespace plx

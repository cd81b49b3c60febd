// The commands of the desktop menu: their codes, and the profile commands behind the items. They run
// in the shell's process, on the desktop's thread, with the shell's window as owner of every dialog
// and message box.
#pragma once

#include <windows.h>

#include <string>

#include "store/catalogue.h"
#include "store/profile_tree.h"

namespace plx {

// Command codes. They are also the base of the help context numbers (code + 0x10000), so their
// values are fixed.
enum CommandCode : UINT {
    kFirstProfileCommand = 0x8000,  // + index of the profile item
    kLastProfileCommand = 0x8064,   // 101 profile items at most
    kSaveActiveProfileCommand = 0x8065,
    kRestorePositionsCommand = 0x8066,
    kRestoreStartupPositionsCommand = 0x8067,
    kHelpCommand = 0x8068,
    kAboutCommand = 0x8069,
    kCreateProfileCommand = 0x806A,
    kSaveActiveProfileAsCommand = 0x806B,
    kEditActiveProfileCommand = 0x806C,
    kDeleteActiveProfileCommand = 0x806D,
};

inline constexpr UINT kMaxProfileItems = kLastProfileCommand - kFirstProfileCommand + 1;

inline bool IsProfileCommand(UINT code) {
    return code >= kFirstProfileCommand && code <= kLastProfileCommand;
}

inline constexpr char kLastProfileMessage[] = "Cannot delete the profile.\nAt least one profile must exist.";
// The question before a delete: "Are you sure you want to delete the \"<name>\" profile?"
std::string DeleteQuestion(const std::string& profile);

// Runs the command of a fixed code (not a profile item). False, having done nothing, for any other code.
bool RunFixedCommand(UINT code, HWND owner);

inline constexpr char kScreenSizeChangedMessage[] =
    "The screen size changed while the dialog was open.\nNothing has been changed.";
inline constexpr char kProfileNotSavedMessage[] = "Cannot save the profile.\nNothing has been changed.";
inline constexpr char kProfilesUnreadableMessage[] =
    "Cannot read the list of profiles.\nNothing has been changed.";
inline constexpr char kProfileSavedInPartMessage[] =
    "Errors occurred when saving the profile.\nSome of its settings have not been saved.";
inline constexpr char kOldProfileKeptMessage[] =
    "Errors occurred when saving the profile.\nSome of its settings have not been saved, so the profile "
    "under its old title has been kept.";

// Each command works on the resolution of the screen size it saw before it showed anything; when the
// size is another one afterwards, it changes nothing and says so.

// Makes profile the current one at the resolution size and activates it.
void SelectProfile(HWND owner, const ScreenSize& size, const std::string& profile);
void CreateProfile(HWND owner);
void SaveActiveProfileAs(HWND owner);
void EditActiveProfile(HWND owner);
void DeleteActiveProfile(HWND owner);

// Stores the profile oldTitle of the resolution size under newTitle with the items' visibility
// applied to the desktop. When the titles name different profiles, the slot values of the items go
// along, newTitle is completely built before it becomes current, and only then is oldTitle deleted
// (with deleteOld). A save that fails leaves oldTitle and the current profile as they were.
void StoreProfileUnderTitle(HWND owner, const ScreenSize& size, const ProfileName& oldTitle,
                            const ProfileName& newTitle, const DesktopItemList& items, bool deleteOld);

}  // namespace plx

// The commands of the desktop menu: their codes, and the profile commands behind the items. They run
// in the shell's process, on the desktop's thread, with the shell's window as owner of every dialog
// and message box.
#pragma once

#include <windows.h>

#include <string>

#include "store/catalogue.h"

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
inline constexpr char kDeleteQuestionFormat[] = "Are you sure you want to delete the \"%s\" profile?";

// Runs the command of a fixed code (not a profile item). False, having done nothing, for any other code.
bool RunFixedCommand(UINT code, HWND owner);

// Makes profile the current one at this resolution and activates it.
void SelectProfile(HWND owner, const std::string& profile);
void CreateProfile(HWND owner);
void SaveActiveProfileAs(HWND owner);
void EditActiveProfile(HWND owner);
void DeleteActiveProfile(HWND owner);

// Copies the slot values of the items from oldTitle to newTitle when the titles name different
// profiles, makes newTitle current (deleting oldTitle with deleteOld), and saves newTitle with the
// items' visibility applied to the desktop.
void StoreProfileUnderTitle(HWND owner, const std::string& oldTitle, const std::string& newTitle,
                            const DesktopItemList& items, bool deleteOld);

}  // namespace plx

// The module's help: an HTML Help file beside the module, opened through the system's HTML Help engine,
// which is looked up only when help is asked for.
#pragma once

#include <windows.h>

namespace plx {

// Context numbers. The help file maps each of them to a topic, so their values are fixed.
inline constexpr DWORD kHelpDefaultTopic = 0x8068;  // the menu's Help command: the file's default topic
inline constexpr DWORD kHelpMenuBase = 0x10000;     // + the command code of a menu item
inline constexpr DWORD kHelpProfileItem = 0x18000;  // every profile item of the menu
inline constexpr DWORD kHelpDialogBase = 0x20000;   // + the dialog's resource id
inline constexpr DWORD kHelpKeeperTopic = 0x18070;  // the keeper's notification icon: its Help

inline constexpr char kHelpFailedMessage[] = "Failed to launch help. Please, reinstall the application.";

// Opens the help file (the module's file name with "chm" for its last three characters) at the default
// topic for kHelpDefaultTopic and at the context number otherwise. Returns the help window, or null
// when the module's name, the engine or its entry point is missing or the engine opened nothing (no
// help file, a number the file does not map).
HWND LaunchHelp(HWND window, DWORD contextNumber);

// What every place that offers help does: LaunchHelp, and on failure the message box owned by window.
void ShowHelp(HWND window, DWORD contextNumber);

}  // namespace plx

// Saving the desktop icon positions into a slot of a profile, and restoring them.
#pragma once

#include <windows.h>

#include "store/registry.h"

namespace plx {

// Runs in the process that owns listView: the list-view messages carry pointers into this process.
// action: SavePositions, SaveStartupPositions, RestorePositions or RestoreStartupPositions.
// profile: null for the current profile of the resolution. size: the resolution whose profile it is;
// without it, the current screen size. True when the slot was opened and every position was saved
// or found; the message boxes say what went wrong unless quiet.
bool SaveRestorePositions(HWND listView, int action, HWND owner, BOOL quiet, const char* profile,
                          const ScreenSize& size);
bool SaveRestorePositions(HWND listView, int action, HWND owner, BOOL quiet, const char* profile);

}  // namespace plx

// Saving the desktop icon positions into a slot of a profile, and restoring them.
#pragma once

#include <windows.h>

namespace plx {

// Runs in the process that owns listView: the list-view messages carry pointers into this process.
// action: SavePositions, SaveStartupPositions, RestorePositions or RestoreStartupPositions.
// profile: null for the current profile of the current resolution.
void SaveRestorePositions(HWND listView, int action, HWND owner, BOOL quiet, const char* profile);

}  // namespace plx

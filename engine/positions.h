// Saving the desktop icon positions into a slot of a profile, and restoring them. Both run in the
// process that owns listView: the list-view messages carry pointers into this process. Neither shows
// anything: the caller decides what to tell the user.
#pragma once

#include <windows.h>

#include <string>

#include "store/kept_positions.h"
#include "store/profile_tree.h"

namespace plx {

enum class PositionsResult {
    Done,        // every position was written, or found and put in place
    NoSlot,      // the slot could not be created (save) or was never saved (restore): nothing was done
    SomeFailed,  // some positions could not be written, or had never been saved (those icons were moved
                 // to free spots)
};

// slot: kManualSlot or kStartupSlot of profile at the resolution size.
PositionsResult SavePositions(HWND listView, const ScreenSize& size, const ProfileName& profile,
                              const char* slot);
PositionsResult RestorePositions(HWND listView, const ScreenSize& size, const ProfileName& profile,
                                 const char* slot);

// Every icon's label and position, in the list view's order.
IconPlaces ReadIconPlaces(HWND listView);
// Moves the icons to places as a restore does (clamped into view; an icon without a place walks to a
// free spot). False when some icon had no place. savedDpi: the DPI the places were seen at, which a
// restore scales from as it does a slot's; 0 to take them as they are.
bool PlaceIcons(HWND listView, const IconPlaces& places, UINT savedDpi = 0);

}  // namespace plx

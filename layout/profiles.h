// Saving a profile's icon positions and item visibility, activating a profile, and bringing every
// hidden item back before the module goes away.
#pragma once

#include <windows.h>

#include <string>

#include "store/catalogue.h"
#include "store/profile_tree.h"

namespace plx {

// What a save of a profile achieved. NotSaved: the profile's key or its marker could not be written,
// or (for a save that applies) the store's lock could not be had, and nothing else was done, no item
// moved. Partial: the profile exists, but a slot or some records
// could not be written.
enum class SaveOutcome { Saved, Partial, NotSaved };

// Saves profile of the resolution size; the message boxes say what went wrong with its positions
// unless quiet. items: null for a fresh catalogue; a given list is copied.
// apply: make the desktop match the list and restore the positions afterwards.
SaveOutcome SaveProfile(HWND listView, const ScreenSize& size, const ProfileName& profile, HWND owner,
                        BOOL quiet, const DesktopItemList* items, bool apply);
// The same for the current profile at the current screen size.
SaveOutcome SaveCurrentProfile(HWND listView, HWND owner, BOOL quiet, const DesktopItemList* items,
                               bool apply);
// What an activation achieved. InPart: an item stays where the profile does not want it (its move
// failed, or a move that an end of the process cut short stays unsettled); the next activation tries
// again. NotRun: the store's lock could not be had, and nothing changed.
enum class ActivationOutcome { Done, InPart, NotRun };

// Always quiet: the caller says what went wrong. Does nothing at all (Done) when there is no catalogue
// yet. Without a size: the current profile of the current screen size.
ActivationOutcome ActivateProfile(HWND listView, const ScreenSize& size, HWND owner);
ActivationOutcome ActivateProfile(HWND listView, HWND owner);
// Moves every stored item back and removes what is left empty of the store. A file whose move back
// fails stays in the store with its directories. False, having changed nothing, without the lock.
bool ReleaseHiddenItems(HWND listView);

}  // namespace plx

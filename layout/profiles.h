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
// Always quiet. Does nothing at all when there is no catalogue yet. Without a size: the current
// profile of the current screen size. False, having changed nothing, when the store's lock cannot be
// had (store/store_lock.h); the caller says so.
bool ActivateProfile(HWND listView, const ScreenSize& size, HWND owner);
bool ActivateProfile(HWND listView, HWND owner);
// Moves every stored item back and removes what is left empty of the store. A file whose move back
// fails stays in the store with its directories. False, having changed nothing, without the lock.
bool ReleaseHiddenItems(HWND listView);

}  // namespace plx

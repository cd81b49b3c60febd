// Saving a profile's icon positions and item visibility, activating a profile, and bringing every
// hidden item back before the module goes away.
#pragma once

#include <windows.h>

#include "engine/names.h"
#include "store/catalogue.h"
#include "store/registry.h"

namespace plx {

inline constexpr char kLastResolutionValue[] = "LastResolution";

// The screen size for which profiles were last saved or activated; zeros when none is recorded,
// which never equal a real screen size.
ScreenSize ReadLastResolution();
void WriteLastResolution();

// profile: null for the current profile. items: null for a fresh catalogue; a given list is copied.
// apply: make the desktop match the list and restore the positions afterwards.
void SaveProfile(HWND listView, const char* profile, HWND owner, BOOL quiet, const DesktopItemList* items,
                 bool apply);
// Always quiet. Does nothing at all when there is no catalogue yet.
void ActivateProfile(HWND listView, HWND owner);
// Moves every stored item back and removes what is left empty of the store. A file whose move back
// fails stays in the store with its directories.
void ReleaseHiddenItems(HWND listView);

}  // namespace plx

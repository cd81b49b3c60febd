// Taking desktop items off the desktop into the hidden store and bringing them back, one at a time.
#pragma once

#include <windows.h>

#include <string>

#include "store/catalogue.h"
#include "store/store_walk.h"

namespace plx {

enum class VisibilityOutcome {
    NothingToDo,
    Shown,
    ShowFailed,
    Hidden,
    HideFailedAtDirectory,
    HideFailedAtMove,
};

// Moves the item's file to where Visible wants it. item.Path follows the file; hiddenItems is the
// open "HiddenItems" key (read and write). Never replaces an existing file: a move whose destination
// is taken is refused and reported as the failed move of its direction.
VisibilityOutcome ApplyItemVisibility(DesktopItem& item, const std::string& storeDirectory, HKEY hiddenItems);
VisibilityOutcome HideItem(DesktopItem& item, const std::string& storeDirectory, HKEY hiddenItems);
VisibilityOutcome ShowItem(DesktopItem& item, HKEY hiddenItems);

// Creates the missing directories of base + chain (chain like "\users\me\Desktop\"), each for the
// user who runs it alone; true when base + chain exists afterwards and its folders are safe to use
// (see store/store_security.h).
bool EnsureStoreDirectory(const std::string& base, const std::string& chain);
// Tells the shell that the desktop's contents changed; returns once the shell has handled it.
void NotifyDesktopChanged(HWND owner);

}  // namespace plx

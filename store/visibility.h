// Taking desktop items off the desktop into the hidden store and bringing them back, one at a time.
#pragma once

#include <windows.h>

#include <string>

#include "store/catalogue.h"

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

// Creates the missing directories of base + chain (chain like "\users\me\Desktop\"); true when
// base + chain exists afterwards.
bool EnsureStoreDirectory(const std::string& base, const std::string& chain);
// Deletes the directory with everything in it, as far as it can.
void RemoveDirectoryTree(const std::string& path);
// Removes every empty directory under path and path itself when it ends up empty; files stay.
void RemoveEmptyDirectories(const std::string& path);
// Tells the shell that the desktop's contents changed; returns once the shell has handled it.
void NotifyDesktopChanged(HWND owner);

}  // namespace plx

// Taking desktop items off the desktop into the hidden store and bringing them back, one at a time.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "store/catalogue.h"
#include "store/store_walk.h"

namespace plx {

// In a "HiddenItems" entry, REG_DWORD: a move of the item between volumes has begun and is not
// confirmed yet; 1 into the store, 2 back to the desktop. Older versions do not read it.
inline constexpr char kMovingValue[] = "Moving";
inline constexpr DWORD kMovingIntoStore = 1;
inline constexpr DWORD kMovingToDesktop = 2;

enum class VisibilityOutcome {
    NothingToDo,
    Shown,
    ShowFailed,
    Hidden,
    HideFailedAtDirectory,
    HideFailedAtMove,
    // The item is synced with a cloud (a placeholder, or inside a sync root): it stays on the desktop.
    KeptForCloud,
};

// Moves the item's file to where Visible wants it. item.Path follows the file; hiddenItems is the
// open "HiddenItems" key (read and write). Never replaces an existing file: a move whose destination
// is taken is refused and reported as the failed move of its direction.
VisibilityOutcome ApplyItemVisibility(DesktopItem& item, const std::string& storeDirectory, HKEY hiddenItems);
VisibilityOutcome HideItem(DesktopItem& item, const std::string& storeDirectory, HKEY hiddenItems);
VisibilityOutcome ShowItem(DesktopItem& item, HKEY hiddenItems);

// ApplyItemVisibility for a whole list, in an order that leaves every item whole in one place and
// every file in the store with its complete "HiddenItems" entry whenever the process ends:
//   1. record: the entry of every item to hide is written (with "Moving" for a move between volumes,
//      as is the "Moving" of such a show), then the key is flushed once for the whole batch;
//   2. move: item by item, in list order; a move between volumes copies, renames, then deletes;
//   3. confirm: after a hide the entry of a failed move goes, and "Moving" of a finished one; after a
//      show the entry goes.
// A death before 2 leaves entries whose files never left; during 2 or before 3, entries that
// SweepHiddenStore settles. Returns the outcome of each item, in list order.
std::vector<VisibilityOutcome> ApplyVisibility(DesktopItemList& items, const std::string& storeDirectory,
                                               HKEY hiddenItems);

// Writes an item's complete "HiddenItems" entry: "ID", "DisplayName", "TypeName".
bool WriteHiddenEntry(HKEY hiddenItems, const std::string& keyName, const DesktopItem& item);

// Run first by every action that moves items (activation, a save that applies, the release): puts the
// store and "HiddenItems" back in step after an action that ended half-way, or data of older
// versions. An entry whose file never left the desktop (or came back) goes; a move between volumes
// that was cut short is finished or undone; a file in a desktop folder's mirror that no complete entry
// names gets its entry back (see the definition for why).
void SweepHiddenStore();

// Creates the missing directories of base + chain (chain like "\users\me\Desktop\"), each for the
// user who runs it alone; true when base + chain exists afterwards and its folders are safe to use
// (see store/store_security.h).
bool EnsureStoreDirectory(const std::string& base, const std::string& chain);
// Tells the shell that the desktop's contents changed; returns once the shell has handled it.
void NotifyDesktopChanged(HWND owner);

}  // namespace plx

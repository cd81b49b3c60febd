// Taking desktop items off the desktop into the hidden store and bringing them back, one at a time.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "store/catalogue.h"
#include "store/moves.h"
#include "store/store_walk.h"

namespace plx {

// In a "HiddenItems" entry, REG_DWORD: a move of the item between volumes has begun and no sweep has
// seen it finished yet; 1 into the store, 2 back to the desktop, plus its phase: copying (the copy
// grows under its staging name) or placed (the copy is whole and flushed, and is renamed into place
// or was). 1 and 2 alone were written by an earlier version, which recorded no phase. Older versions
// do not read it.
inline constexpr char kMovingValue[] = "Moving";
inline constexpr DWORD kMovingIntoStore = 1;
inline constexpr DWORD kMovingToDesktop = 2;
inline constexpr DWORD kMovingCopying = 0x10;
inline constexpr DWORD kMovingPlaced = 0x20;

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

// ApplyItemVisibility for a whole list, under the store's lock (store/store_lock.h), in an order that
// leaves every item whole in one place and every file in the store with its complete "HiddenItems"
// entry whenever the process or the power ends:
//   1. record: the entry of every item to hide is written (with "Moving", phase copying, for a move
//      between volumes, as is the "Moving" of such a show), then the key is flushed once for the
//      whole batch; when the flush fails, no file moves;
//   2. move: item by item, in list order; on one volume one rename; between volumes a copy, flushed,
//      then "Moving" in its placed phase, flushed, then the rename, a flush, and the deletes;
//   3. confirm: the entry of a failed hide goes, and so does "Moving" of a failed show; after a show
//      on one volume the entry goes. A finished move between volumes keeps "Moving" until a sweep
//      sees its source gone.
// A death before 2 leaves entries whose files never left; during 2 or before 3, entries that
// SweepHiddenStore settles. progress: shown for long moves between volumes, whose cancel leaves the
// item being copied and every later one where it was. Returns the outcome of each item, in list order;
// without the lock nothing moves and every move has failed.
std::vector<VisibilityOutcome> ApplyVisibility(DesktopItemList& items, const std::string& storeDirectory,
                                               HKEY hiddenItems, MoveProgress* progress = nullptr);

// Writes the "Moving" of an item's entry in its direction and phase, and flushes "HiddenItems"; true once
// it is on the disk.
bool RecordPhase(HKEY hiddenItems, const std::string& keyName, bool intoStore, MovePhase phase);

// Writes an item's complete "HiddenItems" entry: "ID", "DisplayName", "TypeName".
bool WriteHiddenEntry(HKEY hiddenItems, const std::string& keyName, const DesktopItem& item);

// Run first by every action that moves items (activation, a save that applies, the release) and by
// the first action of a process: puts the store and "HiddenItems" back in step after an action that
// ended half-way, or data of older versions. An entry whose file never left the desktop (or came
// back) goes; a move between volumes that was cut short is finished or undone (see
// SettleMoveAcrossVolumes), and its "Moving" goes once it is settled; a file in a desktop folder's
// mirror that no complete entry names gets its entry back (see the definition for why). False, having
// changed nothing, when the store's lock cannot be had. stored, when given and every entry could be
// read: the stored items as AppendHiddenItems would list them after the sweep, so that the caller need
// not read the entries again; without their icons, and without their names where the entry is whole.
// unsettled, when given: true when a move stays unsettled (a source that cannot be deleted yet, what is
// left of a staging copy for the user), so that the action can say that not every item is in place.
bool SweepHiddenStore(std::optional<DesktopItemList>* stored = nullptr, bool* unsettled = nullptr);

// Creates the missing directories of base + chain (chain like "\users\me\Desktop\"), each for the
// user who runs it alone; true when base + chain exists afterwards and its folders are safe to use
// (see store/store_security.h).
bool EnsureStoreDirectory(const std::string& base, const std::string& chain);
// Tells the shell that the desktop's contents changed; returns once the shell has handled it.
void NotifyDesktopChanged(HWND owner);

}  // namespace plx

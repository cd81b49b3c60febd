// The undo of the last restore or activation: the positions the icons had a moment before are kept
// per resolution, and an undo puts them back while keeping the positions it replaces, so that a
// second undo undoes the first. Positions only: which items are shown stays as the profile says.
#pragma once

#include <windows.h>

#include "store/kept_positions.h"
#include "store/profile_tree.h"

namespace plx {

inline constexpr char kNothingToUndoMessage[] = "There are no icon positions to undo.";

// Keeps before, the icons as they were before a restore or activation at size moved them. An empty
// desktop keeps nothing.
void KeepForUndo(const ScreenSize& size, const IconPlaces& before);

enum class UndoOutcome { Done, NothingKept };
// Puts the kept positions of the current resolution back on listView's icons, in this process.
UndoOutcome UndoPositions(HWND listView);

}  // namespace plx

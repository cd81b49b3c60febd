#include "layout/undo.h"

#include "engine/positions.h"

namespace plx {

void KeepForUndo(const ScreenSize& size, const IconPlaces& before) {
    if (!before.empty()) WriteKeptPositions(size, before);
}

UndoOutcome UndoPositions(HWND listView) {
    const ScreenSize size = GetScreenSize();
    const std::optional<IconPlaces> kept = ReadKeptPositions(size);
    if (!kept) return UndoOutcome::NothingKept;
    const IconPlaces now = ReadIconPlaces(listView);
    PlaceIcons(listView, *kept);
    KeepForUndo(size, now);
    return UndoOutcome::Done;
}

}  // namespace plx

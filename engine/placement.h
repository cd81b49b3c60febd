// The free-spot walk of a restore: pure geometry on plain values, no window needed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace plx {

// One icon taking part in the free-spot search of a restore.
struct PlacementRecord {
    int index = 0;        // the item's index in the list view
    POINT position = {};  // the item's position; moves during the walk
    RECT bounds = {};     // LVIR_BOUNDS rectangle; moves together with position
    BYTE moveRight = 1;   // horizontal walk direction, 1 = rightwards
    BYTE moveDown = 1;    // vertical walk direction, 1 = downwards
    BYTE wrapped = 0;     // the walk has come back to its start once
};

using PlacementList = std::vector<PlacementRecord>;

// True at the first record whose bounds intersect rect; rectangles that only touch do not overlap.
bool OverlapsAny(const RECT& rect, const PlacementList& list);

// One pixel of the serpentine sweep within the client rectangle (position and bounds move together).
void StepPlacement(PlacementRecord& record, const RECT& client);

enum class WalkResult {
    Stayed,     // the icon overlapped nothing and keeps its position
    Moved,      // the icon was walked to a free spot
    PassEnded,  // no free spot: the walk met its start a second time (or ran out its bound)
};

// How many steps a walk from these start bounds may take: by then every walk that can still find a free
// spot or come back to its start has done so, so a walk that has not ended would sweep for ever.
unsigned long long WalkStepBound(const RECT& startBounds, const RECT& client);

// Walks an unplaced icon from its position to the first spot where it overlaps no placed icon,
// exactly as repeated StepPlacement calls would, but jumping over overlapped stretches.
// Resets the record's walk flags first. On PassEnded the record is back at its start.
WalkResult WalkToFreeSpot(PlacementRecord& record, const PlacementList& placed, const RECT& client);

// The same walk one pixel at a time: the reference the fast walk is measured and checked against.
WalkResult WalkToFreeSpotByPixels(PlacementRecord& record, const PlacementList& placed, const RECT& client);

using WalkFunction = WalkResult (*)(PlacementRecord&, const PlacementList&, const RECT&);

// The second pass of a restore: walks each unplaced record in order and appends it to placed, so that
// later icons avoid it. Ends at the first PassEnded; that record (back at its start) and all later ones
// keep their positions and are not appended. Returns how many records were placed.
std::size_t PlaceUnplaced(PlacementList& unplaced, PlacementList& placed, const RECT& client,
                          WalkFunction walk = WalkToFreeSpot);

}  // namespace plx

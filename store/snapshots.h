// The layout as last seen: while the icons stay still for a few seconds after the user (or a new file)
// moved them, the shell's process keeps their places for the arrangement in use, with the DPI they were
// seen at. The newest is the arrangement's latest snapshot; older ones are kept beside it as a short
// history (at least the last kSnapshotHistory, each with its time). Snapshots hold positions only: they
// never touch profiles or move files.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "store/kept_positions.h"
#include "store/profile_tree.h"

namespace plx {

inline constexpr size_t kSnapshotHistory = 10;

// One kept layout. number: 1 is the latest, 2 the one before it, and so on.
struct SnapshotInfo {
    int number = 0;
    FILETIME time = {};  // UTC, when the icons were seen so
    UINT dpi = 0;
    size_t icons = 0;
};
struct Snapshot {
    SnapshotInfo info;
    IconPlaces places;
};

// The snapshots of the arrangement size, newest first; empty when it has none.
std::vector<SnapshotInfo> ListSnapshots(const ScreenSize& size);
// Nothing when size has no snapshot of that number (or what is kept is damaged).
std::optional<Snapshot> ReadSnapshot(const ScreenSize& size, int number);
// Keeps places as the latest snapshot of size; the oldest beyond the history go. An empty desktop
// keeps nothing. False when nothing could be written.
bool KeepSnapshot(const ScreenSize& size, const IconPlaces& places, UINT dpi);

// When a profile of size was last saved, activated or restored at the user's word ("ProfileTime", a
// FILETIME in the resolution key). Nothing when never recorded (a tree kept by an older version).
void NoteProfileTime(const ScreenSize& size);
std::optional<FILETIME> ReadProfileTime(const ScreenSize& size);
// The latest snapshot of size when it is newer than the profile's last save, activation or restore
// (or no such time is recorded): the layout as last seen, which an automatic restore brings back.
std::optional<Snapshot> SnapshotNewerThanProfile(const ScreenSize& size);

// "Keep the layout automatically": the user's switch (a DWORD under the product's key, 1 when absent)
// that pauses both the snapshots and the automatic restores when 0.
inline constexpr char kKeepLayoutValue[] = "KeepLayout";
bool KeepLayoutAutomatically();
bool SetKeepLayoutAutomatically(bool keep);

}  // namespace plx

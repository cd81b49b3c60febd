// Keeping the registry tree in step with the screen in use: the first set-up at a new screen size
// and the activation of the current profile after a change of size.
#pragma once

#include <windows.h>

#include <string>

#include "layout/profiles.h"

namespace plx {

// Whether the resolution key of the current screen size holds a profile. Failed: its subkeys could
// not be walked to the end, so nobody knows; no set-up may then overwrite a profile's slot.
enum class ProfileSearch { Found, NotFound, Failed };
ProfileSearch SearchProfiles();

// Before a restore, on a display change and when the menu is built. At a size with profiles it
// activates the current profile when "LastResolution" differs from the screen size; at a size
// without profiles it runs the first set-up. listView: null to look the desktop's up when needed.
// The outcome of the activation it ran, Done when it ran none.
ActivationOutcome PrepareResolution(HWND listView);

// A display change after its quiet period. Back at the arrangement the current profile is active for
// after the monitors were seen otherwise (a display that flapped), the icons go back where they were
// last seen (PutIconsBack) and nothing else happens; otherwise as PrepareResolution, after which an
// arrangement whose latest snapshot is newer than its profile's last save, activation or restore gets
// the icons as that snapshot has them (a re-dock).
void FollowDisplayChange(HWND listView, bool arrangementMoved);
// The icons back where they were last seen in the arrangement in use, after the shell laid them out
// anew or a display flapped: its latest snapshot when that is newer than the current profile's last
// save, activation or restore and the layout is kept automatically (store/snapshots.h), else where the
// profile has them (its "Manual" slot). The places they had are kept for an undo; nothing else happens.
void PutIconsBack(HWND listView);
// After the shell started anew and laid its icons out: the arrangement's profile is activated when
// profiles were last set for another one (or the first set-up runs), and the icons go where they were
// last seen, as PutIconsBack says. The undo takes them back to the shell's layout.
void ReturnToLastSeen(HWND listView);

// A user who updates while several monitors are in use finds the profiles the older version kept
// under the primary's size: the first time the module meets that tree, the arrangement in use gets a
// copy of them. Nothing otherwise.
void CarryOverOlderProfiles();

// The first set-up when the current size has no profile; nothing otherwise.
void EnsureDefaultProfile(HWND listView);

}  // namespace plx

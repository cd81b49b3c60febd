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
// after the monitors were seen otherwise (a display that flapped), the icons go back to the profile's
// "Manual" positions and nothing else happens; otherwise as PrepareResolution.
void FollowDisplayChange(HWND listView, bool arrangementMoved);
// The icons back where the current profile of the arrangement in use has them (its "Manual" slot),
// after the shell laid them out anew; nothing else happens.
void PutIconsBack(HWND listView);

// A user who updates while several monitors are in use finds the profiles the older version kept
// under the primary's size: the first time the module meets that tree, the arrangement in use gets a
// copy of them. Nothing otherwise.
void CarryOverOlderProfiles();

// The first set-up when the current size has no profile; nothing otherwise.
void EnsureDefaultProfile(HWND listView);

}  // namespace plx

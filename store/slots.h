// Carrying saved positions from one slot into another: for a profile saved under a new title, and for
// the slots of a layout from before profiles, which lie directly under the resolution key.
#pragma once

#include <string>

#include "store/catalogue.h"
#include "store/profile_tree.h"

namespace plx {

// Reads the saved position of an icon label from a slot: under the label itself or, failing that, under
// the spelling an earlier version wrote it in (LegacySpelling). legacy: found only there. False when
// neither holds an 8-byte value.
bool ReadSavedPosition(HKEY slot, const std::string& label, BYTE (&position)[8], bool& legacy);

// Copies both slots of profile from into profile to at size, for each of the items. A missing slot of
// from is skipped; false when a slot of from exists but its values could not all be carried over.
bool CopySlots(const ScreenSize& size, const ProfileName& from, const ProfileName& to,
               const DesktopItemList& items);

// Moves the values of the legacy slots into the slots of the same names of profile, for every item
// still on the desktop, then deletes the legacy slots. A legacy slot whose target cannot be created is
// kept; where there is none, nothing is created.
void MigrateLegacySlots(const ScreenSize& size, const ProfileName& profile);

}  // namespace plx

// A first visit to an arrangement of monitors starts from the nearest arrangement the user already has
// profiles for, instead of from wherever the system left the icons.
#pragma once

#include <windows.h>

#include "store/profile_tree.h"

namespace plx {

// Before the first save at size: the icons that the nearest known arrangement's current profile saved
// on a monitor that size still has (one of the same size) go to the same place on that monitor, wherever
// it stands now and whatever its role; every other icon stays where it is. Positions only: no item is
// hidden or shown. Nothing when no known arrangement shares a monitor with size.
void SeedFromNearestArrangement(HWND listView, const ScreenSize& size);

}  // namespace plx

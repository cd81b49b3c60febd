// The work behind each action that the channel carries, and the positions of a slot saved or restored
// with the user told what went wrong.
#pragma once

#include <windows.h>

#include <string>

#include "engine/channel.h"
#include "store/profile_tree.h"

namespace plx {

inline constexpr char kSlotNotCreatedMessage[] = "Cannot create the registry key to save the icon positions.";
inline constexpr char kNothingSavedMessage[] = "The icon positions have not been previously saved.";
inline constexpr char kNothingSavedAtLogonMessage[] =
    "The icon positions have not been saved at the user logon.";
inline constexpr char kSomeNotSavedMessage[] =
    "Errors occurred when saving the icon positions.\nSome positions have not been saved.";
inline constexpr char kSomeNotRestoredMessage[] =
    "Errors occurred when restoring the icon positions.\nSome positions have not been previously saved.";

// Save or restore the positions of a slot of profile at size, and say what went wrong unless quiet.
// True when every position was saved, or found.
bool SavePositionsOrSay(HWND listView, const ScreenSize& size, const ProfileName& profile, const char* slot,
                        HWND owner, BOOL quiet);
bool RestorePositionsOrSay(HWND listView, const ScreenSize& size, const ProfileName& profile,
                           const char* slot, HWND owner, BOOL quiet);

inline constexpr char kItemsNotInPlaceMessage[] =
    "Errors occurred when showing and hiding the desktop items.\nSome items are not where the profile wants "
    "them.";

// Runs the work of an action on listView, which must belong to this process. NotRun, having done
// nothing, for an unknown action, and for a save, an activation or a release that could not have the
// hidden store's lock or (a save) its profile's key; the caller says so. InPart: an activation (asked
// for, or the one a restore makes after a change of the screen size) left an item where the profile
// does not want it, and said so with kItemsNotInPlaceMessage unless quiet.
// number: the snapshot a RestoreSnapshot puts back (1 the latest).
ActionResult RunActionWork(Action action, HWND listView, HWND owner, BOOL quiet, UINT number = 0);

// Gives the channel of this process the work above; once, before any action can arrive.
void ConnectActionWork();

}  // namespace plx

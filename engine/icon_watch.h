// Watching the desktop's icons from the agent window, for the layout as last seen. The agent
// subclasses the desktop's list view and reacts to the messages that move, add or remove its icons;
// nothing runs while none comes (no polling), and a one-shot timer on the agent window tells when the
// icons have been still for a while:
//   - after a change that is the user's (a drag, a file added or removed), the layout is kept as the
//     arrangement's latest snapshot (store/snapshots.h). A change made while the product acts (an action
//     turn, engine/action_gate.h) or while a display change is pending, held or looked at again (the
//     quiet period, display_hold.h, second_look.h) is not the user's: it keeps nothing, and a user's
//     change still waiting for its stillness gives way to it;
//   - after the shell started anew (AwaitStillIcons), the shell lays its icons out by itself: once they
//     have stopped moving, the layer above puts them where they were last seen, and nothing is kept.
// Everything here runs on the desktop's thread, which owns the list view and the agent window.
#pragma once

#include <windows.h>

namespace plx {

inline constexpr UINT_PTR kStillnessTimer = 3;
// How long the icons must stay still: the value "LayoutStillTime" (REG_DWORD, milliseconds) of the
// product's key, 3000 when missing, kept between 500 and 60000.
inline constexpr char kLayoutStillTimeValue[] = "LayoutStillTime";
inline constexpr DWORD kDefaultStillMs = 3000;
DWORD ReadLayoutStillTime();

// Starts watching listView (of this thread) from agent; again for the same list view changes nothing.
void WatchIcons(HWND agent, HWND listView);
void StopWatchingIcons();
// After the shell started: the next stillness of the icons runs the layer's restore instead of keeping
// a snapshot. The timer starts at once, so icons the shell has already laid out are not waited for.
void AwaitStillIcons(HWND agent, HWND listView);
// An action asked for takes the place of the awaited restore: what a user or the logon restore puts the
// icons to is not overridden once they are still.
void ForgetAwaitedLayout();
// The agent window's kStillnessTimer. restore: the layer's return to the layout as last seen.
void IconsStill(void (*restore)(HWND listView));

}  // namespace plx

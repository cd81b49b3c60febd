// The second look after the product acted on the desktop by itself. The shell may lay the icons out
// again seconds after a display change (a monitor waking on DisplayPort, a dock that enumerates its
// devices, a second taskbar appearing), and items that an activation shows reach the view only once the
// shell has seen their files. For a while after acting, the agent window looks at the icons again; once
// they have stopped moving and are not where the product left them, it puts them back. At most twice:
// a shell that keeps moving them is not fought.
#pragma once

#include <windows.h>

namespace plx {

inline constexpr UINT_PTR kSecondLookTimer = 2;
// How long the icons are watched after the product acted, or after it last put them back.
inline constexpr DWORD kSecondLookMs = 10000;
inline constexpr DWORD kSecondLookTickMs = 500;
inline constexpr int kMaxPutBacks = 2;

enum class SecondLookKind {
    AnyMove,   // after a display change: whatever moved the icons, they go back
    NewItems,  // after an activation asked for: only items that came into the view are placed
};

// Starts watching the icons of listView from the agent window (which must be of this thread); the
// places they have now are where they belong.
void StartSecondLook(HWND agent, HWND listView, SecondLookKind kind);
void EndSecondLook();
bool SecondLookRunning();
// The agent window's kSecondLookTimer. putBack puts the icons where they belong; it runs only when the
// action gate gives it a turn.
void SecondLookTick(void (*putBack)(HWND listView));

}  // namespace plx

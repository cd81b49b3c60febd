// Displays that the product leaves alone. While one of these holds, a change of the monitors is not
// followed: no profile is activated, no file moves, no key is made and nothing is saved. The desktop
// then shows a state that passes, and saving or acting on it would scramble the user's layout:
//   - a monitor runs in another mode than its stored one (a full-screen program's temporary mode, a
//     fallback mode while a monitor goes through a power cycle);
//   - the session is remote (the session takes the client's size, and with dynamic resolution every
//     window size is new), unless the user asked for remote sessions to be followed ("RemoteSessions");
//   - the session is locked, or its display is off (a monitor that sleeps, or is switched off behind
//     the lock screen, disappears from the arrangement).
#pragma once

#include <windows.h>

namespace plx {

enum class DisplayHold {
    None,
    TemporaryMode,
    RemoteSession,
    Locked,
    DisplayOff,
};

// What holds the display now, the session's state as the agent window last heard of it included.
DisplayHold CurrentDisplayHold();

// True when some monitor of the desktop shows another mode than the one stored for it.
bool AnyMonitorInTemporaryMode();

// The session's state as the system announces it to the agent window (WM_WTSSESSION_CHANGE and the
// console display's power setting). A process that starts while the session is locked or the display
// off learns of it only at the next change; until then it takes the session as in use.
void NoteSessionLocked(bool locked);
void NoteDisplayOff(bool off);

}  // namespace plx

// Plain functions for other programs, a logon task for one: each runs one action in the shell.
#include <windows.h>

#include "dialogs/about_box.h"
#include "engine/channel.h"
#include "resources/resource.h"
#include "win32/boundary.h"

namespace {

// An action that throws reports failure, as one that could not reach the desktop does.
HRESULT Run(plx::Action action, HWND owner, BOOL quiet) {
    return plx::CallAtBoundary(E_FAIL, [&] { return plx::RunAction(action, owner, quiet) ? S_OK : E_FAIL; });
}

}  // namespace

extern "C" {

HRESULT WINAPI SaveCurrentProfile(HWND owner, BOOL quiet) {
    return Run(plx::Action::SaveProfile, owner, quiet);
}

HRESULT WINAPI SaveStartupIconPositions(HWND owner, BOOL quiet) {
    return Run(plx::Action::SaveStartupPositions, owner, quiet);
}

HRESULT WINAPI RestoreIconPositions(HWND owner, BOOL quiet) {
    return Run(plx::Action::RestorePositions, owner, quiet);
}

HRESULT WINAPI RestoreStartupIconPositions(HWND owner, BOOL quiet) {
    return Run(plx::Action::RestoreStartupPositions, owner, quiet);
}

HRESULT WINAPI CreateDefaultProfile(HWND owner, BOOL quiet) {
    return Run(plx::Action::CreateDefault, owner, quiet);
}

// Puts the icons back where the last restore or activation found them; a second call undoes the first.
HRESULT WINAPI UndoIconPositions(HWND owner, BOOL quiet) {
    return Run(plx::Action::UndoPositions, owner, quiet);
}

// Activates the current profile of the arrangement in use ("CurrentProfile", as the desktop menu's
// "Select Active Profile" sets it): its items shown and hidden, its icons in their places.
HRESULT WINAPI ActivateCurrentProfile(HWND owner, BOOL quiet) {
    return Run(plx::Action::ActivateProfile, owner, quiet);
}

// Run from another process after the shell started (its "TaskbarCreated" broadcast): the agent comes into
// the new shell's process, so that its display changes are followed again, and once the shell has
// stopped laying the icons out they go where they were last seen in this arrangement (the latest
// snapshot when it is newer than the profile's last save, activation or restore, else the profile's
// places); an undo takes them back. Returns once the agent is there; the icons move after it.
HRESULT WINAPI FollowShell(HWND owner, BOOL quiet) { return Run(plx::Action::FollowShell, owner, quiet); }

// Puts the icons where snapshot number (1 the latest) of this arrangement has them; an undo takes them
// back. Fails when there is no such snapshot.
HRESULT WINAPI RestoreSnapshot(HWND owner, BOOL quiet, UINT number) {
    if (number == 0 || number > plx::kMaxActionNumber) return E_INVALIDARG;
    return plx::CallAtBoundary(E_FAIL, [&] {
        return plx::RunAction(plx::Action::RestoreSnapshot, owner, quiet, number) ? S_OK : E_FAIL;
    });
}

// Shows the About box, modal with owner as its parent; quiet means nothing here. Fails when the box
// could not be shown.
HRESULT WINAPI About(HWND owner, BOOL) {
    return plx::CallAtBoundary(E_FAIL, [&] {
        plx::AboutBox box;
        return box.Run(owner) == -1 ? E_FAIL : S_OK;
    });
}

}  // extern "C"

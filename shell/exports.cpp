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

// Shows the About box, modal with owner as its parent; quiet means nothing here. Fails when the box
// could not be shown.
HRESULT WINAPI About(HWND owner, BOOL) {
    return plx::CallAtBoundary(E_FAIL, [&] {
        plx::AboutBox box;
        return box.Run(owner) == -1 ? E_FAIL : S_OK;
    });
}

}  // extern "C"

#include "engine/display_hold.h"

#include "store/profile_tree.h"

namespace plx {

namespace {

bool SessionLocked = false;
bool DisplayIsOff = false;

}  // namespace

namespace {

BOOL CALLBACK FindTemporaryMode(HMONITOR monitor, HDC, LPRECT, LPARAM found) {
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    DEVMODEW current = {}, stored = {};
    current.dmSize = stored.dmSize = sizeof(DEVMODEW);
    // A device without a stored mode (never set up) has nothing to compare with.
    if (!GetMonitorInfoW(monitor, &info) ||
        !EnumDisplaySettingsExW(info.szDevice, ENUM_REGISTRY_SETTINGS, &stored, 0) ||
        stored.dmPelsWidth == 0 || stored.dmPelsHeight == 0 ||
        !EnumDisplaySettingsExW(info.szDevice, ENUM_CURRENT_SETTINGS, &current, 0))
        return TRUE;
    // The size alone: a full-screen program's mode is kept only in the current settings, while the
    // places of the other monitors follow from it. The monitor's own rectangle must differ too: Wine
    // gives other processes than the one that changed the mode its old current settings for a while,
    // where the monitor's rectangle is already the new one. (On Windows both agree for a process that
    // is aware of each monitor's DPI, as the shell is.)
    const bool modeDiffers =
        current.dmPelsWidth != stored.dmPelsWidth || current.dmPelsHeight != stored.dmPelsHeight;
    const LONG width = info.rcMonitor.right - info.rcMonitor.left,
               height = info.rcMonitor.bottom - info.rcMonitor.top;
    const bool rectangleDiffers =
        width != static_cast<LONG>(stored.dmPelsWidth) || height != static_cast<LONG>(stored.dmPelsHeight);
    if (!modeDiffers || !rectangleDiffers) return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

}  // namespace

bool AnyMonitorInTemporaryMode() {
    bool found = false;
    EnumDisplayMonitors(nullptr, nullptr, FindTemporaryMode, reinterpret_cast<LPARAM>(&found));
    return found;
}

DisplayHold CurrentDisplayHold() {
    if (SessionLocked) return DisplayHold::Locked;
    if (DisplayIsOff) return DisplayHold::DisplayOff;
    if (GetSystemMetrics(SM_REMOTESESSION) && !ReadRemoteSessionsFollowed())
        return DisplayHold::RemoteSession;
    if (AnyMonitorInTemporaryMode()) return DisplayHold::TemporaryMode;
    return DisplayHold::None;
}

void NoteSessionLocked(bool locked) { SessionLocked = locked; }
void NoteDisplayOff(bool off) { DisplayIsOff = off; }

}  // namespace plx

// The display with two monitors that scripts/on_monitors.sh gives a test program: a 1280 x 1024 primary
// at 0,0 and a 1024 x 768 monitor at 1280,0, with the dead zone below the second. The tests detach and
// attach the second monitor as a laptop's user docks and undocks.
#pragma once

#include <windows.h>

#include <string>

#include "store/profile_tree.h"
#include "testbed/testbed.h"

namespace testbed {

inline constexpr char kDocked[] = "1280_1024+1024_768@1280_0";
inline constexpr char kUndocked[] = "1280_1024";

// at: the second monitor's top-left corner when attached.
inline bool SetSecondMonitor(bool attached, POINTL at = {1280, 0}) {
    DEVMODEA mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_POSITION | DM_PELSWIDTH | DM_PELSHEIGHT;
    if (attached) {
        mode.dmPelsWidth = 1024;
        mode.dmPelsHeight = 768;
        mode.dmPosition = at;
    }
    if (ChangeDisplaySettingsExA("\\\\.\\DISPLAY2", &mode, nullptr, CDS_UPDATEREGISTRY | CDS_NORESET,
                                 nullptr) != DISP_CHANGE_SUCCESSFUL)
        return false;
    return ChangeDisplaySettingsExA(nullptr, nullptr, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL &&
           GetSystemMetrics(SM_CMONITORS) == (attached ? 2 : 1);
}

// Wine 8 applies a change of the monitors only from a 64-bit process: from a 32-bit one the change is
// refused (DISP_CHANGE_BADMODE). The 64-bit run covers what needs one.
inline bool CanChangeMonitors() { return sizeof(void*) == 8 || !OnWine(); }

// The arrangement profiles were last saved or activated for, as its key is named.
inline std::string LastArrangement() {
    std::string text;
    plx::unique_hkey root = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kRootKey);
    if (root) plx::ReadString(root.get(), plx::kLastArrangementValue, text);
    return text;
}

}  // namespace testbed

#include "engine/actions.h"

#include "engine/positions.h"
#include "store/profiles.h"
#include "store/resolution.h"

namespace plx {

void ShowActionMessage(HWND owner, BOOL quiet, const char* text, UINT icon) {
    if (IsQuiet(quiet)) return;
    MessageBoxA(owner, text, kMessageCaption, MB_OK | icon);
}

bool RunActionWork(int code, HWND listView, HWND owner, BOOL quiet) {
    switch (code) {
        case SavePositions:
            SaveProfile(listView, nullptr, owner, quiet, nullptr, true);
            return true;
        case SaveStartupPositions:
            SaveRestorePositions(listView, SaveStartupPositions, owner, quiet, nullptr);
            return true;
        case RestorePositions:
        case RestoreStartupPositions:
            PrepareResolution(listView);
            SaveRestorePositions(listView, code, owner, quiet, nullptr);
            return true;
        case ActivateProfileAction:
            ActivateProfile(listView, owner);
            return true;
        case ReleaseHiddenItemsAction:
            ReleaseHiddenItems(listView);
            return true;
        case CreateDefault:
            EnsureDefaultProfile(listView);
            return true;
        default:
            return false;
    }
}

}  // namespace plx

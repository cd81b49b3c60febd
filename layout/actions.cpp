#include "layout/actions.h"

#include "engine/positions.h"
#include "layout/profiles.h"
#include "layout/resolution.h"
#include "win32/message_box.h"

namespace plx {

bool SavePositionsOrSay(HWND listView, const ScreenSize& size, const ProfileName& profile, const char* slot,
                        HWND owner, BOOL quiet) {
    switch (SavePositions(listView, size, profile, slot)) {
        case PositionsResult::Done:
            return true;
        case PositionsResult::NoSlot:
            ShowMessageUnlessQuiet(owner, quiet, kSlotNotCreatedMessage, MB_ICONERROR);
            return false;
        case PositionsResult::SomeFailed:
            ShowMessageUnlessQuiet(owner, quiet, kSomeNotSavedMessage, MB_ICONWARNING);
            return false;
    }
    return false;
}

bool RestorePositionsOrSay(HWND listView, const ScreenSize& size, const ProfileName& profile,
                           const char* slot, HWND owner, BOOL quiet) {
    switch (RestorePositions(listView, size, profile, slot)) {
        case PositionsResult::Done:
            return true;
        case PositionsResult::NoSlot: {
            const bool startup = std::string(slot) == kStartupSlot;
            ShowMessageUnlessQuiet(owner, quiet, startup ? kNothingSavedAtLogonMessage : kNothingSavedMessage,
                                   MB_ICONERROR);
            return false;
        }
        case PositionsResult::SomeFailed:
            ShowMessageUnlessQuiet(owner, quiet, kSomeNotRestoredMessage, MB_ICONWARNING);
            return false;
    }
    return false;
}

bool RunActionWork(Action action, HWND listView, HWND owner, BOOL quiet) {
    switch (action) {
        case Action::SaveProfile:
            SaveCurrentProfile(listView, owner, quiet, nullptr, true);
            return true;
        case Action::SaveStartupPositions: {
            const ScreenSize size = GetScreenSize();
            SavePositionsOrSay(listView, size, GetCurrentProfile(size), kStartupSlot, owner, quiet);
            return true;
        }
        case Action::RestorePositions:
        case Action::RestoreStartupPositions: {
            // The set-up or activation first: the profile and size are those it leaves.
            PrepareResolution(listView);
            const ScreenSize size = GetScreenSize();
            const char* slot = action == Action::RestorePositions ? kManualSlot : kStartupSlot;
            RestorePositionsOrSay(listView, size, GetCurrentProfile(size), slot, owner, quiet);
            return true;
        }
        case Action::ActivateProfile:
            ActivateProfile(listView, GetScreenSize(), owner);
            return true;
        case Action::ReleaseHiddenItems:
            ReleaseHiddenItems(listView);
            return true;
        case Action::CreateDefault:
            EnsureDefaultProfile(listView);
            return true;
    }
    return false;
}

void ConnectActionWork() {
    ActionWork work;
    work.run = &RunActionWork;
    work.displayChanged = &PrepareResolution;
    SetActionWork(work);
}

}  // namespace plx

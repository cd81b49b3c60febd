#include "layout/actions.h"

#include "engine/positions.h"
#include "layout/profiles.h"
#include "layout/resolution.h"
#include "layout/undo.h"
#include "store/snapshots.h"
#include "store/visibility.h"
#include "win32/dpi.h"
#include "win32/message_box.h"

namespace plx {

namespace {

// True when all went well; otherwise says so with the message for what went wrong, unless quiet.
bool DoneOrSay(PositionsResult result, const char* noSlot, const char* someFailed, HWND owner, BOOL quiet) {
    if (result == PositionsResult::Done) return true;
    const bool missing = result == PositionsResult::NoSlot;
    ShowMessageUnlessQuiet(owner, quiet, missing ? noSlot : someFailed,
                           missing ? MB_ICONERROR : MB_ICONWARNING);
    return false;
}

}  // namespace

bool SavePositionsOrSay(HWND listView, const ScreenSize& size, const ProfileName& profile, const char* slot,
                        HWND owner, BOOL quiet) {
    return DoneOrSay(SavePositions(listView, size, profile, slot), kSlotNotCreatedMessage,
                     kSomeNotSavedMessage, owner, quiet);
}

bool RestorePositionsOrSay(HWND listView, const ScreenSize& size, const ProfileName& profile,
                           const char* slot, HWND owner, BOOL quiet) {
    const char* neverSaved =
        std::string(slot) == kStartupSlot ? kNothingSavedAtLogonMessage : kNothingSavedMessage;
    return DoneOrSay(RestorePositions(listView, size, profile, slot), neverSaved, kSomeNotRestoredMessage,
                     owner, quiet);
}

ActionResult RunActionWork(Action action, HWND listView, HWND owner, BOOL quiet, UINT number) {
    CarryOverOlderProfiles();
    // The first action after the shell started (the logon restore, as a rule) settles what an end of
    // the shell or of the power left half-way, before an interrupted move can linger for days.
    static bool swept = false;
    if (!swept) swept = SweepHiddenStore();
    const auto ran = [](bool done) { return done ? ActionResult::Done : ActionResult::NotRun; };
    // An activation that left an item out of place says so: the user would otherwise miss the item.
    const auto activated = [&](ActivationOutcome outcome) {
        if (outcome != ActivationOutcome::InPart) return ran(outcome == ActivationOutcome::Done);
        ShowMessageUnlessQuiet(owner, quiet, kItemsNotInPlaceMessage, MB_ICONWARNING);
        return ActionResult::InPart;
    };
    switch (action) {
        case Action::SaveProfile:
            return ran(SaveCurrentProfile(listView, owner, quiet, nullptr, true) != SaveOutcome::NotSaved);
        case Action::SaveStartupPositions: {
            const ScreenSize size = GetScreenSize();
            SavePositionsOrSay(listView, size, GetCurrentProfile(size), kStartupSlot, owner, quiet);
            return ActionResult::Done;
        }
        case Action::RestorePositions:
        case Action::RestoreStartupPositions: {
            // What an undo puts back: the icons before the action, and before any activation in it.
            const IconPlaces before = ReadIconPlaces(listView);
            // The set-up or activation first: the profile and size are those it leaves.
            const ActivationOutcome prepared = PrepareResolution(listView);
            const ScreenSize size = GetScreenSize();
            const char* slot = action == Action::RestorePositions ? kManualSlot : kStartupSlot;
            const ProfileName profile = GetCurrentProfile(size);
            // A restore without a slot moves nothing: what was kept before stays for an undo.
            const bool saved = static_cast<bool>(OpenSlotKey(size, profile, slot, KeyAccess::Read));
            if (saved) KeepForUndo(size, before);
            RestorePositionsOrSay(listView, size, profile, slot, owner, quiet);
            // What the user asked for is the layout from now on: a snapshot from before it is older.
            if (saved) NoteProfileTime(size);
            return prepared == ActivationOutcome::InPart ? activated(prepared) : ActionResult::Done;
        }
        case Action::RestoreSnapshot: {
            const ScreenSize size = GetScreenSize();
            const std::optional<Snapshot> snapshot = ReadSnapshot(size, static_cast<int>(number));
            if (!snapshot) return ActionResult::NotRun;
            const IconPlaces before = ReadIconPlaces(listView);
            PlaceIcons(listView, snapshot->places, snapshot->info.dpi);
            KeepForUndo(size, before);
            // The layout the user went back to is the one last seen now.
            if (KeepLayoutAutomatically()) KeepSnapshot(size, ReadIconPlaces(listView), WindowDpi(listView));
            return ActionResult::Done;
        }
        case Action::FollowShell:
            AwaitShellLayout(listView);
            return ActionResult::Done;
        case Action::UndoPositions:
            if (UndoPositions(listView) == UndoOutcome::NothingKept)
                ShowMessageUnlessQuiet(owner, quiet, kNothingToUndoMessage, MB_ICONERROR);
            return ActionResult::Done;
        case Action::ActivateProfile: {
            const ActivationOutcome outcome = ActivateProfile(listView, GetScreenSize(), owner);
            if (outcome != ActivationOutcome::NotRun) {
                NoteProfileTime(GetScreenSize());
                PlaceItemsThatComeIntoView(listView);
            }
            return activated(outcome);
        }
        case Action::ReleaseHiddenItems:
            return ran(ReleaseHiddenItems(listView));
        case Action::CreateDefault:
            EnsureDefaultProfile(listView);
            return ActionResult::Done;
    }
    return ActionResult::NotRun;
}

void ConnectActionWork() {
    ActionWork work;
    work.run = &RunActionWork;
    work.displayChanged = &FollowDisplayChange;
    work.putBack = &PutIconsBack;
    work.lastSeen = &ReturnToLastSeen;
    SetActionWork(work);
}

}  // namespace plx

#include "shell/commands.h"

#include <vector>

#include "dialogs/about_box.h"
#include "dialogs/profile_editor_dialog.h"
#include "dialogs/profile_title_check.h"
#include "dialogs/profile_title_dialog.h"
#include "engine/channel.h"
#include "engine/desktop_listview.h"
#include "engine/names.h"
#include "shell/help.h"
#include "store/profiles.h"
#include "store/registry.h"

namespace plx {

namespace {

void Say(HWND owner, const char* text, UINT flags) { MessageBoxA(owner, text, kMessageCaption, flags); }

// The desktop list view, or null after telling the user that it cannot be had.
HWND DesktopListViewOrSay(HWND owner) {
    HWND listView = FindDesktopListView();
    if (!listView) Say(owner, kNoDesktopMessage, MB_ICONERROR);
    return listView;
}

// The command saw the screen at size before it showed its dialog or question. Another size now means
// that the desktop has meanwhile taken another resolution's profile: the command must not act.
bool SizeUnchangedOrSay(HWND owner, const ScreenSize& size) {
    if (GetScreenSize() == size) return true;
    Say(owner, kScreenSizeChangedMessage, MB_ICONERROR);
    return false;
}

// A title typed in a dialog names a key of the tree: one that cannot name a profile would lead
// elsewhere in it. The dialogs refuse such titles already; this holds whoever calls.
bool UsableTitleOrSay(HWND owner, const std::string& title) {
    if (IsUsableProfileName(title)) return true;
    Say(owner, kUnusableTitleMessage, MB_ICONERROR);
    return false;
}

// Copies the 8-byte position of every item from one slot into the other. A missing old slot is
// skipped; false when the old slot exists but its values could not all be carried over.
bool CopySlot(const ScreenSize& size, const std::string& oldTitle, const std::string& newTitle,
              const char* slot, const DesktopItemList& items) {
    unique_hkey from = OpenSlotKey(size, oldTitle, slot, KeyAccess::Write);
    if (!from) return true;
    unique_hkey to = OpenSlotKey(size, newTitle, slot, KeyAccess::Create);
    if (!to) return false;
    bool complete = true;
    for (const DesktopItem& item : items) {
        BYTE position[8];
        DWORD length = sizeof(position);
        if (ReadBytes(from.get(), item.DisplayName.c_str(), position, length) != ERROR_SUCCESS) continue;
        if (length != sizeof(position)) continue;
        if (WriteBytes(to.get(), item.DisplayName.c_str(), position, sizeof(position)) != ERROR_SUCCESS)
            complete = false;
    }
    return complete;
}

// Takes back what a failed rename or copy began under a title that named no profile before.
void RemoveUnfinishedProfile(const ScreenSize& size, const std::string& title) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (resolution && !IsProfileKey(resolution.get(), title)) DeleteKeyTree(resolution.get(), title);
}

// Whether any key stands under title, a profile or not (a legacy slot is named like a title could be):
// what stood there before a failed save is never taken back.
bool TitleKeyExists(const ScreenSize& size, const std::string& title) {
    return static_cast<bool>(OpenProfileKey(size, title, KeyAccess::Read));
}

}  // namespace

std::string DeleteQuestion(const std::string& profile) {
    return "Are you sure you want to delete the \"" + profile + "\" profile?";
}

bool RunFixedCommand(UINT code, HWND owner) {
    switch (code) {
        case kSaveActiveProfileCommand:
            RunAction(SavePositions, owner, FALSE);
            return true;
        case kRestorePositionsCommand:
            RunAction(RestorePositions, owner, FALSE);
            return true;
        case kRestoreStartupPositionsCommand:
            RunAction(RestoreStartupPositions, owner, FALSE);
            return true;
        case kHelpCommand:
            ShowHelp(owner, kHelpDefaultTopic);
            return true;
        case kAboutCommand:
            AboutBox().Run(owner);
            return true;
        case kCreateProfileCommand:
            CreateProfile(owner);
            return true;
        case kSaveActiveProfileAsCommand:
            SaveActiveProfileAs(owner);
            return true;
        case kEditActiveProfileCommand:
            EditActiveProfile(owner);
            return true;
        case kDeleteActiveProfileCommand:
            DeleteActiveProfile(owner);
            return true;
        default:
            return false;
    }
}

void SelectProfile(HWND owner, const ScreenSize& size, const std::string& profile) {
    if (!SizeUnchangedOrSay(owner, size)) return;
    SetCurrentProfile(size, profile);
    RunAction(ActivateProfileAction, owner, FALSE);
}

void CreateProfile(HWND owner) {
    const ScreenSize size = GetScreenSize();
    HIMAGELIST imageList = nullptr;
    DesktopItemList items = BuildItemCatalogue(owner, &imageList);
    for (DesktopItem& item : items) item.Visible = true;
    const ProfileNameSet takenNames = ListProfiles(size, false, true);
    ProfileEditorDialog dialog(items, takenNames, std::string());
    if (dialog.Run(owner, imageList) != IDOK) return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    const std::string& title = dialog.Title();
    if (!UsableTitleOrSay(owner, title)) return;
    const bool existed = TitleKeyExists(size, title);
    switch (SaveProfile(listView, size, title, owner, FALSE, &items, true)) {
        case SaveOutcome::NotSaved:
            if (!existed) RemoveUnfinishedProfile(size, title);
            Say(owner, kProfileNotSavedMessage, MB_ICONERROR);
            return;
        case SaveOutcome::Partial:
            SetCurrentProfile(size, title);
            Say(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
            return;
        case SaveOutcome::Saved:
            SetCurrentProfile(size, title);
            return;
    }
}

void SaveActiveProfileAs(HWND owner) {
    const ScreenSize size = GetScreenSize();
    const std::string current = GetCurrentProfile(size);
    const ProfileNameSet profileNames = ListProfiles(size, false, false);
    const ProfileNameSet takenNames = ListProfiles(size, true, true);
    ProfileTitleDialog dialog(profileNames, takenNames, current);
    if (dialog.Run(owner) != IDOK) return;
    // Exactly the same title, letter for letter: nothing to do. A linguistic comparison would also
    // stop at "Straße" for "Strasse", which is another profile.
    if (dialog.Title() == current) return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    const DesktopItemList items = BuildItemCatalogue(owner);
    StoreProfileUnderTitle(owner, size, current, dialog.Title(), items, false);
}

void EditActiveProfile(HWND owner) {
    const ScreenSize size = GetScreenSize();
    HIMAGELIST imageList = nullptr;
    DesktopItemList items = BuildItemCatalogue(owner, &imageList);
    const ProfileNameSet takenNames = ListProfiles(size, true, true);
    const std::string current = GetCurrentProfile(size);
    ProfileEditorDialog dialog(items, takenNames, current);
    if (dialog.Run(owner, imageList) != IDOK) return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    StoreProfileUnderTitle(owner, size, current, dialog.Title(), items, true);
}

void StoreProfileUnderTitle(HWND owner, const ScreenSize& size, const std::string& oldTitle,
                            const std::string& newTitle, const DesktopItemList& items, bool deleteOld) {
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    if (!UsableTitleOrSay(owner, newTitle)) return;
    const bool renamed = !SameProfileName(oldTitle, newTitle);
    const bool existed = TitleKeyExists(size, newTitle);
    auto giveUp = [&] {
        if (renamed && !existed) RemoveUnfinishedProfile(size, newTitle);
        Say(owner, kProfileNotSavedMessage, MB_ICONERROR);
    };
    if (renamed && (!CopySlot(size, oldTitle, newTitle, kManualSlot, items) ||
                    !CopySlot(size, oldTitle, newTitle, kStartupSlot, items))) {
        giveUp();
        return;
    }
    // The new profile is complete (marker, slots, visibility) before anything refers to it.
    const SaveOutcome outcome = SaveProfile(listView, size, newTitle, owner, FALSE, &items, true);
    if (outcome == SaveOutcome::NotSaved) {
        giveUp();
        return;
    }
    if (!renamed) {
        if (outcome == SaveOutcome::Partial) Say(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
        return;
    }
    // The old profile goes only once the new one is current: "CurrentProfile" never names a key that
    // is gone. One saved in part keeps the old one beside it, whole.
    if (!SetCurrentProfile(size, newTitle)) {
        Say(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
        return;
    }
    if (deleteOld && outcome == SaveOutcome::Partial) {
        Say(owner, kOldProfileKeptMessage, MB_ICONWARNING);
        return;
    }
    if (outcome == SaveOutcome::Partial) Say(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
    // The old title comes from the registry; one that cannot name a profile is no key of ours.
    if (deleteOld && IsUsableProfileName(oldTitle))
        if (unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write))
            DeleteKeyTree(resolution.get(), oldTitle);
}

void DeleteActiveProfile(HWND owner) {
    const ScreenSize size = GetScreenSize();
    const ProfileNameSet others = ListProfiles(size, true, false);
    if (others.empty()) {
        Say(owner, kLastProfileMessage, MB_ICONERROR);
        return;
    }
    const std::string current = GetCurrentProfile(size);
    if (MessageBoxA(owner, DeleteQuestion(current).c_str(), kMessageCaption, MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution) return;
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    if (!SetCurrentProfile(size, *others.begin())) return;
    DeleteKeyTree(resolution.get(), current);
    ActivateProfile(listView, size, owner);
}

}  // namespace plx

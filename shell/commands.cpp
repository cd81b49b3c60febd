#include "shell/commands.h"

#include <optional>
#include <vector>

#include "dialogs/about_box.h"
#include "dialogs/profile_editor_dialog.h"
#include "dialogs/profile_title_check.h"
#include "dialogs/profile_title_dialog.h"
#include "engine/channel.h"
#include "engine/desktop_listview.h"
#include "resources/resource.h"
#include "dialogs/help.h"
#include "layout/actions.h"
#include "layout/profiles.h"
#include "store/profile_tree.h"
#include "store/slots.h"
#include "win32/message_box.h"

namespace plx {

namespace {

// The desktop list view, or null after telling the user that it cannot be had.
HWND DesktopListViewOrSay(HWND owner) {
    HWND listView = FindDesktopListView();
    if (!listView) ShowMessage(owner, kNoDesktopMessage, MB_ICONERROR);
    return listView;
}

// The command saw the screen at size before it showed its dialog or question. Another size now means
// that the desktop has meanwhile taken another resolution's profile: the command must not act.
bool SizeUnchangedOrSay(HWND owner, const ScreenSize& size) {
    if (GetScreenSize() == size) return true;
    ShowMessage(owner, kScreenSizeChangedMessage, MB_ICONERROR);
    return false;
}

// A title typed in a dialog enters here as a profile's name: one that cannot name a profile would lead
// elsewhere in the tree. The dialogs refuse such titles already; this holds whoever calls.
std::optional<ProfileName> TitleOrSay(HWND owner, const std::string& title) {
    std::optional<ProfileName> name = ProfileName::From(title);
    if (!name) ShowMessage(owner, kUnusableTitleMessage, MB_ICONERROR);
    return name;
}

// The commands decide on the whole list of names (whether a title is taken, whether a profile is the
// last one): a list the registry could give only in part is not acted on.
std::optional<ProfileNameSet> ProfilesOrSay(HWND owner, const ScreenSize& size, bool others) {
    bool whole = false;
    ProfileNameSet names = others ? ListOtherProfiles(size, &whole) : ListProfiles(size, &whole);
    if (whole) return names;
    ShowMessage(owner, kProfilesUnreadableMessage, MB_ICONERROR);
    return std::nullopt;
}

}  // namespace

std::string DeleteQuestion(const std::string& profile) {
    return "Are you sure you want to delete the \"" + profile + "\" profile?";
}

bool RunFixedCommand(UINT code, HWND owner) {
    switch (code) {
        case kSaveActiveProfileCommand:
            RunAction(Action::SaveProfile, owner, FALSE);
            return true;
        case kRestorePositionsCommand:
            RunAction(Action::RestorePositions, owner, FALSE);
            return true;
        case kRestoreStartupPositionsCommand:
            RunAction(Action::RestoreStartupPositions, owner, FALSE);
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
    // The menu's names are the tree's own key names; one that could not be a profile is no key of ours.
    const std::optional<ProfileName> name = ProfileName::From(profile);
    if (!name) return;
    SetCurrentProfile(size, *name);
    RunAction(Action::ActivateProfile, owner, FALSE);
}

void CreateProfile(HWND owner) {
    const ScreenSize size = GetScreenSize();
    const std::optional<ProfileNameSet> profiles = ProfilesOrSay(owner, size, false);
    if (!profiles) return;
    HIMAGELIST imageList = nullptr;
    DesktopItemList items = BuildItemCatalogue(owner, &imageList);
    for (DesktopItem& item : items) item.Visible = true;
    const ProfileNameSet takenNames = UpperCaseNames(*profiles);
    ProfileEditorDialog dialog(items, takenNames, std::string());
    if (dialog.Run(owner, imageList) != IDOK) return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    const std::optional<ProfileName> typed = TitleOrSay(owner, dialog.Title());
    if (!typed) return;
    const ProfileName& title = *typed;
    const bool existed = ProfileKeyExists(size, title);
    switch (SaveProfile(listView, size, title, owner, FALSE, &items, true)) {
        case SaveOutcome::NotSaved:
            if (!existed) RemoveUnfinishedProfile(size, title);
            ShowMessage(owner, kProfileNotSavedMessage, MB_ICONERROR);
            return;
        case SaveOutcome::Partial:
            SetCurrentProfile(size, title);
            ShowMessage(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
            return;
        case SaveOutcome::Saved:
            SetCurrentProfile(size, title);
            return;
    }
}

void SaveActiveProfileAs(HWND owner) {
    const ScreenSize size = GetScreenSize();
    const ProfileName current = GetCurrentProfile(size);
    const std::optional<ProfileNameSet> profileNames = ProfilesOrSay(owner, size, false);
    if (!profileNames) return;
    ProfileNameSet takenNames;
    for (const std::string& name : *profileNames)
        if (!SameProfileName(name, current.Text())) takenNames.insert(UpperCaseName(name));
    ProfileTitleDialog dialog(*profileNames, takenNames, current.Text());
    if (dialog.Run(owner) != IDOK) return;
    // Exactly the same title, letter for letter: nothing to do. A linguistic comparison would also
    // stop at "Straße" for "Strasse", which is another profile.
    if (dialog.Title() == current.Text()) return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    const std::optional<ProfileName> title = TitleOrSay(owner, dialog.Title());
    if (!title) return;
    const DesktopItemList items = BuildItemCatalogue(owner);
    StoreProfileUnderTitle(owner, size, current, *title, items, false);
}

void EditActiveProfile(HWND owner) {
    const ScreenSize size = GetScreenSize();
    const std::optional<ProfileNameSet> others = ProfilesOrSay(owner, size, true);
    if (!others) return;
    HIMAGELIST imageList = nullptr;
    DesktopItemList items = BuildItemCatalogue(owner, &imageList);
    const ProfileName current = GetCurrentProfile(size);
    const ProfileNameSet takenNames = UpperCaseNames(*others);
    ProfileEditorDialog dialog(items, takenNames, current.Text());
    if (dialog.Run(owner, imageList) != IDOK) return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    const std::optional<ProfileName> title = TitleOrSay(owner, dialog.Title());
    if (!title) return;
    StoreProfileUnderTitle(owner, size, current, *title, items, true);
}

void StoreProfileUnderTitle(HWND owner, const ScreenSize& size, const ProfileName& oldTitle,
                            const ProfileName& newTitle, const DesktopItemList& items, bool deleteOld) {
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    const bool renamed = !SameProfileName(oldTitle.Text(), newTitle.Text());
    const bool existed = ProfileKeyExists(size, newTitle);
    auto giveUp = [&] {
        if (renamed && !existed) RemoveUnfinishedProfile(size, newTitle);
        ShowMessage(owner, kProfileNotSavedMessage, MB_ICONERROR);
    };
    if (renamed && !CopySlots(size, oldTitle, newTitle, items)) {
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
        if (outcome == SaveOutcome::Partial) ShowMessage(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
        return;
    }
    // The old profile goes only once the new one is current: "CurrentProfile" never names a key that
    // is gone. One saved in part keeps the old one beside it, whole.
    if (!SetCurrentProfile(size, newTitle)) {
        ShowMessage(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
        return;
    }
    if (deleteOld && outcome == SaveOutcome::Partial) {
        ShowMessage(owner, kOldProfileKeptMessage, MB_ICONWARNING);
        return;
    }
    if (outcome == SaveOutcome::Partial) ShowMessage(owner, kProfileSavedInPartMessage, MB_ICONWARNING);
    if (deleteOld) DeleteProfile(size, oldTitle);
}

void DeleteActiveProfile(HWND owner) {
    const ScreenSize size = GetScreenSize();
    const std::optional<ProfileNameSet> others = ProfilesOrSay(owner, size, true);
    if (!others) return;
    if (others->empty()) {
        ShowMessage(owner, kLastProfileMessage, MB_ICONERROR);
        return;
    }
    const ProfileName current = GetCurrentProfile(size);
    if (ShowMessage(owner, DeleteQuestion(current.Text()).c_str(), MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    if (!SizeUnchangedOrSay(owner, size)) return;
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    const std::optional<ProfileName> next = ProfileName::From(*others->begin());
    if (!next || !SetCurrentProfile(size, *next)) return;
    DeleteProfile(size, current);
    if (ActivateProfile(listView, size, owner) == ActivationOutcome::InPart)
        ShowMessage(owner, kItemsNotInPlaceMessage, MB_ICONWARNING);
}

}  // namespace plx

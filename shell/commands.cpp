#include "shell/commands.h"

#include <cstdio>
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

void WriteCurrentProfile(const std::string& profile) {
    if (unique_hkey key = CreateKey(HKEY_CURRENT_USER, ResolutionKeyPath()))
        WriteString(key.get(), kCurrentProfileValue, profile);
}

// A title typed in a dialog names a key of the tree: one that cannot name a profile would lead
// elsewhere in it. The dialogs refuse such titles already; this holds whoever calls.
bool UsableTitleOrSay(HWND owner, const std::string& title) {
    if (IsUsableProfileName(title)) return true;
    Say(owner, kUnusableTitleMessage, MB_ICONERROR);
    return false;
}

// Copies the 8-byte position of every item from one slot into the other; a missing old slot is skipped.
void CopySlot(const std::string& oldTitle, const std::string& newTitle, const char* slot,
              const DesktopItemList& items) {
    unique_hkey from = OpenKeyForWriting(HKEY_CURRENT_USER, SlotKeyPath(oldTitle, slot));
    if (!from) return;
    unique_hkey to = CreateKey(HKEY_CURRENT_USER, SlotKeyPath(newTitle, slot));
    if (!to) return;
    for (const DesktopItem& item : items) {
        BYTE position[8];
        DWORD size = sizeof(position);
        if (ReadBytes(from.get(), item.DisplayName.c_str(), position, size) != ERROR_SUCCESS) continue;
        if (size != sizeof(position)) continue;
        WriteBytes(to.get(), item.DisplayName.c_str(), position, sizeof(position));
    }
}

}  // namespace

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

void SelectProfile(HWND owner, const std::string& profile) {
    WriteCurrentProfile(profile);
    RunAction(ActivateProfileAction, owner, FALSE);
}

void CreateProfile(HWND owner) {
    HIMAGELIST imageList = nullptr;
    DesktopItemList items = BuildItemCatalogue(owner, &imageList);
    for (DesktopItem& item : items) item.Visible = true;
    const ProfileNameSet takenNames = ListProfiles(false, true);
    ProfileEditorDialog dialog(items, takenNames, std::string());
    if (dialog.Run(owner, imageList) != IDOK) return;
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    const std::string& title = dialog.Title();
    if (!UsableTitleOrSay(owner, title)) return;
    WriteCurrentProfile(title);
    SaveProfile(listView, title.c_str(), owner, FALSE, &items, true);
}

void SaveActiveProfileAs(HWND owner) {
    const std::string current = GetCurrentProfile();
    const ProfileNameSet profileNames = ListProfiles(false, false);
    const ProfileNameSet takenNames = ListProfiles(true, true);
    ProfileTitleDialog dialog(profileNames, takenNames, current);
    if (dialog.Run(owner) != IDOK) return;
    if (lstrcmpA(dialog.Title().c_str(), current.c_str()) == 0) return;
    const DesktopItemList items = BuildItemCatalogue(owner);
    StoreProfileUnderTitle(owner, current, dialog.Title(), items, false);
}

void EditActiveProfile(HWND owner) {
    HIMAGELIST imageList = nullptr;
    DesktopItemList items = BuildItemCatalogue(owner, &imageList);
    const ProfileNameSet takenNames = ListProfiles(true, true);
    const std::string current = GetCurrentProfile();
    ProfileEditorDialog dialog(items, takenNames, current);
    if (dialog.Run(owner, imageList) != IDOK) return;
    StoreProfileUnderTitle(owner, current, dialog.Title(), items, true);
}

void StoreProfileUnderTitle(HWND owner, const std::string& oldTitle, const std::string& newTitle,
                            const DesktopItemList& items, bool deleteOld) {
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    if (!UsableTitleOrSay(owner, newTitle)) return;
    if (lstrcmpiA(oldTitle.c_str(), newTitle.c_str()) != 0) {
        CopySlot(oldTitle, newTitle, kManualSlot, items);
        CopySlot(oldTitle, newTitle, kStartupSlot, items);
        if (unique_hkey resolution = OpenKeyForWriting(HKEY_CURRENT_USER, ResolutionKeyPath())) {
            WriteString(resolution.get(), kCurrentProfileValue, newTitle);
            // The old title comes from the registry; one that cannot name a profile is no key of ours.
            if (deleteOld && IsUsableProfileName(oldTitle)) DeleteKeyTree(resolution.get(), oldTitle);
        }
    }
    SaveProfile(listView, newTitle.c_str(), owner, FALSE, &items, true);
}

void DeleteActiveProfile(HWND owner) {
    const ProfileNameSet others = ListProfiles(true, false);
    if (others.empty()) {
        Say(owner, kLastProfileMessage, MB_ICONERROR);
        return;
    }
    const std::string current = GetCurrentProfile();
    std::vector<char> question(sizeof(kDeleteQuestionFormat) + current.size());
    std::snprintf(question.data(), question.size(), kDeleteQuestionFormat, current.c_str());
    if (MessageBoxA(owner, question.data(), kMessageCaption, MB_ICONQUESTION | MB_YESNO) != IDYES) return;
    unique_hkey resolution = OpenKeyForWriting(HKEY_CURRENT_USER, ResolutionKeyPath());
    if (!resolution) return;
    HWND listView = DesktopListViewOrSay(owner);
    if (!listView) return;
    if (WriteString(resolution.get(), kCurrentProfileValue, *others.begin()) != ERROR_SUCCESS) return;
    DeleteKeyTree(resolution.get(), current);
    ActivateProfile(listView, owner);
}

}  // namespace plx

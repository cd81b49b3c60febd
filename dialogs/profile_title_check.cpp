#include "dialogs/profile_title_check.h"

#include "win32/message_box.h"

namespace plx {

namespace {

int Refuse(HWND dialog, HWND titleBox, const std::string& text, UINT flags) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(titleBox), TRUE);
    return ShowMessage(dialog, text.c_str(), flags);
}

}  // namespace

std::string OverwriteQuestion(const std::string& title) {
    return "The profile called \"" + title + "\" already exists.\nOverwrite the profile?";
}

bool AcceptProfileTitle(HWND dialog, HWND titleBox, const std::string& title,
                        const ProfileNameSet& takenNames) {
    if (title.empty()) {
        Refuse(dialog, titleBox, kEmptyTitleMessage, MB_ICONWARNING);
        return false;
    }
    if (!IsUsableProfileName(title)) {
        Refuse(dialog, titleBox, kUnusableTitleMessage, MB_ICONWARNING);
        return false;
    }
    if (!ContainsProfileName(takenNames, title)) return true;
    return Refuse(dialog, titleBox, OverwriteQuestion(title), MB_ICONWARNING | MB_OKCANCEL) == IDOK;
}

}  // namespace plx

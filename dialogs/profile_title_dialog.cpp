#include "dialogs/profile_title_dialog.h"

#include <utility>
#include <vector>

#include "dialogs/profile_title_check.h"
#include "resources/resource.h"

namespace plx {

ProfileTitleDialog::ProfileTitleDialog(const ProfileNameSet& profileNames, const ProfileNameSet& takenNames,
                                       std::string title)
    : Dialog(IDD_PROFILE_TITLE, true),
      profileNames_(profileNames),
      takenNames_(takenNames),
      title_(std::move(title)) {}

BOOL ProfileTitleDialog::OnInitDialog(LPARAM) {
    HWND box = Item(IDC_TITLE_BOX);
    LRESULT active = CB_ERR;
    for (const std::string& name : profileNames_) {
        const LRESULT index = SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        if (name == title_ || (active == CB_ERR && SameProfileName(name, title_))) active = index;
    }
    if (active >= 0) SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(active), 0);
    return TRUE;
}

bool ProfileTitleDialog::OnCommand(WORD id, WORD code, HWND) {
    return SaveOrCancel(id, code, [this] { Save(); });
}

void ProfileTitleDialog::Save() {
    HWND box = Item(IDC_TITLE_BOX);
    title_.clear();
    const auto length = static_cast<size_t>(SendMessageA(box, WM_GETTEXTLENGTH, 0, 0));
    std::vector<char> text(length + 1, '\0');
    SendMessageA(box, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    title_ = text.data();
    if (AcceptProfileTitle(Window(), box, title_, takenNames_)) End(IDOK);
}

}  // namespace plx

#include "dialogs/profile_title_dialog.h"

#include <utility>
#include <vector>

#include "dialogs/profile_title_check.h"
#include "resources/resource.h"
#include "win32/wide_text.h"

namespace plx {

ProfileTitleDialog::ProfileTitleDialog(const ProfileNameSet& profileNames, const ProfileNameSet& takenNames,
                                       std::string title)
    : Dialog(IDD_PROFILE_TITLE, true),
      profileNames_(profileNames),
      takenNames_(takenNames),
      title_(std::move(title)) {}

BOOL ProfileTitleDialog::OnInitDialog(LPARAM) {
    HWND box = Item(IDC_TITLE_BOX);
    const std::string* active = nullptr;
    for (const std::string& name : profileNames_) {
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToWide(name).c_str()));
        if (name == title_ || (!active && SameProfileName(name, title_))) active = &name;
    }
    if (!active) return TRUE;
    // Looked up once the list is complete: the box sorts by its own rules, so an index that an earlier
    // name got moves when a later name sorts before it. Profile names differ in more than letter case,
    // so the search, which ignores case, finds the one name.
    const LRESULT index = SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(ToWide(*active).c_str()));
    if (index >= 0) SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return TRUE;
}

bool ProfileTitleDialog::OnCommand(WORD id, WORD code, HWND) {
    return SaveOrCancel(id, code, [this] { Save(); });
}

void ProfileTitleDialog::Save() {
    HWND box = Item(IDC_TITLE_BOX);
    title_.clear();
    const auto length = static_cast<size_t>(SendMessageW(box, WM_GETTEXTLENGTH, 0, 0));
    std::vector<wchar_t> text(length + 1, L'\0');
    SendMessageW(box, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    title_ = ToUtf8(text.data());
    if (AcceptProfileTitle(Window(), box, title_, takenNames_)) End(IDOK);
}

}  // namespace plx

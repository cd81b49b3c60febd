// Asks for the title under which the active profile is to be saved as a copy.
#pragma once

#include <windows.h>

#include <string>

#include "dialogs/dialog.h"
#include "store/profile_tree.h"

namespace plx {

class ProfileTitleDialog : public Dialog {
public:
    // profileNames: every profile at the current resolution, as stored, for the drop-down list.
    // takenNames: the same upper-cased, the active profile left out. Both are borrowed.
    // title: the active profile's name, picked in the list when it is there.
    ProfileTitleDialog(const ProfileNameSet& profileNames, const ProfileNameSet& takenNames,
                       std::string title);
    ProfileTitleDialog(const ProfileNameSet& profileNames, ProfileNameSet&& takenNames,
                       std::string title) = delete;

    // IDOK after Save, with Title() as typed (neither trimmed nor upper-cased); IDCANCEL otherwise.
    INT_PTR Run(HWND owner) { return RunModal(owner, 0); }
    const std::string& Title() const { return title_; }

private:
    BOOL OnInitDialog(LPARAM initParam) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    void Save();

    const ProfileNameSet& profileNames_;
    const ProfileNameSet& takenNames_;
    std::string title_;
};

}  // namespace plx

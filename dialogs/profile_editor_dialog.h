// Edits a profile: its title, and which desktop items it shows.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "dialogs/dialog.h"
#include "store/catalogue.h"
#include "store/registry.h"

namespace plx {

class ProfileEditorDialog : public Dialog {
public:
    // items: the caller's catalogue, borrowed; Save writes each listed item's Visible flag in place.
    // takenNames: upper-cased names of the other profiles, borrowed. title: the title to show.
    ProfileEditorDialog(DesktopItemList& items, const ProfileNameSet& takenNames, std::string title);
    ~ProfileEditorDialog() override;

    // imageList: the system's small-icon image list (may be null); shared, never destroyed here.
    // IDOK after Save, with Title() as typed and the Visible flags set; IDCANCEL otherwise.
    INT_PTR Run(HWND owner, HIMAGELIST imageList);
    const std::string& Title() const { return title_; }

private:
    DesktopItemList& items_;
    const ProfileNameSet& takenNames_;
    std::string title_;
};

}  // namespace plx

#include "dialogs/profile_editor_dialog.h"

namespace plx {

// Placeholder until the editor's template and handlers land: it offers nothing and cancels.
ProfileEditorDialog::ProfileEditorDialog(DesktopItemList& items, const ProfileNameSet& takenNames,
                                         std::string title)
    : Dialog(212, true), items_(items), takenNames_(takenNames), title_(std::move(title)) {}

ProfileEditorDialog::~ProfileEditorDialog() = default;

INT_PTR ProfileEditorDialog::Run(HWND, HIMAGELIST) { return IDCANCEL; }

}  // namespace plx

// Edits a profile: its title, and which desktop items it shows.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "dialogs/dialog.h"
#include "store/catalogue.h"
#include "store/profile_tree.h"
#include "win32/unique.h"

namespace plx {

class ProfileEditorDialog : public Dialog {
public:
    // items: the caller's catalogue, borrowed; Save writes each listed item's Visible flag in place.
    // takenNames: upper-cased names of the other profiles, borrowed. title: the title to show.
    ProfileEditorDialog(DesktopItemList& items, const ProfileNameSet& takenNames, std::string title);
    ProfileEditorDialog(DesktopItemList& items, ProfileNameSet&& takenNames, std::string title) = delete;
    ~ProfileEditorDialog() override;

    // imageList: the system's small-icon image list (may be null); shared, never destroyed here.
    // IDOK after Save, with Title() as typed and the Visible flags set; IDCANCEL otherwise.
    INT_PTR Run(HWND owner, HIMAGELIST imageList);
    const std::string& Title() const { return title_; }

private:
    using SetLayeredWindowAttributesFunction = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

    BOOL OnInitDialog(LPARAM initParam) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    void OpenTransparency();
    void OpenCaptionAndTitle();
    void OpenListView(HIMAGELIST imageList);
    void AddRows();
    void FitToEditorSize();
    // The module's icon at the dialog's DPI, and at the list's top right corner.
    void ScaleIcon();
    void PlaceIcon();
    void PlaceHeaderCheckBox();
    // Left in column 0, centred in the header's height.
    void CentreHeaderCheckBox(HWND box) const;
    void OnDpiChanged(UINT oldDpi) override;
    void TitleChanged();
    void RefreshHeaderCheckBox();
    // Indeterminate and three-state when the rows are mixed or none; otherwise ticked or clear as
    // they are, made an automatic two-state box first when twoStateAutomatic.
    void ShowRowsOn(HWND box, bool twoStateAutomatic) const;
    void TickOrClearAll();
    void FitHeaderCheckBox(const NMHEADERW& change);
    void ChangeTransparency(HWND slider);
    void Save();

    static LRESULT CALLBACK ListViewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK HeaderProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR self);

    DesktopItemList& items_;
    const ProfileNameSet& takenNames_;
    std::string title_;
    // "user32.dll", held while the function below is in use; both null when the system lacks it.
    unique_hmodule user32_;
    SetLayeredWindowAttributesFunction setLayeredWindowAttributes_ = nullptr;
    HWND listView_ = nullptr;
    HWND header_ = nullptr;
    HWND headerCheckBox_ = nullptr;  // null until the dialog has finished opening
    // The icon's size at 96 DPI, and the icon loaded for another DPI.
    int iconDesignSize_ = 0;
    unique_hicon iconAtDpi_;
    // In the header's client coordinates: the furthest the box may reach, and where it ends now.
    int headerCheckBoxMaxRight_ = 0;
    int headerCheckBoxRight_ = 0;
};

// For tests: the export that the editor asks "user32.dll" for when it is built. A name the system
// does not export stands for a system without layered windows. Returns the name used before.
const char* SetLayeredWindowExportName(const char* name);

}  // namespace plx

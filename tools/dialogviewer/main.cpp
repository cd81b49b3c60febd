// dialogviewer MODULE title|about|editor
//
// Shows one of the module's dialogs as the user meets it, for a look or a screenshot: the title dialog
// with a few sample profiles, the About box through the About export, or the profile editor over the
// items of the desktop with its transparency slider moved to the middle. Closes with the dialog. Per-monitor
// DPI aware, as the shell is: the dialogs show at the screen's DPI.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <thread>

#include "win32/dpi.h"
#include "win32/module.h"
#include "win32/wide_text.h"
#include "dialogs/profile_editor_dialog.h"
#include "dialogs/profile_title_dialog.h"
#include "resources/resource.h"

namespace {

// Moves the editor over the desktop's icons and its slider to 50 as a drag would end, once the
// editor is on the screen.
void HalfTransparent() {
    for (int tries = 0; tries < 200; ++tries) {
        HWND editor = FindWindowW(L"#32770", plx::ToWide("Work - " PLAXEN_PRODUCT_TITLE).c_str());
        if (editor && IsWindowVisible(editor)) {
            SetWindowPos(editor, nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            HWND slider = GetDlgItem(editor, IDC_EDITOR_SLIDER);
            SendMessageW(slider, TBM_SETPOS, TRUE, 50);
            SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 50),
                         reinterpret_cast<LPARAM>(slider));
            return;
        }
        Sleep(50);
    }
}

}  // namespace

int main() {
    plx::BecomePerMonitorDpiAware();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    HMODULE module = LoadLibraryW(argv[1]);
    if (!module) return 3;
    const std::wstring shown = argv[2];
    if (shown == L"about") {
        using About = HRESULT(WINAPI*)(HWND, BOOL);
        auto about = reinterpret_cast<About>(GetProcAddress(module, "About"));
        return about && about(nullptr, 0) == S_OK ? 0 : 4;
    }
    plx::SetModuleInstance(module);
    plx::ProfileNameSet names = {"Default", "Presentation", "Work"};
    plx::ProfileNameSet taken = {"DEFAULT", "PRESENTATION"};
    if (shown == L"editor") {
        HIMAGELIST icons = nullptr;
        plx::DesktopItemList items = plx::BuildItemCatalogue(nullptr, &icons);
        // One item left out of the profile, so both kinds of rows show.
        for (plx::DesktopItem& item : items)
            if (item.Movable() && item.DisplayName.rfind("Notes", 0) == 0) item.Visible = false;
        plx::ProfileEditorDialog editor(items, taken, "Work");
        std::thread slider(HalfTransparent);
        const INT_PTR result = editor.Run(nullptr, icons);
        slider.join();
        return result == IDOK ? 0 : 1;
    }
    plx::ProfileTitleDialog dialog(names, taken, "Work");
    return dialog.Run(nullptr) == IDOK ? 0 : 1;
}

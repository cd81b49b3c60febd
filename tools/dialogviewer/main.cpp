// dialogviewer MODULE title|about
//
// Shows one of the module's dialogs as the user meets it, for a look or a screenshot: the title dialog
// with a few sample profiles, or the About box through the About export. Closes with the dialog.
#include <windows.h>

#include <cstring>

#include "com/module.h"
#include "dialogs/profile_title_dialog.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) return 3;
    if (std::strcmp(argv[2], "about") == 0) {
        using About = HRESULT(WINAPI*)(HWND, BOOL);
        auto about = reinterpret_cast<About>(GetProcAddress(module, "About"));
        return about && about(nullptr, 0) == S_OK ? 0 : 4;
    }
    plx::SetModuleInstance(module);
    plx::ProfileNameSet names = {"Default", "Presentation", "Work"};
    plx::ProfileNameSet taken = {"DEFAULT", "PRESENTATION"};
    plx::ProfileTitleDialog dialog(names, taken, "Work");
    return dialog.Run(nullptr) == IDOK ? 0 : 1;
}

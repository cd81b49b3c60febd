#include "dialogs/help.h"

#include <string>

#include "win32/module.h"
#include "win32/message_box.h"

namespace plx {

namespace {

// htmlhelp.h is not part of every tool chain; the entry point and the two commands are all we use.
using HtmlHelpProc = HWND(WINAPI*)(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data);
constexpr UINT kHhDisplayTopic = 0x0000;
constexpr UINT kHhHelpContext = 0x000F;

}  // namespace

HWND LaunchHelp(HWND window, DWORD contextNumber) {
    // The wide path: an install folder that the ANSI code page cannot spell still names this file.
    std::wstring file = ModulePathW();
    if (file.size() < 3) return nullptr;
    file.replace(file.size() - 3, 3, L"chm");

    HMODULE engine = GetModuleHandleW(L"hhctrl.ocx");
    bool loadedHere = false;
    if (!engine) {
        engine = LoadSystemLibrary(L"hhctrl.ocx");
        if (!engine) return nullptr;
        loadedHere = true;
    }
    // Export names are ANSI by the platform's design: GetProcAddress has no wide form.
    auto htmlHelp = reinterpret_cast<HtmlHelpProc>(GetProcAddress(engine, "HtmlHelpW"));
    if (!htmlHelp) {
        if (loadedHere) FreeLibrary(engine);
        return nullptr;
    }
    // The engine stays loaded: the help window it opened lives on after this call.
    if (contextNumber == kHelpDefaultTopic) return htmlHelp(window, file.c_str(), kHhDisplayTopic, 0);
    return htmlHelp(window, file.c_str(), kHhHelpContext, contextNumber);
}

void ShowHelp(HWND window, DWORD contextNumber) {
    if (!LaunchHelp(window, contextNumber)) ShowMessage(window, kHelpFailedMessage, MB_ICONERROR);
}

}  // namespace plx

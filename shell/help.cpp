#include "shell/help.h"

#include <cstring>

#include "com/module.h"
#include "engine/actions.h"

namespace plx {

namespace {

// htmlhelp.h is not part of every tool chain; the entry point and the two commands are all we use.
using HtmlHelpProc = HWND(WINAPI*)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);
constexpr UINT kHhDisplayTopic = 0x0000;
constexpr UINT kHhHelpContext = 0x000F;

}  // namespace

HWND LaunchHelp(HWND window, DWORD contextNumber) {
    char file[1024] = {};
    const DWORD length = GetModuleFileNameA(ModuleInstance(), file, sizeof(file));
    // A name that filled the buffer may have been cut short: it would name some other file.
    if (length < 3 || length >= sizeof(file)) return nullptr;
    std::memcpy(file + length - 3, "chm", 3);

    HMODULE engine = GetModuleHandleA("hhctrl.ocx");
    bool loadedHere = false;
    if (!engine) {
        engine = LoadLibraryA("hhctrl.ocx");
        if (!engine) return nullptr;
        loadedHere = true;
    }
    auto htmlHelp = reinterpret_cast<HtmlHelpProc>(GetProcAddress(engine, "HtmlHelpA"));
    if (!htmlHelp) {
        if (loadedHere) FreeLibrary(engine);
        return nullptr;
    }
    // The engine stays loaded: the help window it opened lives on after this call.
    if (contextNumber == kHelpDefaultTopic) return htmlHelp(window, file, kHhDisplayTopic, 0);
    return htmlHelp(window, file, kHhHelpContext, contextNumber);
}

void ShowHelp(HWND window, DWORD contextNumber) {
    if (!LaunchHelp(window, contextNumber))
        MessageBoxA(window, kHelpFailedMessage, kMessageCaption, MB_ICONERROR);
}

}  // namespace plx

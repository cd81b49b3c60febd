// action_caller MODULE EXPORT COUNT [QUIET]
//
// Loads the module (the path may hold any Unicode character) and calls one of its action exports
// COUNT times with no owner. The exit code is the number of calls that did not return S_OK (at most
// 250), 251 for bad arguments, 252 when the module or export cannot be found.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4) return 251;
    HMODULE module = LoadLibraryW(argv[1]);
    if (!module) return 252;
    char exportName[128] = {};
    WideCharToMultiByte(CP_ACP, 0, argv[2], -1, exportName, sizeof(exportName), nullptr, nullptr);
    using Action = HRESULT(WINAPI*)(HWND, BOOL);
    auto action = reinterpret_cast<Action>(GetProcAddress(module, exportName));
    if (!action) return 252;
    const long count = std::wcstol(argv[3], nullptr, 10);
    const BOOL quiet = argc > 4 ? static_cast<BOOL>(std::wcstol(argv[4], nullptr, 10)) : TRUE;
    int failures = 0;
    for (long i = 0; i < count; ++i)
        if (action(nullptr, quiet) != S_OK && failures < 250) ++failures;
    FreeLibrary(module);
    return failures;
}

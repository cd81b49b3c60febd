// desktophost: stands in for the shell's desktop window under Wine, which has none.
//
//   desktophost [--worker] [--autoarrange] [--snap] [--empty] [--probe] [--fill N] [--no-folder-view]
//               [--relayout-after MS]
//
// --no-folder-view offers no shell windows object, as older Windows and Wine's own shell do not lead
// to a folder view of the desktop list view (shell_windows.h).
// --relayout-after MS lays every icon out anew MS milliseconds after a display change, as the shell may.
// --probe builds the windows and ends at once (it also brings up Wine's own helper processes).
// Once its windows are up it broadcasts the registered message "TaskbarCreated", as the shell does,
// unless given --no-announce (a desktop that comes up after its taskbar announced itself).
//
// Send WM_COPYDATA (dwData 'RPRT', the output path as data) to the "Progman" window to have the
// current label and position of every icon written to a file; WM_CLOSE to "Progman" ends it. The
// other requests are listed in desktop_host.h. A right-click on the view's empty background (WM_CONTEXTMENU
// to the list view) opens the background menu with every registered context-menu handler in it.
#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "testbed/desktop_host.h"
#include "win32/unique.h"

namespace {

desktophost::Options ParseOptions() {
    desktophost::Options options;
    for (int i = 1; i < __argc; ++i) {
        const char* arg = __argv[i];
        if (!std::strcmp(arg, "--worker"))
            options.workerForm = true;
        else if (!std::strcmp(arg, "--autoarrange"))
            options.autoArrange = true;
        else if (!std::strcmp(arg, "--snap"))
            options.snapToGrid = true;
        else if (!std::strcmp(arg, "--empty"))
            options.noItems = true;
        else if (!std::strcmp(arg, "--probe"))
            options.exitAtOnce = true;
        else if (!std::strcmp(arg, "--no-folder-view"))
            options.noFolderView = true;
        else if (!std::strcmp(arg, "--fill") && i + 1 < __argc)
            options.fillCount = std::atoi(__argv[++i]);
        else if (!std::strcmp(arg, "--relayout-after") && i + 1 < __argc)
            options.relayoutAfterMs = static_cast<unsigned>(std::atoi(__argv[++i]));
    }
    return options;
}

// --no-announce: the desktop comes after a taskbar that announced itself already.
bool Announced() {
    for (int i = 1; i < __argc; ++i)
        if (!std::strcmp(__argv[i], "--no-announce")) return true;
    return false;
}

// The shell also learns of changes in the desktop directories from the file system itself; with
// both sources the view follows files created by any process, notified or not.
std::vector<HANDLE> WatchDesktopDirectories(std::vector<plx::unique_hchange>& watches) {
    std::vector<HANDLE> handles;
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        char path[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) continue;
        HANDLE h = FindFirstChangeNotificationA(
            path, FALSE,
            FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES);
        if (h == INVALID_HANDLE_VALUE) continue;
        watches.emplace_back(h);
        handles.push_back(h);
    }
    return handles;
}

}  // namespace

// --store-display-mode: stores the mode the display shows now as its mode, and ends. A Wine virtual
// desktop stores its own size as the display's mode, which the display outside it then seems to have
// left for a program's temporary mode; the test bed puts the stored mode back after each one.
bool StoreDisplayMode() {
    DEVMODEW mode = {};
    mode.dmSize = sizeof(mode);
    if (!EnumDisplaySettingsExW(nullptr, ENUM_CURRENT_SETTINGS, &mode, 0)) return false;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYFREQUENCY;
    return ChangeDisplaySettingsExW(nullptr, &mode, nullptr, CDS_UPDATEREGISTRY | CDS_NORESET, nullptr) ==
           DISP_CHANGE_SUCCESSFUL;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    for (int i = 1; i < __argc; ++i)
        if (!std::strcmp(__argv[i], "--store-display-mode")) return StoreDisplayMode() ? 0 : 1;
    // The UI thread is a single-threaded apartment (OleInitialize enters one), as the shell's desktop
    // thread is: the context-menu handlers it creates are apartment-threaded.
    OleInitialize(nullptr);
    int exitCode = 1;
    {
        desktophost::DesktopHost host(ParseOptions());
        const bool created = host.Create(instance);
        if (created && host.ExitAtOnce()) {
            exitCode = 0;
        } else if (created) {
            // As the shell does each time it starts: programs with notification icons add them again,
            // and the keeper attaches to this desktop.
            if (!Announced()) PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
            std::vector<plx::unique_hchange> watches;
            std::vector<HANDLE> handles = WatchDesktopDirectories(watches);
            for (;;) {
                DWORD wait = MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                       FALSE, INFINITE, QS_ALLINPUT);
                if (wait < WAIT_OBJECT_0 + handles.size()) {
                    FindNextChangeNotification(handles[wait - WAIT_OBJECT_0]);
                    host.ScheduleRefill();
                    continue;
                }
                MSG msg;
                bool quit = false;
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    if (msg.message == WM_QUIT) {
                        quit = true;
                        exitCode = static_cast<int>(msg.wParam);
                        break;
                    }
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
                if (quit) break;
            }
        }
    }
    OleUninitialize();
    return exitCode;
}

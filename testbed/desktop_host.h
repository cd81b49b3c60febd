// A stand-in for the part of the Windows shell that shows the desktop: "Progman" (or a "WorkerW")
// with a "SHELLDLL_DefView" holding the "SysListView32" of the desktop folder's items.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "testbed/shell_windows.h"

namespace desktophost {

struct Options {
    bool workerForm = false;   // view inside a later "WorkerW", "Progman" left without children
    bool autoArrange = false;  // LVS_AUTOARRANGE
    bool snapToGrid = false;   // LVS_EX_SNAPTOGRID
    bool noItems = false;      // do not fill the view from the desktop folder
    bool exitAtOnce = false;   // build the windows, then end
    int fillCount = 0;         // instead of the folder's items, this many items "Item 0001", ...

    // No shell windows object leading to a folder view of the items, as on older Windows.
    bool noFolderView = false;
    // As the shell may, seconds after a display change: every icon laid out anew in columns from the
    // top-left corner, this many milliseconds after the last change (0: never).
    unsigned relayoutAfterMs = 0;
};

// WM_COPYDATA requests that test programs send to the "Progman" window.
enum : ULONG_PTR {
    kRequestReport = 0x52505254,  // lpData: the path of the file to write the report to
    // lpData: "<module path>\0<export>\0<count>": loads the module here and calls the action export
    // (no owner, quiet) count times, as the shell's own process would. Returns the time taken in
    // microseconds, at least 1, or 0 when the module or export cannot be found.
    kRequestCallExport = 0x4C4C4143,
    // lpData: the path of the file to write the record of the last background menu to, one line per
    // fact, fields separated by tabs:
    //   item <depth> <position> <id> <state hex> <type hex> <text>   as the menu was shown
    //   handler <CLSID> <created hr> <initialized hr> <queried hr> <references left after release>
    //   chosen <id> <invoked hr>                                      once the menu has closed
    kRequestMenuReport = 0x554E454D,
};

// The ids of the stand-in's own items on the background menu; the handlers get ids from
// kFirstHandlerId on.
enum : UINT {
    kArrangeIconsId = 1,
    kRefreshId = 2,
    kPropertiesId = 3,
    kFirstHandlerId = 0x100,
    kLastHandlerId = 0x7FFF,
};

// Sent to "Progman": the desktop thread answers at once, then takes no message for wParam
// milliseconds. The sender knows the thread is stuck when its send returns; a posted request could
// still be waiting in the queue behind messages that a hook set after it would see.
inline constexpr UINT kFreezeMessage = WM_APP + 0x100;
// Sent to "Progman": the desktop thread gets the class object of every handler registered for folder
// backgrounds, the shell's first step with a handler, and makes no object from it. Returns how many
// it got.
inline constexpr UINT kGetHandlerClassesMessage = WM_APP + 0x101;

// Sent to "Progman": every icon is laid out anew at once, as with relayoutAfterMs.
inline constexpr UINT kLayOutAnewMessage = WM_APP + 0x102;

class DesktopHost {
public:
    explicit DesktopHost(const Options& options);
    ~DesktopHost();
    DesktopHost(const DesktopHost&) = delete;
    DesktopHost& operator=(const DesktopHost&) = delete;

    bool Create(HINSTANCE instance);
    HWND ListView() const { return list_; }
    HWND TopWindow() const { return progman_; }
    bool ExitAtOnce() const { return options_.exitAtOnce; }

    // Brings the view in line with the desktop folder: removed items go, new items are added,
    // items that stay keep their position.
    void Refill();
    // "styles <hex style> <hex extended style>" then one line "x<TAB>y<TAB>label" per item.
    bool WriteReport(const char* path) const;
    // Schedules a refill soon; called for shell and file system change notifications.
    void ScheduleRefill();
    // The background menu, as the shell builds it: own items, then every context-menu handler
    // registered for folder backgrounds. screen: where the menu opens.
    void ShowBackgroundMenu(POINT screen);
    bool WriteMenuReport(const char* path) const;

private:
    struct Entry {
        std::string parsingName;
    };

    static LRESULT CALLBACK TopProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK ViewProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleTop(HWND, UINT, WPARAM, LPARAM);
    void RegisterShellNotify();
    void AddFillItems();
    void Layout();
    void LayOutAnew();

    Options options_;
    HWND progman_ = nullptr;
    HWND worker_ = nullptr;
    HWND emptyWorker_ = nullptr;
    HWND defView_ = nullptr;
    HWND list_ = nullptr;
    ULONG notifyId_ = 0;
    int relayouts_ = 0;
    std::vector<std::string> menuRecord_;
    std::vector<std::unique_ptr<Entry>> entries_;
    ShellWindowsStandIn shellWindows_;
};

}  // namespace desktophost

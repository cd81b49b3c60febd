// A stand-in for the part of the Windows shell that shows the desktop: "Progman" (or a "WorkerW")
// with a "SHELLDLL_DefView" holding the "SysListView32" of the desktop folder's items.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

namespace desktophost {

struct Options {
    bool workerForm = false;   // view inside a later "WorkerW", "Progman" left without children
    bool autoArrange = false;  // LVS_AUTOARRANGE
    bool snapToGrid = false;   // LVS_EX_SNAPTOGRID
    bool noItems = false;      // do not fill the view from the desktop folder
    bool exitAtOnce = false;   // build the windows, then end
};

// WM_COPYDATA requests that test programs send to the "Progman" window.
enum : ULONG_PTR {
    kRequestReport = 0x52505254,  // lpData: the path of the file to write the report to
};

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

private:
    struct Entry {
        std::string parsingName;
    };

    static LRESULT CALLBACK TopProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK ViewProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleTop(HWND, UINT, WPARAM, LPARAM);
    void RegisterShellNotify();
    void Layout();

    Options options_;
    HWND progman_ = nullptr;
    HWND worker_ = nullptr;
    HWND emptyWorker_ = nullptr;
    HWND defView_ = nullptr;
    HWND list_ = nullptr;
    ULONG notifyId_ = 0;
    std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace desktophost

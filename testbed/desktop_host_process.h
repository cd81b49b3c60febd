// The stand-in desktop as a separate process, as the shell is to the module.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testbed {

struct IconState {
    std::string label;
    int x = 0;
    int y = 0;
    RECT bounds = {};  // LVIR_BOUNDS: the icon with its label
};

struct HostReport {
    DWORD style = 0;
    DWORD exStyle = 0;
    int relayouts = 0;  // how often the desktop laid every icon out anew by itself
    std::vector<IconState> icons;
    const IconState* Find(const std::string& label) const;
};

class DesktopHostProcess {
public:
    DesktopHostProcess() = default;
    ~DesktopHostProcess();
    DesktopHostProcess(const DesktopHostProcess&) = delete;
    DesktopHostProcess& operator=(const DesktopHostProcess&) = delete;

    // Starts desktophost.exe with the given arguments and waits until its list view exists.
    bool Start(const std::string& arguments = "");
    // Asks the desktop to close and waits for it to end.
    void Stop();
    // Ends the process at once, as a crash would: nothing in it gets to clean up.
    void Kill();

    DWORD ProcessId() const { return pi_.dwProcessId; }
    HANDLE Process() const { return pi_.hProcess; }
    HWND Progman() const { return progman_; }
    HWND ListView() const { return listView_; }

    // Asks the process for the label and position of every icon.
    bool Report(HostReport& report) const;
    // Waits until an icon with the label appears (or, with present false, disappears).
    bool WaitForIcon(const std::string& label, bool present = true, DWORD timeoutMs = 10000) const;
    // Moves the icon with the label; the list-view message carries no pointer, so it works from here.
    bool MoveIcon(const std::string& label, int x, int y) const;
    // Has the desktop process load the module and call an action export itself, count times.
    // Returns the microseconds that took there (0: the module or export was not found).
    LONG_PTR CallExportInside(const std::string& modulePath, const std::string& exportName, int count) const;
    // Stops the desktop thread from taking messages for a while; returns once it has stopped.
    bool Freeze(DWORD milliseconds) const;

    // Right-clicks the background at a point of the list view: posts the WM_CONTEXTMENU that a
    // right-click there produces.
    bool RightClickBackground(POINT client) const;
    // The open popup menu window (class "#32768") of the desktop process; null when none appears.
    HWND WaitForPopupMenu(DWORD timeoutMs = 10000) const;
    // The record of the last background menu (desktop_host.h): one entry per line, split at tabs.
    bool MenuReport(std::vector<std::vector<std::string>>& lines) const;
    // Picks an item of a registered handler's submenu as a user does: a right-click on the empty
    // background at a point of the list view, then the keyboard: down to the owner-drawn item, right
    // into its submenu, down to the item with the text, Enter. beforeChoosing runs while the submenu
    // is open with the item selected. True once the desktop has run that item's command.
    bool PickFromMenu(POINT at, const std::string& text,
                      const std::function<void()>& beforeChoosing = nullptr) const;

private:
    void Release();
    // Asks the desktop to write one of its reports and returns the text (false: no answer).
    bool RequestReport(ULONG_PTR request, std::string& text) const;

    PROCESS_INFORMATION pi_ = {};
    HWND progman_ = nullptr;
    HWND listView_ = nullptr;
};

}  // namespace testbed

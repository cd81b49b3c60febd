// The stand-in desktop as a separate process, as the shell is to the module.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testbed {

struct IconState {
    std::string label;
    int x = 0;
    int y = 0;
};

struct HostReport {
    DWORD style = 0;
    DWORD exStyle = 0;
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
    void Stop();

    DWORD ProcessId() const { return pi_.dwProcessId; }
    HWND Progman() const { return progman_; }
    HWND ListView() const { return listView_; }

    // Asks the process for the label and position of every icon.
    bool Report(HostReport& report) const;
    // Waits until an icon with the label appears (or, with present false, disappears).
    bool WaitForIcon(const std::string& label, bool present = true, DWORD timeoutMs = 10000) const;

private:
    PROCESS_INFORMATION pi_ = {};
    HWND progman_ = nullptr;
    HWND listView_ = nullptr;
};

}  // namespace testbed

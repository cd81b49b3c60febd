// The module as other programs use it: a copy in a temporary directory of its own, loaded into this
// process (the module keeps its hidden store beside its file, and tests must not write beside the
// build's copy), and action_caller.exe, another program that calls its exports.
#pragma once

#include <windows.h>

#include <string>

#include "testbed/testbed.h"
#include "win32/unique.h"

namespace testbed {

using ActionExport = HRESULT(WINAPI*)(HWND, BOOL);

class ModuleCopy {
public:
    // directoryName: the subdirectory that holds the copy; it may hold any Unicode character.
    explicit ModuleCopy(const std::wstring& directoryName = L"module");
    ~ModuleCopy();
    ModuleCopy(const ModuleCopy&) = delete;
    ModuleCopy& operator=(const ModuleCopy&) = delete;

    bool Loaded() const { return static_cast<bool>(module_); }
    HMODULE Handle() const { return module_.get(); }
    const std::wstring& Path() const { return path_; }
    std::string AnsiPath() const;
    ActionExport Export(const char* name) const;
    // Calls an action export; E_NOTIMPL when the module has no such export.
    HRESULT Call(const char* name, BOOL quiet = TRUE, HWND owner = nullptr) const;

private:
    TempDirectory dir_;
    std::wstring path_;
    plx::unique_hmodule module_;
};

// Starts action_caller.exe: another program that loads the module and calls an export count times.
class CallerProcess {
public:
    CallerProcess(const std::wstring& modulePath, const char* exportName, int count);
    ~CallerProcess();
    CallerProcess(const CallerProcess&) = delete;
    CallerProcess& operator=(const CallerProcess&) = delete;

    // Waits for the end; the number of calls that failed, or -1 when the process did not end in time.
    int Failures() const;
    // True once the process has ended (a caller whose calls this thread must answer waits with this).
    bool Ended() const { return started_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; }

private:
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
};

// The agent window that carries actions into the desktop's process, if there is one.
HWND FindAgentWindow();
DWORD ProcessOf(HWND window);

// A saved position: an 8-byte value (x, y, signed little-endian) in the key at path below
// HKEY_CURRENT_USER.
bool ReadSavedPoint(const std::string& path, const std::string& name, int& x, int& y);
bool WriteSavedPoint(const std::string& path, const std::string& name, int x, int y);

}  // namespace testbed

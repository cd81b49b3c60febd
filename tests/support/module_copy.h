// The module as other programs use it: a copy loaded from a directory of its own, and
// action_caller.exe, another program that calls its exports.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/testbed.h"
#include "win32/unique.h"

namespace testbed {

using ActionExport = HRESULT(WINAPI*)(HWND, BOOL);

// Loads a copy of the module from a directory of its own, so that its hidden store is there too,
// and finds the action exports in it.
class ModuleCopy {
public:
    // directoryName: a subdirectory of a new temporary directory; may hold any Unicode character.
    explicit ModuleCopy(const std::wstring& directoryName = L"module");
    ~ModuleCopy() { module_.reset(); }
    ModuleCopy(const ModuleCopy&) = delete;
    ModuleCopy& operator=(const ModuleCopy&) = delete;

    bool Loaded() const { return static_cast<bool>(module_); }
    const std::wstring& Path() const { return path_; }
    // The path in the ANSI code page, for the requests that take one.
    std::string AnsiPath() const;
    ActionExport Export(const char* name) const {
        return reinterpret_cast<ActionExport>(GetProcAddress(module_.get(), name));
    }
    HRESULT Call(const char* name, BOOL quiet = TRUE, HWND owner = nullptr) const {
        ActionExport action = Export(name);
        return action ? action(owner, quiet) : E_NOTIMPL;
    }

private:
    TempDirectory dir_;
    std::wstring directory_;
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

private:
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
};

}  // namespace testbed

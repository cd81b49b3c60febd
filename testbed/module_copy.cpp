#include "testbed/module_copy.h"

#include <cstring>

#include "layout/profiles.h"
#include "store/profile_tree.h"

namespace testbed {

namespace {
std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
}
}  // namespace

ModuleCopy::ModuleCopy(const std::wstring& directoryName) {
    const std::wstring directory = Widen(dir_.path()) + L"\\" + directoryName;
    CreateDirectoryW(directory.c_str(), nullptr);
    path_ = directory + L"\\Plaxen.dll";
    if (CopyFileW(Widen(ModulePath()).c_str(), path_.c_str(), FALSE))
        module_.reset(LoadLibraryW(path_.c_str()));
}

ModuleCopy::~ModuleCopy() { module_.reset(); }

std::string ModuleCopy::AnsiPath() const {
    char path[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, path_.c_str(), -1, path, sizeof(path), nullptr, nullptr);
    return path;
}

ActionExport ModuleCopy::Export(const char* name) const {
    return reinterpret_cast<ActionExport>(GetProcAddress(module_.get(), name));
}

HRESULT ModuleCopy::Call(const char* name, BOOL quiet, HWND owner) const {
    ActionExport action = Export(name);
    return action ? action(owner, quiet) : E_NOTIMPL;
}

CallerProcess::CallerProcess(const std::wstring& modulePath, const char* exportName, int count) {
    const std::wstring command = L"\"" + Widen(ExeDirectory() + "\\action_caller.exe") + L"\" \"" +
                                 modulePath + L"\" " + Widen(exportName) + L" " + std::to_wstring(count);
    started_ = StartTiedProcess(command, pi_);
}

CallerProcess::~CallerProcess() {
    if (!started_) return;
    WaitForSingleObject(pi_.hProcess, 60000);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
}

int CallerProcess::Failures() const {
    if (!started_ || WaitForSingleObject(pi_.hProcess, 120000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<int>(code);
}

HWND FindAgentWindow() { return FindWindowA(nullptr, plx::kAgentWindowTitle); }

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

bool ReadSavedPoint(const std::string& path, const std::string& name, int& x, int& y) {
    plx::unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, path);
    BYTE data[8] = {};
    DWORD size = sizeof(data);
    if (!key || plx::ReadBytes(key.get(), name.c_str(), data, size) != ERROR_SUCCESS || size != sizeof(data))
        return false;
    const POINT pt = plx::DecodePosition(data);
    x = pt.x;
    y = pt.y;
    return true;
}

bool WriteSavedPoint(const std::string& path, const std::string& name, int x, int y) {
    plx::unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, path);
    BYTE data[8];
    plx::EncodePosition({x, y}, data);
    return key && plx::WriteBytes(key.get(), name.c_str(), data, sizeof(data)) == ERROR_SUCCESS;
}

}  // namespace testbed

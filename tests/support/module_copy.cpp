#include "tests/support/module_copy.h"

#include <cstring>
#include <vector>

namespace testbed {

ModuleCopy::ModuleCopy(const std::wstring& directoryName) {
    std::wstring base(dir_.path().begin(), dir_.path().end());
    directory_ = base + L"\\" + directoryName;
    CreateDirectoryW(directory_.c_str(), nullptr);
    path_ = directory_ + L"\\Plaxen.dll";
    const std::string original = ModulePath();
    CopyFileW(std::wstring(original.begin(), original.end()).c_str(), path_.c_str(), FALSE);
    module_.reset(LoadLibraryW(path_.c_str()));
}

std::string ModuleCopy::AnsiPath() const {
    char path[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, path_.c_str(), -1, path, sizeof(path), nullptr, nullptr);
    return path;
}

CallerProcess::CallerProcess(const std::wstring& modulePath, const char* exportName, int count) {
    const std::string exe = ExeDirectory() + "\\action_caller.exe";
    std::wstring command = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" \"" + modulePath + L"\" " +
                           std::wstring(exportName, exportName + std::strlen(exportName)) + L" " +
                           std::to_wstring(count);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW si = {sizeof(si)};
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
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

}  // namespace testbed

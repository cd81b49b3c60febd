#include "win32/module.h"

#include "win32/wide_text.h"

namespace plx {

namespace {
HINSTANCE g_instance = nullptr;
volatile LONG g_locks = 0;
CRITICAL_SECTION g_section;
bool g_sectionReady = false;
// The longest path the wide file functions take.
constexpr size_t kLongestPath = 32768;
}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

std::wstring ModulePathW() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(ModuleInstance(), &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        // A name that fills the buffer may have been cut short: it would name some other file.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= kLongestPath) return {};
        path.resize(path.size() * 2);
    }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE library = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows 7 and Vista without the update that brought the flag refuse it: the full path to the
    // system folder then leaves no search either.
    if (library || GetLastError() != ERROR_INVALID_PARAMETER) return library;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    return LoadLibraryExW((std::wstring(folder) + L"\\" + name).c_str(), nullptr,
                          LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::string ModulePath() {
    std::wstring path = ModulePathW();
    if (path.size() >= MAX_PATH) {
        // The store's paths are plain paths under MAX_PATH: a longer folder may still have a short
        // form that fits.
        std::wstring shortPath(MAX_PATH, L'\0');
        const DWORD length =
            GetShortPathNameW(path.c_str(), &shortPath[0], static_cast<DWORD>(shortPath.size()));
        if (length == 0 || length >= shortPath.size()) return {};
        shortPath.resize(length);
        path = shortPath;
    }
    return ToUtf8(path);
}

void LockModule() { InterlockedIncrement(&g_locks); }
void UnlockModule() { InterlockedDecrement(&g_locks); }
LONG ModuleLockCount() { return g_locks; }

bool InitializeModuleState() {
    g_sectionReady = InitializeCriticalSectionAndSpinCount(&g_section, 0) != FALSE;
    return g_sectionReady;
}

// Also called after a failed attach, when the system unloads the module at once.
void DeleteModuleState() {
    if (g_sectionReady) DeleteCriticalSection(&g_section);
    g_sectionReady = false;
}
CRITICAL_SECTION& ModuleCriticalSection() { return g_section; }

}  // namespace plx

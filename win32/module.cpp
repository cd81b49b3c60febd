#include "win32/module.h"

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

namespace {

// The ANSI spelling of a path, or empty when the code page has no exact one: a best-fit character
// ("O" for "\u03A9") would name another file.
std::string ExactAnsi(const std::wstring& path) {
    BOOL lossy = FALSE;
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return {};
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, &result[0], size, nullptr, &lossy);
    result.resize(static_cast<size_t>(size) - 1);
    return lossy ? std::string() : result;
}

}  // namespace

std::string ModulePath() {
    const std::wstring path = ModulePathW();
    if (path.empty()) return {};
    std::string ansi = ExactAnsi(path);
    if (ansi.empty()) {
        // The short form of every folder is plain ASCII where the volume keeps short names.
        std::wstring shortPath(MAX_PATH, L'\0');
        const DWORD length =
            GetShortPathNameW(path.c_str(), &shortPath[0], static_cast<DWORD>(shortPath.size()));
        if (length == 0 || length >= shortPath.size()) return {};
        shortPath.resize(length);
        ansi = ExactAnsi(shortPath);
    }
    return ansi.size() < MAX_PATH ? ansi : std::string();
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

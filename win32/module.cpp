#include "win32/module.h"

#include "win32/long_path.h"
#include "win32/unique.h"
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

std::wstring CanonicalFolder(const std::wstring& filePath) {
    const size_t lastSlash = filePath.find_last_of(L'\\');
    if (lastSlash == std::wstring::npos) return {};
    std::wstring folder = filePath.substr(0, lastSlash);
    if (folder.size() == 2 || (folder.size() == 6 && folder.compare(0, 4, kLongPathPrefix) == 0))
        folder += L'\\';  // "C:" alone names the drive's current folder, not its root
    unique_hfile handle(CreateFileW(FileApiPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle.get(), &final[0], static_cast<DWORD>(final.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < final.size()) {
            final.resize(length);
            break;
        }
        final.resize(length + 1);
    }
    final = PlainPath(final);
    // A drive path from the file system is the one spelling (a subst drive's folder is named on the
    // drive it stands for). A share is named without the drive letter mapped to it, which the store
    // would refuse (nothing moves through a path without a drive): the spelling given is kept there,
    // in its long form.
    if (final.size() >= 3 && final[1] == L':' && final[2] == L'\\') {
        if (final.size() > 3 && final.back() == L'\\') final.pop_back();
        return final;
    }
    std::wstring longForm(32768, L'\0');
    const DWORD length =
        GetLongPathNameW(FileApiPath(folder).c_str(), &longForm[0], static_cast<DWORD>(longForm.size()));
    if (length == 0 || length >= longForm.size()) return PlainPath(folder);
    longForm.resize(length);
    return PlainPath(longForm);
}

std::string ModuleFolder() {
    // Resolved once for each path the module was loaded by (the test programs load several copies,
    // one after another, perhaps at one address).
    static SRWLOCK lock = SRWLOCK_INIT;
    static std::wstring resolvedFor;
    static std::wstring resolved;
    std::wstring folder;
    AcquireSRWLockExclusive(&lock);
    try {
        const std::wstring path = ModulePathW();
        if (path != resolvedFor || resolved.empty()) {
            resolved = path.empty() ? std::wstring() : CanonicalFolder(path);
            resolvedFor = path;
        }
        folder = resolved;
    } catch (...) {
        // Out of memory: no folder, so no store this time; the lock must go all the same.
        folder.clear();
    }
    ReleaseSRWLockExclusive(&lock);
    return ToUtf8(folder);
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

// OrvaneSetup.dll: the steps of both installers that need handles, not paths. It ships in neither's
// files: the setup program loads it from its own temporary folder, the Windows Installer package runs it
// from its Binary table as custom actions (deferred, as SYSTEM).
#include <windows.h>
// clang-format off
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <string>

#include "store/catalogue.h"
#include "store/store_setup.h"
#include "win32/boundary.h"
#include "win32/wide_text.h"

namespace {

// CustomActionData: what the immediate action of the same name gave a deferred one.
std::wstring ActionData(MSIHANDLE install) {
    std::wstring value(MAX_PATH, L'\0');
    DWORD size = static_cast<DWORD>(value.size());
    UINT status = MsiGetPropertyW(install, L"CustomActionData", &value[0], &size);
    if (status == ERROR_MORE_DATA) {
        value.resize(++size);
        status = MsiGetPropertyW(install, L"CustomActionData", &value[0], &size);
    }
    if (status != ERROR_SUCCESS) return {};
    value.resize(size);
    return value;
}

// A refusal stops the install, which rolls back; its reason goes to the log (and, with an interface,
// into a message box).
UINT Finish(MSIHANDLE install, const plx::SetupStep& step) {
    if (step.done) return ERROR_SUCCESS;
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, step.reason.c_str());
    MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
                      record);
    MsiCloseHandle(record);
    return ERROR_INSTALL_FAILURE;
}

// The store that the module installed below Program Files finds (the package installs nowhere else).
std::wstring MachineStore() {
    const std::string data = plx::MachineDataFolder();
    return data.empty() ? std::wstring() : plx::ToWide(data + plx::kMachineStoreChain);
}

std::wstring ParentOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// Where PrepareStoreFolders moved an earlier version's store from, until the install is committed: a
// rollback, which leaves that version installed, moves the store back there. In the package's own key.
constexpr wchar_t kPackageKey[] = L"Software\\Quillmar\\Orvane Deluxe";
constexpr wchar_t kMovedFromValue[] = L"StoreMovedFrom";

void RecordMove(const std::wstring& from) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPackageKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, kMovedFromValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(from.c_str()),
                   static_cast<DWORD>((from.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring RecordedMove() {
    wchar_t from[MAX_PATH] = {};
    DWORD size = sizeof(from);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kPackageKey, kMovedFromValue, RRF_RT_REG_SZ, nullptr, from, &size) !=
        ERROR_SUCCESS)
        return {};
    return from;
}

void ForgetMove() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackageKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, kMovedFromValue);
    RegCloseKey(key);
}

}  // namespace

// Custom action, CustomActionData = [INSTALLDIR]: every folder that exists on its path.
extern "C" UINT __stdcall CheckInstallFolder(MSIHANDLE install) {
    return plx::CallAtBoundary<UINT>(ERROR_INSTALL_FAILURE, [&] {
        return Finish(install, plx::CheckInstallPath(WithoutTrailingBackslash(ActionData(install))));
    });
}

// Custom action, CustomActionData = [INSTALLDIR]: the store below the program data folder, with the
// store an earlier version kept in the install folder moved into it.
extern "C" UINT __stdcall PrepareStoreFolders(MSIHANDLE install) {
    return plx::CallAtBoundary<UINT>(ERROR_INSTALL_FAILURE, [&] {
        const std::wstring store = MachineStore();
        if (store.empty())
            return Finish(install, {false, L"The machine's program data folder could not be found."});
        const std::wstring earlier = WithoutTrailingBackslash(ActionData(install)) + L"\\Hidden";
        const plx::SetupStep step = plx::PrepareStore(store, ParentOf(ParentOf(ParentOf(store))), earlier);
        if (step.movedEarlierStore) RecordMove(earlier);
        return Finish(install, step);
    });
}

// Rollback custom action of PrepareStoreFolders: the store back where the version that stays installed
// looks for it.
extern "C" UINT __stdcall ReturnStoreOnRollback(MSIHANDLE install) {
    return plx::CallAtBoundary<UINT>(ERROR_SUCCESS, [&] {
        const std::wstring from = RecordedMove();
        if (from.empty()) return static_cast<UINT>(ERROR_SUCCESS);
        const plx::SetupStep step = plx::ReturnStoreToEarlierPlace(MachineStore(), from);
        ForgetMove();
        Finish(install, step);
        return static_cast<UINT>(ERROR_SUCCESS);
    });
}

// Commit custom action: the install stands, and so does the move.
extern "C" UINT __stdcall ForgetStoreMove(MSIHANDLE) {
    return plx::CallAtBoundary<UINT>(ERROR_SUCCESS, [] {
        ForgetMove();
        return static_cast<UINT>(ERROR_SUCCESS);
    });
}

// For the setup program: the store, the folder above it that must exist, and an earlier version's
// store. 0 when done; else 1, with the reason in reason (chars long).
extern "C" int __stdcall PrepareStoreW(const wchar_t* store, const wchar_t* above, const wchar_t* earlier,
                                       wchar_t* reason, int chars) {
    return plx::CallAtBoundary<int>(1, [&] {
        const plx::SetupStep step = plx::PrepareStore(store, above, earlier);
        if (reason && chars > 0) lstrcpynW(reason, step.reason.c_str(), chars);
        return step.done ? 0 : 1;
    });
}

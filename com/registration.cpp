#include "com/registration.h"

#include <oleauto.h>

#include <string>
#include <vector>

#include "com/identities.h"
#include "win32/module.h"
#include "engine/channel.h"
#include "layout/profiles.h"
#include "store/profile_tree.h"
#include "store/store_security.h"
#include "store/store_setup.h"
#include "store/store_walk.h"
#include "store/user_data.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// One value of a registration entry: in the subkey (empty: the entry's own key), a value name (null:
// the default value) with REG_SZ data (null: the key alone, no value).
struct EntryValue {
    std::string subkey;
    const char* name;
    std::wstring data;
    bool hasData;
};

// A key under HKEY_CLASSES_ROOT that the module owns: written with its values, removed with
// everything under it. fresh: deleted before it is written, so that nothing of an earlier
// registration stays below it.
struct Entry {
    std::string key;
    bool fresh;
    std::vector<EntryValue> values;
};

EntryValue Value(std::string subkey, const char* name, std::wstring data) {
    return {std::move(subkey), name, std::move(data), true};
}
EntryValue Value(std::string subkey, const char* name, const std::string& data) {
    return Value(std::move(subkey), name, ToWide(data));
}
EntryValue KeyOnly(std::string subkey) { return {std::move(subkey), nullptr, {}, false}; }

// What the AppID script writes.
std::vector<Entry> AppIdEntries() {
    const std::string appId = GuidString(kAppId);
    return {
        {"AppID\\" + appId, false, {Value("", nullptr, kShellHandlerName)}},
        {std::string("AppID\\") + kAppIdModuleKey, false, {Value("", "AppID", appId)}},
    };
}

// What the class script writes.
std::vector<Entry> ClassEntries(const std::wstring& modulePath) {
    const std::string clsid = GuidString(CLSID_DesktopPlaxen);
    return {
        {kProgId, false, {Value("", nullptr, kClassDescription), Value("CLSID", nullptr, clsid)}},
        {kVersionIndependentProgId,
         false,
         {Value("", nullptr, kClassDescription), Value("CLSID", nullptr, clsid),
          Value("CurVer", nullptr, kProgId)}},
        {"CLSID\\" + clsid,
         true,
         {Value("", nullptr, kClassDescription), Value("", "AppID", GuidString(kAppId)),
          Value("ProgID", nullptr, kProgId),
          Value("VersionIndependentProgID", nullptr, kVersionIndependentProgId), KeyOnly("Programmable"),
          Value("InprocServer32", nullptr, modulePath),
          Value("InprocServer32", "ThreadingModel", "Apartment"),
          Value("TypeLib", nullptr, GuidString(LIBID_PlaxenLib))}},
        {std::string(kContextMenuHandlersKey) + "\\" + kShellHandlerName, true, {Value("", nullptr, clsid)}},
    };
}

HRESULT WriteEntries(const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        if (entry.fresh) DeleteKeyTree(HKEY_CLASSES_ROOT, entry.key);
        for (const EntryValue& value : entry.values) {
            LONG status = ERROR_SUCCESS;
            const std::string path = value.subkey.empty() ? entry.key : entry.key + "\\" + value.subkey;
            unique_hkey key = CreateKey(HKEY_CLASSES_ROOT, path, &status);
            if (!key) return HRESULT_FROM_WIN32(status);
            if (value.hasData) {
                // Wide: the module's path may hold characters that no code page spells.
                const std::wstring name = value.name ? ToWide(value.name) : std::wstring();
                status = RegSetValueExW(key.get(), value.name ? name.c_str() : nullptr, 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(value.data.c_str()),
                                        static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
                if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
            }
        }
    }
    return S_OK;
}

// A key that is not there is as good as removed.
HRESULT RemoveEntries(const std::vector<Entry>& entries) {
    HRESULT result = S_OK;
    for (const Entry& entry : entries) {
        const LONG status = DeleteKeyTree(HKEY_CLASSES_ROOT, entry.key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = HRESULT_FROM_WIN32(status);
    }
    return result;
}

bool IsNtFamily() { return (GetVersion() & 0x80000000u) == 0; }

// From the module's own TYPELIB 1, or else from the .tlb file of the same name beside it.
HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
    std::wstring path = modulePath;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) {
        const size_t dot = path.find_last_of(L'.');
        const size_t slash = path.find_last_of(L'\\');
        if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) path.erase(dot);
        path += L".tlb";
        hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
        if (FAILED(hr)) return hr;
    }
    hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
    library->Release();
    return hr;
}

bool TypeLibraryRegistered() {
    BSTR path = nullptr;
    const HRESULT hr =
        QueryPathOfRegTypeLib(LIBID_PlaxenLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale, &path);
    SysFreeString(path);
    return SUCCEEDED(hr);
}

HRESULT UnregisterTypeLibrary() {
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    const HRESULT hr = UnRegisterTypeLib(LIBID_PlaxenLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale, kind);
    // Nothing registered is nothing to remove.
    return FAILED(hr) && TypeLibraryRegistered() ? hr : S_OK;
}

}  // namespace

HRESULT RegisterServer() {
    if (IsNtFamily()) {
        // Only the right to set a value is asked for: whoever may approve shell extensions may register.
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ToWide(kApprovedKey).c_str(), 0, KEY_SET_VALUE, &raw) !=
            ERROR_SUCCESS)
            return E_ACCESSDENIED;
        unique_hkey approved(raw);
        if (WriteString(approved.get(), GuidString(CLSID_DesktopPlaxen).c_str(), kMessageCaption) !=
            ERROR_SUCCESS)
            return E_ACCESSDENIED;
    }
    HRESULT hr = WriteEntries(AppIdEntries());
    if (FAILED(hr)) return hr;
    const std::wstring modulePath = ModulePathW();
    if (modulePath.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    hr = WriteEntries(ClassEntries(modulePath));
    if (FAILED(hr)) return hr;
    return RegisterTypeLibrary(modulePath);
}

HRESULT UnregisterServer() {
    // Every hidden item comes back to the desktop, in the shell's process when it can be reached and
    // from this one otherwise. What still cannot come back keeps its record in the user's tree.
    // Moving files needs no shell; without a list view no positions are saved or restored. With an
    // administrator's or SYSTEM's rights (an uninstall), the release of the user's level (its sweep,
    // its copies between volumes, the shell's file operations that follow links) would act with
    // those rights in folders that the user controls: the hardened return below then brings this
    // user's items back like everybody else's.
    // A release that the desktop still runs after the channel gave up holds the store's lock: what
    // follows waits for it, and without it moves and deletes nothing.
    if (!RunAction(Action::ReleaseHiddenItems, nullptr, TRUE) && !ActsAsAdministrator())
        ReleaseHiddenItems(nullptr);
    // The module is going: other users' items come back to their own desktops as well, as far as this
    // account may reach them (an uninstall runs this as an administrator or as SYSTEM).
    const std::wstring store = ToWide(HiddenStoreDirectory());
    const bool returned = ReturnStoredItems(store, MachineDesktopFolders());
    // The store goes with the module once nothing is left in it (the installers no longer make or
    // remove it by path).
    if (returned && ActsAsAdministrator()) RemoveEmptyStore(store);
    const bool removed = RemoveUserData();

    if (IsNtFamily()) {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ToWide(kApprovedKey).c_str(), 0, KEY_SET_VALUE, &raw) ==
            ERROR_SUCCESS) {
            unique_hkey approved(raw);
            RegDeleteValueW(approved.get(), ToWide(GuidString(CLSID_DesktopPlaxen)).c_str());
        }
    }

    // Everything of ours that is there goes, even past a step that failed; the first failure is the
    // answer. What is missing already (a second run, a registration cut short) counts as removed.
    HRESULT hr = RemoveEntries(ClassEntries(ModulePathW()));
    for (const HRESULT step : {UnregisterTypeLibrary(), RemoveEntries(AppIdEntries())})
        if (SUCCEEDED(hr)) hr = step;
    // Items and records left for want of the store's lock make the answer a failure.
    if (SUCCEEDED(hr) && !(returned && removed)) hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    return hr;
}

}  // namespace plx

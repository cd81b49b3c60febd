#include "store/settings.h"

#include "store/profile_tree.h"
#include "win32/registry.h"

namespace plx {

namespace {

std::optional<DWORD> ReadValue(HKEY parent, const char* path, const char* name) {
    DWORD value = 0;
    unique_hkey key = OpenKeyForReading(parent, path);
    if (!key || ReadNumber(key.get(), name, value) != ERROR_SUCCESS) return std::nullopt;
    return value;
}

}  // namespace

std::optional<DWORD> ReadSetting(const char* name) {
    // A 32-bit program on 64-bit Windows reads the policies in the 64-bit view too: Group Policy writes
    // them there, and Software\Policies is shared between the views.
    if (std::optional<DWORD> policy = ReadValue(HKEY_LOCAL_MACHINE, kPolicyKey, name)) return policy;
    return ReadValue(HKEY_CURRENT_USER, kRootKey, name);
}

bool ReadSwitch(const char* name, bool fallback) {
    const std::optional<DWORD> value = ReadSetting(name);
    return value ? *value != 0 : fallback;
}

}  // namespace plx

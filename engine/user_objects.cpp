#include "engine/user_objects.h"

#include "win32/wide_text.h"

namespace plx {

std::wstring ObjectName(const char* baseName, const std::wstring& userSid) {
    return ToWide(baseName) + L" " + userSid;
}

std::wstring UserObjectName(const char* baseName) { return ObjectName(baseName, ProcessUserSid()); }

unique_handle CreateUserMutex(const char* baseName, bool& existed) {
    existed = false;
    // The owner check after the call sets the last error anew: what the creation said is kept here.
    return CreateUserObject(baseName, [&](SECURITY_ATTRIBUTES* attributes, LPCWSTR name) {
        HANDLE mutex = CreateMutexW(attributes, FALSE, name);
        existed = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
        return mutex;
    });
}

}  // namespace plx

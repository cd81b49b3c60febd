#include "win32/owner.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "win32/unique.h"

namespace plx {

namespace {


}  // namespace

std::wstring ProcessUserSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    unique_handle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    LPWSTR text = nullptr;
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    unique_hlocal owned(text);
    return text;
}

bool OwnedByUserOrSystem(HANDLE object, SE_OBJECT_TYPE type, const std::wstring& userSid) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &raw) !=
        ERROR_SUCCESS)
        return false;
    unique_hlocal descriptor(raw);
    if (!owner) return false;
    if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        return true;
    LPWSTR text = nullptr;
    if (userSid.empty() || !ConvertSidToStringSidW(owner, &text)) return false;
    unique_hlocal ownedText(text);
    return userSid == text;
}

}  // namespace plx

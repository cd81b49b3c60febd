// Named objects for one user in the session's namespace: the channel's, and the keeper's that keeps one
// keeper per user and session.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <string>

#include "win32/owner.h"
#include "win32/unique.h"

namespace plx {

// baseName followed by a space and userSid.
std::wstring ObjectName(const char* baseName, const std::wstring& userSid);

// A named object in this session's namespace, for this user only. The name carries the
// user's SID; the object is made with that user as its owner and an access list for that user and
// SYSTEM alone, so that the shell (the same user, not elevated) opens what an elevated caller made,
// and the reverse. One that exists already is used only when this user, SYSTEM or the administrators
// own it: another user of the session ("Run as") who made it first gets no say in it, and the channel
// fails instead. create: makes or opens the object from the attributes and the name.
template <typename Create>
unique_handle CreateUserObject(const char* baseName, Create create) {
    const std::wstring sid = ProcessUserSid();
    if (sid.empty()) return {};
    const std::wstring sddl = L"O:" + sid + L"D:P(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &raw, nullptr))
        return {};
    unique_hlocal descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
    unique_handle object(create(&attributes, ObjectName(baseName, sid).c_str()));
    if (!object || !OwnedByUserOrSystem(object.get(), SE_KERNEL_OBJECT, sid)) return {};
    return object;
}

// baseName followed by a space and the SID of the user whose processes use it.
std::wstring UserObjectName(const char* baseName);

// A mutex made as CreateUserObject makes it; existed: it was there already.
unique_handle CreateUserMutex(const char* baseName, bool& existed);

}  // namespace plx

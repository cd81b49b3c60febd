// Who a process runs as and who owns an object, for the checks that keep one user's objects from
// another user's reach.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include <string>

namespace plx {

// The user this process runs as, as SID text ("S-1-5-21-..."); empty when the token cannot be read.
std::wstring ProcessUserSid();

// True when the object is owned by that user (SID text), by SYSTEM or by the administrators: nobody
// else can have set such an owner, so nobody else chose the object's access list. The handle needs
// READ_CONTROL.
bool OwnedByUserOrSystem(HANDLE object, SE_OBJECT_TYPE type, const std::wstring& userSid);

}  // namespace plx

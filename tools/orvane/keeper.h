// The keeper: `orvanew keep`, the companion's resident mode for a user's session (keeper.cpp).
#pragma once

#include <windows.h>

#include "resources/resource.h"

namespace orvane {

// The keeper's single-instance name: one keeper per user and session (engine/channel.h's kind).
inline constexpr char kKeeperMutexName[] = "Local\\" PLAXEN_PRODUCT_TITLE " keeper";
// The class of its hidden window, which takes the shell's broadcasts, the notification icon's
// messages and the session's end.
inline constexpr wchar_t kKeeperWindowClass[] = L"" PLAXEN_PRODUCT_TITLE " keeper";

// True once the desktop's list view exists and shows at least one icon; false when seconds ran out.
bool WaitForDesktop(long seconds);

// Makes the logon restore (waiting first up to waitSeconds for the desktop, when not negative) and
// then stays until the session ends or the user chooses Exit, following the shell when it starts
// again. module: the Plaxen.dll beside the program. Returns the program's exit code.
int Keep(HMODULE module, bool quiet, long waitSeconds);

}  // namespace orvane

// Self-registration: the entries that make the shell load the module as the desktop background's
// context-menu handler, and their removal.
#pragma once

#include <windows.h>

namespace plx {

HRESULT RegisterServer();
// Brings every hidden item back first, removes the user's data, then the registration entries.
HRESULT UnregisterServer();

}  // namespace plx

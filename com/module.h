#pragma once

#include <windows.h>

namespace plx {

// The module's own instance handle, recorded at process attach. Code linked into another program
// (the test programs) may point it at a loaded copy of the module.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// COM server lock count: one per live object and per LockServer(TRUE).
void LockModule();
void UnlockModule();
LONG ModuleLockCount();

}  // namespace plx

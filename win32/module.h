#pragma once

#include <windows.h>

#include <string>

namespace plx {

// The module's own instance handle, recorded at process attach. Code linked into another program
// (the test programs) may point it at a loaded copy of the module.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// The module's full path, as the system has it; empty when it cannot be had.
std::wstring ModulePathW();
// The same path in UTF-8, for the hidden store beside the module, whose paths stay under MAX_PATH
// characters: its short form where the full one is longer, else empty.
std::string ModulePath();

// Loads a library of the system (name without a path) from the system folder only, never from the
// program's folder, the current folder or PATH. Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// COM server lock count: one per live object and per LockServer(TRUE).
void LockModule();
void UnlockModule();
LONG ModuleLockCount();

// One module lock for as long as the holder lives.
class ModuleLockHolder {
public:
    ModuleLockHolder() { LockModule(); }
    ~ModuleLockHolder() { UnlockModule(); }
    ModuleLockHolder(const ModuleLockHolder&) = delete;
    ModuleLockHolder& operator=(const ModuleLockHolder&) = delete;
};

// The critical section that guards the creation of the class object. Initialised at process attach
// (false when that failed) and deleted when the module is unloaded.
bool InitializeModuleState();
void DeleteModuleState();
CRITICAL_SECTION& ModuleCriticalSection();

}  // namespace plx

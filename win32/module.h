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
// The folder of the module's file in UTF-8, named as the file system names it, without the long-path
// prefix: one spelling however the module was loaded (long or 8.3 names, in any case, with or without
// "\\?\"), so that the hidden store beside it has one path. Resolved once per module; empty when
// it cannot be had.
std::string ModuleFolder();
// The same for any file's path: its folder, opened and named by the file system. A folder the file
// system names only without a drive letter (on a share, or a volume without one) keeps the long form
// of the spelling given, without the prefix. Empty when the folder cannot be opened.
std::wstring CanonicalFolder(const std::wstring& filePath);

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

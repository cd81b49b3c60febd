#include "com/module.h"

namespace plx {

namespace {
HINSTANCE g_instance = nullptr;
volatile LONG g_locks = 0;
CRITICAL_SECTION g_section;
bool g_sectionReady = false;
}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

std::string ModulePath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::string(path, length);
}

void LockModule() { InterlockedIncrement(&g_locks); }
void UnlockModule() { InterlockedDecrement(&g_locks); }
LONG ModuleLockCount() { return g_locks; }

bool InitializeModuleState() {
    g_sectionReady = InitializeCriticalSectionAndSpinCount(&g_section, 0) != FALSE;
    return g_sectionReady;
}

// Also called after a failed attach, when the system unloads the module at once.
void DeleteModuleState() {
    if (g_sectionReady) DeleteCriticalSection(&g_section);
    g_sectionReady = false;
}
CRITICAL_SECTION& ModuleCriticalSection() { return g_section; }

}  // namespace plx

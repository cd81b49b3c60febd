#include "com/module.h"

namespace plx {

namespace {
HINSTANCE g_instance = nullptr;
volatile LONG g_locks = 0;
}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

void LockModule() { InterlockedIncrement(&g_locks); }
void UnlockModule() { InterlockedDecrement(&g_locks); }
LONG ModuleLockCount() { return g_locks; }

}  // namespace plx

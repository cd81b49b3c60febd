#include "com/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        plx::SetModuleInstance(instance);
        // Nothing here needs per-thread set-up, and the shell creates many threads.
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return plx::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

// The module's entry points as an in-process COM server.
#include "com/class_factory.h"
#include "win32/module.h"
#include "com/registration.h"
#include "engine/channel.h"
#include "layout/actions.h"
#include "win32/boundary.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        plx::SetModuleInstance(instance);
        if (!plx::InitializeModuleState()) return FALSE;
        plx::ConnectActionWork();
        // Nothing here needs per-thread set-up, and the shell creates many threads.
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary: at process end (reserved set) nothing needs tearing down.
        plx::ReleaseClassObjects();
        plx::DeleteModuleState();
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return plx::CallAtBoundary(E_FAIL, [&] {
        // The first way the shell brings the module in: from here on it follows display changes.
        plx::FollowDisplayFromHere();
        return plx::GetClassObject(clsid, iid, object);
    });
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return plx::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllRegisterServer() {
    return plx::CallAtBoundary(E_FAIL, [] { return plx::RegisterServer(); });
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    return plx::CallAtBoundary(E_FAIL, [] { return plx::UnregisterServer(); });
}

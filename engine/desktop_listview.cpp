#include "engine/desktop_listview.h"

namespace plx {

namespace {

bool HasClass(HWND window, const char* className) {
    char name[1024];
    if (GetClassNameA(window, name, sizeof(name)) == 0) return false;
    return lstrcmpA(name, className) == 0;
}

// The shell's view sometimes lives in a "WorkerW" window behind the icons (wallpaper slideshows,
// Win+Tab); "Progman" is then left without children.
HWND FindInWorkerWindows(HWND desktop) {
    // The Windows 95 family sets the top bit of GetVersion and calls the class "WorkerA".
    const char* workerClass = (GetVersion() & 0x80000000u) ? "WorkerA" : "WorkerW";
    HWND worker = nullptr;
    while ((worker = FindWindowExA(desktop, worker, workerClass, nullptr)) != nullptr) {
        HWND view = FindWindowExA(worker, nullptr, "SHELLDLL_DefView", nullptr);
        if (!view) continue;
        HWND list = FindWindowExA(view, nullptr, "SysListView32", nullptr);
        if (list) return list;
    }
    return nullptr;
}

}  // namespace

HWND FindDesktopListView() {
    HWND desktop = GetDesktopWindow();
    HWND progman = FindWindowExA(desktop, nullptr, "Progman", nullptr);
    HWND defView = progman ? GetWindow(progman, GW_CHILD) : nullptr;
    if (defView) {
        // The first child of the shell view decides; the worker windows are not consulted.
        HWND list = GetWindow(defView, GW_CHILD);
        if (!list) return nullptr;
        return HasClass(list, "SysListView32") ? list : nullptr;
    }
    return FindInWorkerWindows(desktop);
}

}  // namespace plx

#include "engine/desktop_listview.h"

namespace plx {

namespace {

bool HasClass(HWND window, const wchar_t* className) {
    wchar_t name[1024];
    if (GetClassNameW(window, name, ARRAYSIZE(name)) == 0) return false;
    return lstrcmpW(name, className) == 0;
}

// The shell's view sometimes lives in a "WorkerW" window behind the icons (wallpaper slideshows,
// Win+Tab); "Progman" is then left without children.
HWND FindInWorkerWindows(HWND desktop) {
    // The Windows 95 family sets the top bit of GetVersion and calls the class "WorkerA".
    const wchar_t* workerClass = (GetVersion() & 0x80000000u) ? L"WorkerA" : L"WorkerW";
    HWND worker = nullptr;
    while ((worker = FindWindowExW(desktop, worker, workerClass, nullptr)) != nullptr) {
        HWND view = FindWindowExW(worker, nullptr, L"SHELLDLL_DefView", nullptr);
        if (!view) continue;
        HWND list = FindWindowExW(view, nullptr, L"SysListView32", nullptr);
        if (list) return list;
    }
    return nullptr;
}

}  // namespace

HWND FindDesktopListView() {
    HWND desktop = GetDesktopWindow();
    HWND progman = FindWindowExW(desktop, nullptr, L"Progman", nullptr);
    HWND defView = progman ? GetWindow(progman, GW_CHILD) : nullptr;
    if (defView) {
        // The first child of the shell view decides; the worker windows are not consulted.
        HWND list = GetWindow(defView, GW_CHILD);
        if (!list) return nullptr;
        return HasClass(list, L"SysListView32") ? list : nullptr;
    }
    return FindInWorkerWindows(desktop);
}

}  // namespace plx

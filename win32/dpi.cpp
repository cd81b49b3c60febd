#include "win32/dpi.h"

#include <cstddef>

namespace plx {

namespace {

// The functions that arrived with per-monitor DPI come from user32.dll at run time: the module also
// runs on Windows 7, whose user32.dll lacks them. Null when the system has no such export.
template <typename Function>
Function User32Export(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    // Export names are ANSI by the platform's design: GetProcAddress has no wide form.
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                  : nullptr;
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using SetDialogDpiChangeBehaviorFunction = BOOL(WINAPI*)(HWND, int, int);
using SetProcessDpiAwarenessContextFunction = BOOL(WINAPI*)(HANDLE);
using SetProcessDpiAwareFunction = BOOL(WINAPI*)();
const auto kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const auto kPerMonitorAware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));
constexpr int kDialogDpiChangesDisabled = 0x0001;  // DDC_DISABLE_ALL

}  // namespace

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen) return kDesignDpi;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

UINT WindowDpi(HWND window) {
    const auto getDpiForWindow = User32Export<GetDpiForWindowFunction>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow && window ? getDpiForWindow(window) : 0;
    return dpi ? dpi : SystemDpi();
}

int SystemMetricForDpi(int index, UINT dpi) {
    const auto forDpi = User32Export<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
    if (forDpi) return forDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

bool MenuFontForDpi(UINT dpi, LOGFONTW& font) {
    const auto forDpi = User32Export<SystemParametersInfoForDpiFunction>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, dpi)) {
        font = metrics.lfMenuFont;
        return true;
    }
    // The size of the structure before iPaddedBorderWidth, which every version of the system takes.
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return false;
    font = metrics.lfMenuFont;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    return true;
}

void TakeOverDialogDpiChanges(HWND dialog) {
    const auto setBehavior = User32Export<SetDialogDpiChangeBehaviorFunction>("SetDialogDpiChangeBehavior");
    if (setBehavior) setBehavior(dialog, kDialogDpiChangesDisabled, kDialogDpiChangesDisabled);
}

void BecomePerMonitorDpiAware() {
    const auto perMonitor =
        User32Export<SetProcessDpiAwarenessContextFunction>("SetProcessDpiAwarenessContext");
    if (perMonitor && (perMonitor(kPerMonitorAwareV2) || perMonitor(kPerMonitorAware))) return;
    // Before Windows 10 1703: aware of the system DPI at least.
    if (const auto systemAware = User32Export<SetProcessDpiAwareFunction>("SetProcessDPIAware"))
        systemAware();
}

}  // namespace plx

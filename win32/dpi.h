// The screen's dots per inch as a window meets them. The product's pixel sizes (window sizes, margins,
// column widths, icon sizes) are sizes at 96 DPI; a window scales them by its own DPI, which on a
// system with monitors of different DPIs is that of the monitor it is on.
#pragma once

#include <windows.h>

namespace plx {

// The DPI at which the product's pixel sizes hold as they are written.
inline constexpr UINT kDesignDpi = 96;

// pixels, a size at 96 DPI, at dpi; halves round away from zero.
inline int ScaleToDpi(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), kDesignDpi); }

// The DPI that the system's metrics and the screen's device context are given in for this thread.
UINT SystemDpi();
// The window's DPI: GetDpiForWindow where the system has it (Windows 10 1607 and later), the system
// DPI otherwise.
UINT WindowDpi(HWND window);

// GetSystemMetrics at dpi: GetSystemMetricsForDpi where the system has it, otherwise the metric at
// the system DPI scaled to dpi.
int SystemMetricForDpi(int index, UINT dpi);
// The menu font of the non-client metrics at dpi, scaled in the same way where the system cannot give
// it at a DPI of choice. False when the system gives no metrics.
bool MenuFontForDpi(UINT dpi, LOGFONTW& font);

// Leaves a dialog's DPI changes to its own handler of WM_DPICHANGED: from Windows 10 1703 on, the
// dialog manager would otherwise lay the controls out again from the template and undo the sizes
// that the dialog set in pixels. Nothing happens on systems without that behaviour.
void TakeOverDialogDpiChanges(HWND dialog);

// For the programs that stand in for the shell (the test programs, the dialog viewer): makes the
// process per-monitor DPI aware, as the shell is, where the system knows of it.
void BecomePerMonitorDpiAware();

}  // namespace plx

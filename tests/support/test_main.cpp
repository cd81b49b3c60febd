// Test programs run only inside the project's Wine test bed: its prefix has a temporary HOME and an
// empty desktop of its own, so nothing a test moves or deletes can belong to anybody.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "testbed/testbed.h"
#include "win32/dpi.h"

int main(int argc, char** argv) {
    if (!testbed::InsideTestBed()) return 2;
    // A failed assertion must not wait for somebody to close an error box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // The module's windows are shown by the shell, which is per-monitor DPI aware.
    plx::BecomePerMonitorDpiAware();
    OleInitialize(nullptr);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}

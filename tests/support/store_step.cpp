// store_step MODULE ACTION [STEP [COUNT [pause]]]
//
// Runs one action of the layout store, as the desktop's process would, with the store beside the
// module copy at MODULE: "activate" (the current profile), "release" or "logon" (the restore of the
// positions saved at logon, the first action of the process). With STEP, the process ends
// at the COUNT-th time (default 1) that the store reaches that step, as a crash there would end it:
// at once, with nothing flushed or closed. With "pause" it waits there instead, in the middle of its
// action: it sets the event kPausedEvent and goes on once kGoEvent is set (60 seconds at most).
// Exit code: 0 when the action ran to its end, 3 when it was stopped, 2 for bad arguments or a
// module that cannot be loaded.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "win32/module.h"
#include "store/moves.h"
#include "layout/actions.h"
#include "layout/profiles.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

const char* stopStep = nullptr;
int stopCount = 1;
bool pause = false;

void StopAtStep(const char* step) {
    if (std::strcmp(step, stopStep) != 0 || --stopCount != 0) return;
    if (!pause) TerminateProcess(GetCurrentProcess(), 3);
    plx::unique_handle paused(CreateEventA(nullptr, TRUE, FALSE, testbed::kPausedEvent));
    plx::unique_handle go(CreateEventA(nullptr, TRUE, FALSE, testbed::kGoEvent));
    SetEvent(paused.get());
    WaitForSingleObject(go.get(), 60000);
}

}  // namespace

int main(int argc, char** argv) {
    if (!testbed::InsideTestBed() || argc < 3) return 2;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) return 2;
    plx::SetModuleInstance(module);
    if (argc > 3) {
        stopStep = argv[3];
        stopCount = argc > 4 ? std::atoi(argv[4]) : 1;
        pause = argc > 5 && std::strcmp(argv[5], "pause") == 0;
        plx::SetStoreStepHook(StopAtStep);
    }
    OleInitialize(nullptr);
    const std::string action = argv[2];
    if (action == "activate")
        plx::ActivateProfile(nullptr, nullptr);
    else if (action == "release")
        plx::ReleaseHiddenItems(nullptr);
    else if (action == "logon")
        plx::RunActionWork(plx::Action::RestoreStartupPositions, nullptr, nullptr, TRUE);
    else
        return 2;
    OleUninitialize();
    return 0;
}

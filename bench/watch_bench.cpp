// What watching the icons costs the shell at rest: the stand-in desktop's processor time with 500 icons
// and nothing happening, while the agent window watches its list view (engine/icon_watch.h) against the
// same desktop without the agent, in one run. Run by hand in the test bed, see bench/README.md; it
// prints figures and never fails on them.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench/seconds.h"
#include "store/profile_tree.h"
#include "testbed/desktop_host_process.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"

namespace {

constexpr int kRounds = 3;
constexpr DWORD kRestMs = 5000;

// The desktop process's processor time (user and kernel), in seconds.
double ProcessorSeconds(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& time) {
        return static_cast<double>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime) *
               1e-7;
    };
    return seconds(kernel) + seconds(user);
}

// The share of one core the desktop took while this thread slept for kRestMs, in percent.
double ShareAtRest(HANDLE process) {
    const double cpu0 = ProcessorSeconds(process), t0 = bench::Seconds();
    Sleep(kRestMs);
    return (ProcessorSeconds(process) - cpu0) / (bench::Seconds() - t0) * 100.0;
}

// The agent and the desktop are done with what the last action started: a message through the
// desktop's thread comes back only when it takes messages again, then a moment without any.
void Settle(HWND listView) {
    SendMessageA(listView, WM_NULL, 0, 0);
    Sleep(1000);
    SendMessageA(listView, WM_NULL, 0, 0);
}

int Run() {
    testbed::ModuleCopy module;
    testbed::DesktopHostProcess host;
    if (!module.Loaded() || !host.Start("--fill 500")) {
        std::fprintf(stderr, "cannot load the module or start the stand-in desktop\n");
        return 1;
    }
    // The profile first, so that every later attach finds the arrangement set up.
    if (module.Call("CreateDefaultProfile") != S_OK) {
        std::fprintf(stderr, "the first action did not reach the desktop\n");
        return 1;
    }
    std::vector<double> bare, watched;
    for (int round = 0; round < kRounds; ++round) {
        // Without the agent: its window closed, which ends its watch and its timers.
        if (HWND agent = testbed::FindAgentWindow()) SendMessageA(agent, WM_CLOSE, 0, 0);
        if (testbed::FindAgentWindow()) {
            std::fprintf(stderr, "the agent window did not close\n");
            return 1;
        }
        Settle(host.ListView());
        bare.push_back(ShareAtRest(host.Process()));
        // With it: any action brings it back, watching the list view.
        if (module.Call("CreateDefaultProfile") != S_OK || !testbed::FindAgentWindow()) {
            std::fprintf(stderr, "round %d: the agent did not come back\n", round);
            return 1;
        }
        Settle(host.ListView());
        watched.push_back(ShareAtRest(host.Process()));
    }
    double bareSum = 0, watchedSum = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::printf("round %d: without the agent %.4f %%, watched %.4f %% of a core\n", round + 1,
                    bare[round], watched[round]);
        bareSum += bare[round];
        watchedSum += watched[round];
    }
    const double bareMean = bareSum / kRounds, watchedMean = watchedSum / kRounds;
    std::printf("the stand-in desktop at rest with 500 icons, %d rounds of %.0f s each way:\n", kRounds,
                kRestMs / 1000.0);
    std::printf("  without the agent: %.4f %% of a core\n", bareMean);
    std::printf("  watched:           %.4f %% of a core\n", watchedMean);
    std::printf("  difference %+.4f %% of a core (target <= 0.1)\n", watchedMean - bareMean);
    return 0;
}

}  // namespace

int main() {
    if (!testbed::InsideTestBed()) return 2;
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    const int result = Run();
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    return result;
}

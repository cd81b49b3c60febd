// What watching the icons costs the shell at rest: the stand-in desktop's processor time with 500 icons
// and nothing happening, while the agent window watches its list view (engine/icon_watch.h) against the
// same desktop without the agent, in one run. Run by hand in the test bed, see bench/README.md; it
// prints figures and never fails on them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/seconds.h"
#include "store/profile_tree.h"
#include "testbed/desktop_host_process.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

constexpr int kRounds = 3;
constexpr DWORD kRestMs = 5000;

// Wine answers GetProcessTimes for its own process only: another process's times come from the system
// underneath, through Wine's drive Z:, as the sum of its threads' time on a processor in nanoseconds
// (/proc/PID/task/TID/schedstat). The desktop is found by its command line there.
std::string ReadUnixFile(const std::string& path) {
    plx::unique_hfile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    return text;
}

// Calls visit with each entry of directory whose name starts with a digit (a process or thread id).
template <typename Visit>
void ForEachEntry(const std::string& directory, Visit visit) {
    WIN32_FIND_DATAA found;
    plx::unique_hfind search(FindFirstFileA((directory + "\\*").c_str(), &found));
    if (!search) return;
    do {
        if (found.cFileName[0] >= '0' && found.cFileName[0] <= '9') visit(std::string(found.cFileName));
    } while (FindNextFileA(search.get(), &found));
}

std::string UnixProcessOfTheDesktop() {
    std::string found;
    ForEachEntry("Z:\\proc", [&](const std::string& pid) {
        std::string line = ReadUnixFile("Z:\\proc\\" + pid + "\\cmdline");
        for (char& c : line)
            if (c == '\0') c = ' ';
        if (line.find("desktophost.exe") != std::string::npos && line.find("--fill 500") != std::string::npos)
            found = pid;
    });
    return found;
}

// The desktop process's processor time (user and kernel), in seconds.
double ProcessorSeconds(HANDLE process, const std::string& unixProcess) {
    if (unixProcess.empty()) {
        FILETIME created, ended, kernel, user;
        if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
        auto seconds = [](const FILETIME& time) {
            return static_cast<double>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 |
                                       time.dwLowDateTime) *
                   1e-7;
        };
        return seconds(kernel) + seconds(user);
    }
    const std::string tasks = "Z:\\proc\\" + unixProcess + "\\task";
    double total = 0;
    ForEachEntry(tasks, [&](const std::string& task) {
        total += std::atof(ReadUnixFile(tasks + "\\" + task + "\\schedstat").c_str()) * 1e-9;
    });
    return total;
}

// The share of one core the desktop took while this thread slept for kRestMs, in percent.
double ShareAtRest(HANDLE process, const std::string& unixProcess) {
    const double cpu0 = ProcessorSeconds(process, unixProcess), t0 = bench::Seconds();
    Sleep(kRestMs);
    return (ProcessorSeconds(process, unixProcess) - cpu0) / (bench::Seconds() - t0) * 100.0;
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
    const std::string unixProcess = testbed::OnWine() ? UnixProcessOfTheDesktop() : std::string();
    if (testbed::OnWine() && unixProcess.empty()) {
        std::fprintf(stderr, "the stand-in desktop's process was not found under Z:\\proc\n");
        return 1;
    }
    std::vector<double> bare, watched, attachAndSave;
    for (int round = 0; round < kRounds; ++round) {
        // Without the agent: its window closed, which ends its watch and its timers.
        if (HWND agent = testbed::FindAgentWindow()) SendMessageA(agent, WM_CLOSE, 0, 0);
        if (testbed::FindAgentWindow()) {
            std::fprintf(stderr, "the agent window did not close\n");
            return 1;
        }
        Settle(host.ListView());
        bare.push_back(ShareAtRest(host.Process(), unixProcess));
        // With it: any action brings it back, watching the list view. A save of the 500 places shows that
        // the meter sees the desktop's work.
        const double before = ProcessorSeconds(host.Process(), unixProcess);
        if (module.Call("SaveCurrentProfile") != S_OK || !testbed::FindAgentWindow()) {
            std::fprintf(stderr, "round %d: the agent did not come back\n", round);
            return 1;
        }
        attachAndSave.push_back(ProcessorSeconds(host.Process(), unixProcess) - before);
        Settle(host.ListView());
        watched.push_back(ShareAtRest(host.Process(), unixProcess));
    }
    double bareSum = 0, watchedSum = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::printf(
            "round %d: without the agent %.4f %%, watched %.4f %% of a core (the attach and save before "
            "it: %.1f ms of the desktop's processor)\n",
            round + 1, bare[round], watched[round], attachAndSave[round] * 1e3);
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

// Cost of the way into the desktop's process: a restore of 1,000 icons through RestoreIconPositions,
// called from this process (the agent window runs it in the desktop's process) against the same
// restore called inside the desktop's process itself. Run by hand in the test bed, see
// bench/README.md; it prints figures and never fails on speed.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/seconds.h"
#include "store/profile_tree.h"
#include "testbed/desktop_host_process.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"

namespace {

constexpr int kIcons = 1000;
constexpr int kRounds = 31;
constexpr char kRestore[] = "RestoreIconPositions";

// Where icons go: all of them inside the desktop's client area, whatever the screen size. A restore
// keeps icons on the screen, and an icon reaching past the client would bring scroll bars that
// change it. 100 pixels leave room for an icon with its label.
struct Area {
    int width;
    int height;
};

Area IconArea(HWND listView) {
    RECT window = {};
    GetWindowRect(listView, &window);
    return {window.right - window.left - GetSystemMetrics(SM_CXVSCROLL) - 100,
            window.bottom - window.top - GetSystemMetrics(SM_CYHSCROLL) - 100};
}

// Where the saved profile has each icon: 40 columns of 25.
POINT SavedSpot(const Area& area, int index) {
    return {4 + (index % 40) * area.width / 40, 4 + (index / 40) * area.height / 25};
}

// Elsewhere, differently each round: every icon of a restore moves.
POINT ScatteredSpot(const Area& area, int index, int round) {
    return {4 + (index * 37 + round * 11) % area.width, 4 + (index * 53 + round * 7) % area.height};
}

// LVM_SETITEMPOSITION carries no pointer, so it can be sent from here. Between two messages from
// another thread the desktop would repaint all its icons: it paints once, and is done with that
// before the next request is timed. The update region goes when a paint begins; a message sent
// after that is answered when the paint is over.
template <typename Spot>
void PlaceIcons(HWND listView, Spot spot) {
    SendMessageA(listView, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < kIcons; ++i) {
        const POINT pt = spot(i);
        SendMessageA(listView, LVM_SETITEMPOSITION, i, MAKELPARAM(pt.x, pt.y));
    }
    SendMessageA(listView, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(listView, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    testbed::WaitUntil([listView] { return !GetUpdateRect(listView, nullptr, FALSE); }, 5000);
    SendMessageA(listView, WM_NULL, 0, 0);
}

bool AllIconsAtSavedSpots(const testbed::DesktopHostProcess& host, const Area& area) {
    testbed::HostReport report;
    if (!host.Report(report) || report.icons.size() != static_cast<size_t>(kIcons)) return false;
    for (int i = 0; i < kIcons; ++i) {
        const POINT spot = SavedSpot(area, i);
        if (report.icons[i].x != spot.x || report.icons[i].y != spot.y) return false;
    }
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Run() {
    testbed::ModuleCopy module;
    testbed::DesktopHostProcess host;
    if (!module.Loaded() || !host.Start("--fill 1000")) {
        std::fprintf(stderr, "cannot load the module or start the stand-in desktop\n");
        return 1;
    }
    const HWND listView = host.ListView();
    if (SendMessageA(listView, LVM_GETITEMCOUNT, 0, 0) != kIcons) {
        std::fprintf(stderr, "the stand-in desktop does not show %d icons\n", kIcons);
        return 1;
    }
    const Area area = IconArea(listView);
    PlaceIcons(listView, [&area](int i) { return SavedSpot(area, i); });
    // The save attaches: from here on the agent window exists. One restore each way warms both paths.
    if (module.Call("SaveCurrentProfile") != S_OK || !testbed::FindAgentWindow()) {
        std::fprintf(stderr, "the first action did not reach the desktop\n");
        return 1;
    }
    const std::string path = module.AnsiPath();
    PlaceIcons(listView, [&area](int i) { return ScatteredSpot(area, i, 0); });
    const bool crossWarm = module.Call(kRestore) == S_OK;
    PlaceIcons(listView, [&area](int i) { return ScatteredSpot(area, i, 1); });
    const bool insideWarm = host.CallExportInside(path, kRestore, 1) > 0;
    if (!crossWarm || !insideWarm) {
        std::fprintf(stderr, "a restore failed\n");
        return 1;
    }

    // Rounds alternate which side goes first, so that a drift of the machine hits both alike.
    std::vector<double> cross, inside;
    int restored = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            PlaceIcons(listView, [&area, round](int i) { return ScatteredSpot(area, i, round + 2); });
            if ((turn == 0) == (round % 2 == 0)) {
                const double t0 = bench::Seconds();
                const HRESULT result = module.Call(kRestore);
                cross.push_back(bench::Seconds() - t0);
                if (result != S_OK) std::fprintf(stderr, "round %d: the call from here failed\n", round);
            } else {
                const LONG_PTR micros = host.CallExportInside(path, kRestore, 1);
                inside.push_back(static_cast<double>(micros) * 1e-6);
                if (micros <= 0) std::fprintf(stderr, "round %d: the call inside failed\n", round);
            }
            if (AllIconsAtSavedSpots(host, area)) ++restored;
        }
    }
    // The two restores of a round ran next to each other: their ratio shrugs off a slow stretch.
    std::vector<double> roundRatios;
    for (int round = 0; round < kRounds; ++round) roundRatios.push_back(cross[round] / inside[round]);
    const double crossMedian = Median(cross), insideMedian = Median(inside);
    std::printf("restore of %d icons, median of %d rounds each:\n", kIcons, kRounds);
    std::printf("  called from another process: %8.2f ms (fastest %.2f ms)\n", crossMedian * 1e3,
                *std::min_element(cross.begin(), cross.end()) * 1e3);
    std::printf("  called inside the desktop:   %8.2f ms (fastest %.2f ms)\n", insideMedian * 1e3,
                *std::min_element(inside.begin(), inside.end()) * 1e3);
    std::printf("  ratio %.3f (target <= 1.1); median ratio within a round %.3f\n",
                crossMedian / insideMedian, Median(roundRatios));
    std::printf("  every icon back at its saved spot after %d of %d restores\n", restored, 2 * kRounds);
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

#include "bench/restore_timing.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/seconds.h"
#include "layout/actions.h"
#include "engine/positions.h"
#include "store/profile_tree.h"

namespace {

constexpr int kIcons = 1000;
constexpr int kRounds = 15;
constexpr char kProfile[] = "Benchmark";

// What a restore must do at the least: per icon its label, its position, its value, and a move.
void BareRestore(HWND list) {
    plx::unique_hkey key =
        plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::SlotKeyPath(kProfile, plx::kManualSlot));
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char label[1024];
        LVITEMA item = {};
        item.pszText = label;
        item.cchTextMax = sizeof(label);
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        POINT pt;
        SendMessageA(list, LVM_GETITEMPOSITION, i, reinterpret_cast<LPARAM>(&pt));
        BYTE data[8];
        DWORD size = sizeof(data), type = 0;
        RegQueryValueExA(key.get(), label, nullptr, &type, data, &size);
        const LONG x = *reinterpret_cast<LONG*>(data), y = *reinterpret_cast<LONG*>(data + 4);
        SendMessageA(list, LVM_SETITEMPOSITION, i, MAKELPARAM(x, y));
    }
}

// A 3840 x 2160 list view of 1,000 icons in columns of 20, 80 x 100 apart: a full desktop, every icon
// with a saved spot. Shown on the screen when `visible`, so that its paints cost what they cost.
class TimedDesktop {
public:
    explicit TimedDesktop(bool visible) {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        frame_ = CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0,
                                 3840, 2160, nullptr, nullptr, nullptr, nullptr);
        list_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOSCROLL, 0, 0,
                                3840, 2160, frame_, nullptr, nullptr, nullptr);
        SHFILEINFOA info = {};
        ListView_SetImageList(list_,
                              reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
                                  "C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_LARGEICON)),
                              LVSIL_NORMAL);
        for (int i = 0; i < kIcons; ++i) {
            std::string label = "Desktop item number " + std::to_string(i);
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = label.data();
            SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
        for (int i = 0; i < kIcons; ++i)
            ListView_SetItemPosition32(list_, i, 10 + (i / 20) * 80, 10 + (i % 20) * 100);
        plx::SavePositions(list_, plx::GetScreenSize(), *plx::ProfileName::From(kProfile), plx::kManualSlot);
    }
    ~TimedDesktop() {
        DestroyWindow(frame_);
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }
    TimedDesktop(const TimedDesktop&) = delete;
    TimedDesktop& operator=(const TimedDesktop&) = delete;

    // Scatters the icons and lets the list view paint them there, so that a timed side starts with
    // nothing left to paint.
    void Scatter(int round) const {
        for (int i = 0; i < kIcons; ++i)
            ListView_SetItemPosition32(list_, i, 2000 + (i * 37 + round * 11) % 1500, 100 + (i * 53) % 1800);
        UpdateWindow(list_);
    }
    HWND list() const { return list_; }

private:
    HWND frame_ = nullptr;
    HWND list_ = nullptr;
};

// Times `full` against `bare` in turns, each after the same scatter, and prints the medians and ratio.
template <typename Full, typename Bare>
void Compare(const TimedDesktop& desktop, const char* fullName, Full full, const char* bareName, Bare bare,
             const char* target) {
    std::vector<double> fullTimes, bareTimes;
    for (int round = 0; round < kRounds; ++round) {
        desktop.Scatter(round);
        double t0 = bench::Seconds();
        full();
        fullTimes.push_back(bench::Seconds() - t0);
        desktop.Scatter(round);
        t0 = bench::Seconds();
        bare();
        bareTimes.push_back(bench::Seconds() - t0);
    }
    std::sort(fullTimes.begin(), fullTimes.end());
    std::sort(bareTimes.begin(), bareTimes.end());
    const double fullMedian = fullTimes[kRounds / 2], bareMedian = bareTimes[kRounds / 2];
    std::printf("%s: %.2f ms; %s: %.2f ms; ratio %.3f (target %s)\n", fullName, fullMedian * 1e3, bareName,
                bareMedian * 1e3, fullMedian / bareMedian, target);
}

}  // namespace

void RunRestoreTiming() {
    // Off the screen the list view paints nothing: the restore against the messages and reads it cannot
    // avoid, sent as it sends them, with redraw off.
    {
        TimedDesktop desktop(false);
        HWND list = desktop.list();
        Compare(
            desktop, "restore of 1,000 icons",
            [list] { plx::RestorePositions(list, plx::GetScreenSize(), *plx::ProfileName::From(kProfile), plx::kManualSlot); },
            "bare messages and reads, redraw off",
            [list] {
                SendMessageA(list, WM_SETREDRAW, FALSE, 0);
                BareRestore(list);
                SendMessageA(list, WM_SETREDRAW, TRUE, 0);
                UpdateWindow(list);
            },
            "<= 1.3");
    }
    // On the screen: the restore, which moves the icons with redraw off and paints once, against the
    // same moves and reads with redraw left on and then one paint.
    {
        TimedDesktop desktop(true);
        HWND list = desktop.list();
        Compare(
            desktop, "restore of 1,000 shown icons",
            [list] { plx::RestorePositions(list, plx::GetScreenSize(), *plx::ProfileName::From(kProfile), plx::kManualSlot); },
            "the same moves and reads with redraw on, then one paint",
            [list] {
                BareRestore(list);
                UpdateWindow(list);
            },
            "<= 0.5");
    }
}

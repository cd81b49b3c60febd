#include "bench/restore_timing.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/seconds.h"
#include "engine/actions.h"
#include "engine/positions.h"
#include "store/registry.h"

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

void Scatter(HWND list, int round) {
    for (int i = 0; i < kIcons; ++i)
        ListView_SetItemPosition32(list, i, 2000 + (i * 37 + round * 11) % 1500, 100 + (i * 53) % 1800);
}

}  // namespace

void RunRestoreTiming() {
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    HWND frame = CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP, 0, 0, 3840, 2160, nullptr, nullptr,
                                 nullptr, nullptr);
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOSCROLL, 0, 0,
                                3840, 2160, frame, nullptr, nullptr, nullptr);
    SHFILEINFOA info = {};
    ListView_SetImageList(list,
                          reinterpret_cast<HIMAGELIST>(SHGetFileInfoA("C:\\", 0, &info, sizeof(info),
                                                                      SHGFI_SYSICONINDEX | SHGFI_LARGEICON)),
                          LVSIL_NORMAL);
    for (int i = 0; i < kIcons; ++i) {
        std::string label = "Desktop item number " + std::to_string(i);
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = label.data();
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    // 1,000 icons in columns of 20, 80 x 100 apart: a full desktop, every icon with a saved spot.
    for (int i = 0; i < kIcons; ++i)
        ListView_SetItemPosition32(list, i, 10 + (i / 20) * 80, 10 + (i % 20) * 100);
    plx::SaveRestorePositions(list, plx::SavePositions, nullptr, TRUE, kProfile);

    std::vector<double> full, bare;
    for (int round = 0; round < kRounds; ++round) {
        Scatter(list, round);
        double t0 = bench::Seconds();
        plx::SaveRestorePositions(list, plx::RestorePositions, nullptr, TRUE, kProfile);
        full.push_back(bench::Seconds() - t0);
        Scatter(list, round);
        t0 = bench::Seconds();
        BareRestore(list);
        bare.push_back(bench::Seconds() - t0);
    }
    std::sort(full.begin(), full.end());
    std::sort(bare.begin(), bare.end());
    const double fullMedian = full[kRounds / 2], bareMedian = bare[kRounds / 2];
    std::printf(
        "restore of %d icons: %.2f ms; bare messages and reads: %.2f ms; ratio %.3f (target <= 1.3)\n",
        kIcons, fullMedian * 1e3, bareMedian * 1e3, fullMedian / bareMedian);
    DestroyWindow(frame);
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
}

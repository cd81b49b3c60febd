// Speed of a profile switch that hides 500 desktop items, and of the switch that shows them again,
// against the same renames and "HiddenItems" writes done directly in a loop. Run by hand, see
// bench/README.md; it prints figures and never fails on speed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/seconds.h"
#include "win32/module.h"
#include "layout/profiles.h"
#include "store/profile_tree.h"
#include "store/visibility.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

using bench::Seconds;

constexpr int kItems = 500;
constexpr int kRounds = 25;

struct Item {
    std::string desktop, stored, keyName, displayName;
    int id = -1;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void SetCurrentProfile(const char* name) {
    plx::unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
    plx::WriteString(key.get(), plx::kCurrentProfileValue, name);
}

// 500 files on the desktop, catalogued; the profile "Hidden" hides them all, "Shown" shows them all.
std::vector<Item> MakeDesktop() {
    const std::string desktop = testbed::UserDesktopDirectory();
    for (int i = 0; i < kItems; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "\\Item %04d.txt", i);
        testbed::WriteTextFile(desktop + name, name);
    }
    std::vector<Item> items;
    for (const plx::DesktopItem& catalogued : plx::BuildItemCatalogue(nullptr)) {
        if (!catalogued.Movable()) continue;
        items.push_back({catalogued.DesktopPath, plx::StorePathFor(catalogued.DesktopPath),
                         plx::ItemKeyName(catalogued.DesktopPath), catalogued.DisplayName, catalogued.ID});
        for (const char* profile : {"Hidden", "Shown"}) {
            plx::unique_hkey record = plx::CreateKey(
                HKEY_CURRENT_USER, plx::ProfileKeyPath(profile) + "\\" + std::to_string(catalogued.ID));
            plx::WriteNumber(record.get(), "Visible", profile[0] == 'S');
        }
    }
    return items;
}

// The bare work of the switches: on the store's volume one rename per item, as the store's own move,
// and its entry written or deleted.
void DirectHide(const std::vector<Item>& items) {
    plx::unique_hkey hidden = plx::CreateKey(HKEY_CURRENT_USER, plx::kHiddenItemsKey);
    for (const Item& item : items) {
        if (!MoveFileExA(item.desktop.c_str(), item.stored.c_str(), 0)) continue;
        plx::unique_hkey entry = plx::CreateKey(hidden.get(), item.keyName);
        plx::WriteNumber(entry.get(), "ID", static_cast<DWORD>(item.id));
        plx::WriteString(entry.get(), "DisplayName", item.displayName);
        plx::WriteString(entry.get(), "TypeName", "Text Document");
    }
}

void DirectShow(const std::vector<Item>& items) {
    plx::unique_hkey hidden = plx::CreateKey(HKEY_CURRENT_USER, plx::kHiddenItemsKey);
    for (const Item& item : items)
        if (MoveFileExA(item.stored.c_str(), item.desktop.c_str(), 0))
            plx::DeleteKeyTree(hidden.get(), item.keyName);
}

void Switch(const char* profile) {
    SetCurrentProfile(profile);
    plx::ActivateProfile(nullptr, nullptr);
}

bool AllAt(const std::vector<Item>& items, bool hidden) {
    for (const Item& item : items) {
        const bool inStore = GetFileAttributesA(item.stored.c_str()) != INVALID_FILE_ATTRIBUTES;
        const bool onDesktop = GetFileAttributesA(item.desktop.c_str()) != INVALID_FILE_ATTRIBUTES;
        const bool entry = static_cast<bool>(plx::OpenKeyForReading(
            HKEY_CURRENT_USER, std::string(plx::kHiddenItemsKey) + "\\" + item.keyName));
        if (inStore != hidden || onDesktop == hidden || entry != hidden) return false;
    }
    return true;
}

}  // namespace

int main() {
    if (!testbed::InsideTestBed()) return 2;
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    testbed::EmptyDesktopFolders();
    int status = 0;
    {
        testbed::ModuleCopy module;
        if (!module.Loaded()) {
            std::printf("the module copy could not be loaded\n");
            return 1;
        }
        plx::SetModuleInstance(module.Handle());
        const std::vector<Item> items = MakeDesktop();
        // The store's directories exist for both sides: a first switch there and back makes them.
        Switch("Hidden");
        Switch("Shown");
        if (items.size() != kItems || !AllAt(items, false)) {
            std::printf("the desktop could not be made\n");
            return 1;
        }
        std::vector<double> times[2][2];  // [switch or direct][hide or show]
        std::vector<double> ratios[2];
        for (int round = 0; round < kRounds; ++round) {
            double took[2][2] = {};
            for (int turn = 0; turn < 2; ++turn) {
                const int side =
                    (turn == 0) == (round % 2 == 0) ? 0 : 1;  // the sides take turns at going first
                for (int direction = 0; direction < 2; ++direction) {
                    const double begin = Seconds();
                    if (side == 0)
                        Switch(direction == 0 ? "Hidden" : "Shown");
                    else if (direction == 0)
                        DirectHide(items);
                    else
                        DirectShow(items);
                    took[side][direction] = Seconds() - begin;
                    if (!AllAt(items, direction == 0)) {
                        std::printf("round %d: the %s did not %s every item\n", round,
                                    side == 0 ? "switch" : "direct loop", direction == 0 ? "hide" : "show");
                        status = 1;
                    }
                }
            }
            for (int side = 0; side < 2; ++side)
                for (int direction = 0; direction < 2; ++direction)
                    times[side][direction].push_back(took[side][direction]);
            for (int direction = 0; direction < 2; ++direction)
                ratios[direction].push_back(took[0][direction] / took[1][direction]);
        }
        for (int direction = 0; direction < 2; ++direction) {
            const double switchMedian = Median(times[0][direction]),
                         directMedian = Median(times[1][direction]);
            std::printf(
                "profile switch %s %d items: median of %d rounds %.0f ms, direct moves and entries %.0f ms\n",
                direction == 0 ? "hiding" : "showing", kItems, kRounds, switchMedian * 1000,
                directMedian * 1000);
            std::printf("  ratio %.2f (target: at most 1.5), median ratio within a round %.2f\n",
                        switchMedian / directMedian, Median(ratios[direction]));
        }
        plx::SetModuleInstance(nullptr);
    }
    testbed::EmptyDesktopFolders();
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    return status;
}

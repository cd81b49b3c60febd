// Speed of the desktop menu: QueryContextMenu with 101 profiles against the bare registry reads and
// menu calls that it must make. Run by hand, see bench/README.md; it prints figures and never fails
// on speed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/seconds.h"
#include "win32/module.h"
#include "shell/context_menu.h"
#include "layout/actions.h"
#include "layout/profiles.h"
#include "store/profile_tree.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "testbed/desktop_host.h"
#include "win32/unique.h"

namespace {

using bench::Seconds;

constexpr int kProfiles = 101;
constexpr int kRounds = 301;
constexpr UINT kFirstId = 100;
constexpr UINT kLastId = 0x7FFF;

plx::unique_hmenu ShellMenu() {
    plx::unique_hmenu menu(CreatePopupMenu());
    for (const char* text : {"One", "Two", "Three", "Four", "Five"})
        AppendMenuA(menu.get(), MF_STRING, 1, text);
    return menu;
}

void MakeProfiles() {
    for (int i = 0; i < kProfiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "Profile %03d", i);
        plx::unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, plx::ProfileKeyPath(name));
        plx::WriteString(key.get(), nullptr, plx::kProfileMarker);
        plx::CreateKey(HKEY_CURRENT_USER, plx::SlotKeyPath(name, plx::kManualSlot));
        plx::CreateKey(HKEY_CURRENT_USER, plx::SlotKeyPath(name, plx::kStartupSlot));
    }
    plx::unique_hkey resolution = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
    plx::WriteString(resolution.get(), plx::kCurrentProfileValue, "Profile 050");
    // The screen size of the last activation: the menu has no profile to activate.
    plx::WriteLastResolution(plx::GetScreenSize());
}

bool OpensForReading(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// What the menu cannot do without: look for the agent window, read the screen size, "LastResolution",
// "CurrentProfile", every subkey's marker and the two slots, order the names, and build the menu.
UINT BareQuery(HMENU shell, UINT first) {
    FindWindowA(nullptr, plx::kAgentWindowTitle);
    RECT screen = {};
    GetWindowRect(GetDesktopWindow(), &screen);
    char path[128];
    std::snprintf(path, sizeof(path), "%s\\%ld_%ld", plx::kRootKey, screen.right - screen.left,
                  screen.bottom - screen.top);
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, plx::kRootKey, 0, KEY_READ, &root) == ERROR_SUCCESS) {
        BYTE last[8];
        DWORD size = sizeof(last);
        RegQueryValueExA(root, "LastResolution", nullptr, nullptr, last, &size);
        RegCloseKey(root);
    }
    HKEY resolution = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &resolution) != ERROR_SUCCESS) return 0;
    char current[260] = {};
    DWORD size = sizeof(current);
    RegQueryValueExA(resolution, "CurrentProfile", nullptr, nullptr, reinterpret_cast<BYTE*>(current), &size);
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[260];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(resolution, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY profile = nullptr;
        if (RegOpenKeyExA(resolution, name, 0, KEY_READ, &profile) != ERROR_SUCCESS) continue;
        char marker[260] = {};
        DWORD markerSize = sizeof(marker);
        if (RegQueryValueExA(profile, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(marker),
                             &markerSize) == ERROR_SUCCESS &&
            lstrcmpiA(marker, "Profile") == 0)
            names.push_back(name);
        RegCloseKey(profile);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return lstrcmpA(a.c_str(), b.c_str()) < 0; });
    const bool manual = OpensForReading(resolution, std::string(current) + "\\Manual");
    const bool startup = OpensForReading(resolution, std::string(current) + "\\Startup");
    RegCloseKey(resolution);

    HMENU popup = CreatePopupMenu();
    HMENU profiles = CreatePopupMenu();
    UINT id = first;
    for (const std::string& name : names)
        AppendMenuA(profiles, lstrcmpA(name.c_str(), current) == 0 ? MF_CHECKED | MF_DISABLED : MF_STRING,
                    id++, name.c_str());
    MENUITEMINFOA select = {sizeof(select), MIIM_TYPE | MIIM_SUBMENU, MFT_STRING};
    select.hSubMenu = profiles;
    char selectText[] = "Select Active Profile";
    select.dwTypeData = selectText;
    InsertMenuItemA(popup, 0, TRUE, &select);
    const char* fixed[] = {nullptr,
                           "Create Profile...",
                           "Edit Active Profile...",
                           "Delete Active Profile",
                           nullptr,
                           "Save Active Profile",
                           "Save Active Profile As...",
                           nullptr,
                           "Restore Icon Positions",
                           "Restore Startup Icon Positions",
                           nullptr,
                           "Help",
                           "About Orvane..."};
    for (const char* text : fixed) {
        if (!text) {
            AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        const bool grayed = (!manual && text == fixed[8]) || (!startup && text == fixed[9]);
        AppendMenuA(popup, grayed ? MF_GRAYED : MF_STRING, id++, text);
    }
    MENUITEMINFOA top = {sizeof(top), MIIM_TYPE | MIIM_SUBMENU | MIIM_DATA, MFT_OWNERDRAW};
    top.hSubMenu = popup;
    top.dwItemData = plx::kTopItemData;
    InsertMenuItemA(shell, GetMenuItemCount(shell) - 1, TRUE, &top);
    return id - first;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    plx::ConnectActionWork();
    if (!testbed::InsideTestBed()) return 2;
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    testbed::ModuleCopy module;
    if (!module.Loaded()) {
        std::printf("the module copy could not be loaded\n");
        return 1;
    }
    plx::SetModuleInstance(module.Handle());
    desktophost::Options options;
    options.noItems = true;
    int status = 0;
    {
        desktophost::DesktopHost desktop(options);
        if (!desktop.Create(GetModuleHandleA(nullptr))) {
            std::printf("the stand-in desktop could not be made\n");
            return 1;
        }
        MakeProfiles();
        plx::DesktopMenu menu;
        // The first menu makes the agent window and subclasses the desktop's window; later ones do not.
        UINT menuIds = 0, bareIds = 0;
        {
            plx::unique_hmenu shell = ShellMenu();
            menuIds =
                HRESULT_CODE(menu.QueryContextMenu(shell.get(), 0xFFFFFFFF, kFirstId, kLastId, CMF_NORMAL));
            plx::unique_hmenu bare = ShellMenu();
            bareIds = BareQuery(bare.get(), kFirstId);
        }
        std::vector<double> menuTimes, bareTimes, ratios;
        for (int round = 0; round < kRounds; ++round) {
            double times[2] = {};
            for (int turn = 0; turn < 2; ++turn) {
                const bool menuSide = (turn == 0) == (round % 2 == 0);  // the sides take turns at going first
                plx::unique_hmenu shell = ShellMenu();
                const double begin = Seconds();
                if (menuSide)
                    menu.QueryContextMenu(shell.get(), 0xFFFFFFFF, kFirstId, kLastId, CMF_NORMAL);
                else
                    BareQuery(shell.get(), kFirstId);
                times[menuSide ? 0 : 1] = Seconds() - begin;
            }
            menuTimes.push_back(times[0]);
            bareTimes.push_back(times[1]);
            ratios.push_back(times[0] / times[1]);
        }
        const double menuMedian = Median(menuTimes);
        const double bareMedian = Median(bareTimes);
        std::printf("QueryContextMenu, %d profiles: %u ids (bare: %u)\n", kProfiles, menuIds, bareIds);
        std::printf("  median of %d rounds: %.3f ms, bare reads and menu calls %.3f ms\n", kRounds,
                    menuMedian * 1000, bareMedian * 1000);
        std::printf("  ratio %.2f (target: at most 1.5), median ratio within a round %.2f\n",
                    menuMedian / bareMedian, Median(ratios));
        if (menuIds != kProfiles + plx::kFixedItemCount || menuIds != bareIds) status = 1;
    }
    // The agent window holds a reference on the module copy; it goes before the copy does.
    if (HWND agent = FindWindowA(nullptr, plx::kAgentWindowTitle)) {
        SendMessageA(agent, WM_CLOSE, 0, 0);
        FreeLibrary(module.Handle());
    }
    plx::SetModuleInstance(nullptr);
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    return status;
}

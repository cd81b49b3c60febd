// Runs on a display with two monitors (scripts/on_monitors.sh): a 1280 x 1024 primary at 0,0 and a
// 1024 x 768 monitor at 1280,0, with the dead zone below the second. The tests detach and attach the
// second monitor as a laptop's user docks and undocks, while the stand-in desktop moves the icons of a
// monitor that went away, as the shell does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "engine/channel.h"
#include "store/kept_positions.h"
#include "store/profile_tree.h"
#include "testbed/desktop_host.h"
#include "testbed/testbed.h"
#include "tests/desktop_process_fixture.h"

namespace {

using testbed::ReadSavedPoint;
using testbed::WriteSavedPoint;

const char kDocked[] = "1280_1024+1024_768@1280_0";
const char kUndocked[] = "1280_1024";

std::string Below(const std::string& key, const std::string& rest = "") {
    return std::string(plx::kRootKey) + "\\" + key + (rest.empty() ? "" : "\\" + rest);
}

bool SetSecondMonitor(bool attached) {
    DEVMODEA mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_POSITION | DM_PELSWIDTH | DM_PELSHEIGHT;
    if (attached) {
        mode.dmPelsWidth = 1024;
        mode.dmPelsHeight = 768;
        mode.dmPosition = {1280, 0};
    }
    if (ChangeDisplaySettingsExA("\\\\.\\DISPLAY2", &mode, nullptr, CDS_UPDATEREGISTRY | CDS_NORESET,
                                 nullptr) != DISP_CHANGE_SUCCESSFUL)
        return false;
    return ChangeDisplaySettingsExA(nullptr, nullptr, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL &&
           GetSystemMetrics(SM_CMONITORS) == (attached ? 2 : 1);
}

// Wine 8 applies a change of the monitors only from a 64-bit process: from a 32-bit one the change is
// refused (DISP_CHANGE_BADMODE). The 64-bit run covers what needs one.
bool CanChangeMonitors() { return sizeof(void*) == 8 || !testbed::OnWine(); }

std::string LastArrangement() {
    std::string text;
    plx::unique_hkey root = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kRootKey);
    if (root) plx::ReadString(root.get(), plx::kLastArrangementValue, text);
    return text;
}

bool KeyExists(const std::string& path) {
    return static_cast<bool>(plx::OpenKeyForReading(HKEY_CURRENT_USER, path));
}

// Every value below a key, flattened to "key\value" = type and bytes.
void Dump(const std::string& path, std::map<std::string, std::string>& out) {
    plx::unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, path);
    if (!key) return;
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD chars = sizeof(name), type = 0;
        BYTE data[2048];
        DWORD size = sizeof(data);
        if (RegEnumValueA(key.get(), i, name, &chars, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out[path + "\\" + name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    plx::ForEachSubkey(key.get(), [&](const std::string& name) {
        Dump(path + "\\" + name, out);
        return true;
    });
}

class MonitorsTest : public testbed::DesktopProcessTest {
protected:
    void SetUp() override {
        if (GetSystemMetrics(SM_CMONITORS) != 2) {
            ASSERT_TRUE(SetSecondMonitor(true));
        }
        DesktopProcessTest::SetUp();
        SetSettleTime(plx::kMinDisplaySettleMs);
    }
    void TearDown() override {
        DesktopProcessTest::TearDown();
        ChangeDisplaySettingsExA(nullptr, nullptr, nullptr, 0, nullptr);  // any temporary mode ends
        if (GetSystemMetrics(SM_CMONITORS) != 2) SetSecondMonitor(true);
    }
    void SetSettleTime(DWORD ms) {
        plx::unique_hkey root = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
        ASSERT_EQ(plx::WriteNumber(root.get(), plx::kDisplaySettleTimeValue, ms), ERROR_SUCCESS);
    }
    bool WaitForIconAt(const std::string& label, int x, int y) const {
        return testbed::WaitUntil([&] {
            const testbed::IconState icon = Icon(label);
            return icon.x == x && icon.y == y;
        });
    }
    // A profile "Default" of the arrangement with one icon's place saved.
    static void MakeProfile(const char* arrangement, const char* label, int x, int y) {
        ASSERT_TRUE(WriteSavedPoint(Below(arrangement, "Default\\Manual"), label, x, y));
        plx::unique_hkey profile = plx::CreateKey(HKEY_CURRENT_USER, Below(arrangement, "Default"));
        ASSERT_EQ(plx::WriteString(profile.get(), nullptr, plx::kProfileMarker), ERROR_SUCCESS);
    }
    bool ChangeAndWait(bool attached, const char* arrangement) {
        return SetSecondMonitor(attached) &&
               testbed::WaitUntil([&] { return LastArrangement() == arrangement; });
    }
};

TEST_F(MonitorsTest, DockingAndUndockingBringEveryIconHomeAndOlderProfilesCarryOver) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    ASSERT_EQ(plx::ResolutionKeyName(plx::GetScreenSize()), kDocked);
    // As an older version left the tree for a user with both monitors: the profile under the
    // primary's size, and only "LastResolution".
    MakeProfile(kUndocked, "alpha.txt", 100, 100);
    ASSERT_TRUE(WriteSavedPoint(Below(kUndocked, "Default\\Manual"), "beta.txt", 1500, 200));
    ASSERT_TRUE(WriteSavedPoint(plx::kRootKey, plx::kLastResolutionValue, 1280, 1024));
    ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, Below("Items")));
    ASSERT_TRUE(WriteSavedPoint(Below("1024_768", "Default\\Manual"), "alpha.txt", 7, 7));
    std::map<std::string, std::string> olderTree;
    Dump(Below(kUndocked), olderTree);
    Dump(Below("1024_768"), olderTree);

    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 100, 100));
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 1500, 200));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);
    // The arrangement has a copy of the profiles; nothing older changed.
    int x = 0, y = 0;
    ASSERT_TRUE(ReadSavedPoint(Below(kDocked, "Default\\Manual"), "beta.txt", x, y));
    EXPECT_EQ(x, 1500);
    EXPECT_EQ(LastArrangement(), kDocked);
    std::map<std::string, std::string> after;
    Dump(Below(kUndocked), after);
    Dump(Below("1024_768"), after);
    EXPECT_EQ(after, olderTree);
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1500, 200));

    // Undocked: the second monitor's icon is moved onto the primary; the undocked arrangement's own
    // profile is saved there.
    ASSERT_TRUE(ChangeAndWait(false, kUndocked));
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 600, 600));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);

    // Docked again: every icon is back where the docked profile has it, the undocked one kept apart.
    ASSERT_TRUE(ChangeAndWait(true, kDocked));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1500, 200));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 100, 100));
    ASSERT_TRUE(ReadSavedPoint(Below(kUndocked, "Default\\Manual"), "beta.txt", x, y));
    EXPECT_EQ(x, 600);
    EXPECT_EQ(y, 600);
}

TEST_F(MonitorsTest, PositionsInTheDeadZoneAndNewIconsEndOnAMonitor) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    // Below the second monitor no monitor shows the desktop.
    ASSERT_TRUE(WriteSavedPoint(Below(kDocked, "Default\\Manual"), "alpha.txt", 1500, 900));
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\gamma.txt", "g"));
    ASSERT_TRUE(host_.WaitForIcon("gamma.txt"));
    ASSERT_TRUE(host_.MoveIcon("gamma.txt", 1700, 850));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);

    // Each whole icon, its label included, on one monitor.
    const RECT monitors[] = {{0, 0, 1280, 1024}, {1280, 0, 2304, 768}};
    for (const char* label : {"alpha.txt", "gamma.txt"}) {
        const testbed::IconState icon = Icon(label);
        EXPECT_TRUE(std::any_of(std::begin(monitors), std::end(monitors),
                                [&](const RECT& monitor) {
                                    RECT common = {};
                                    return IntersectRect(&common, &icon.bounds, &monitor) &&
                                           EqualRect(&common, &icon.bounds);
                                }))
            << label << " at " << icon.bounds.left << "," << icon.bounds.top << "-" << icon.bounds.right
            << "," << icon.bounds.bottom;
    }
    // The saved place nearest the dead zone: the second monitor's bottom.
    EXPECT_EQ(Icon("alpha.txt").x, 1500);
    EXPECT_EQ(Icon("alpha.txt").bounds.bottom, 768);
}

TEST_F(MonitorsTest, AMonitorThatFlapsMovesNoFileAndAChangeThatStaysActsOnce) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 1500, 200));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    ASSERT_EQ(LastArrangement(), kDocked);
    const plx::ScreenSize docked = plx::GetScreenSize();

    // Gone and back within the quiet period: the stand-in moved the icon off the vanished monitor,
    // the product only puts it back, and sets up nothing for the arrangement it saw for a moment.
    SetSettleTime(3000);
    ASSERT_TRUE(SetSecondMonitor(false));
    ASSERT_TRUE(testbed::WaitUntil([&] { return Icon("beta.txt").x < 1280; }));
    ASSERT_TRUE(SetSecondMonitor(true));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1500, 200));
    EXPECT_FALSE(KeyExists(Below(kUndocked)));
    EXPECT_EQ(LastArrangement(), kDocked);

    // A change that stays, after flapping within the quiet period: the arrangement it settles in is
    // activated once, from the icons as they were before the first change; the arrangement seen for
    // a moment is not activated at all.
    MakeProfile(kUndocked, "alpha.txt", 400, 400);
    // An action asked for ends the look the product takes after the flap, so that the icon moved
    // next is not put back as the shell's doing.
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 300, 300));
    ASSERT_TRUE(SetSecondMonitor(false));
    ASSERT_TRUE(SetSecondMonitor(true));
    ASSERT_TRUE(ChangeAndWait(false, kUndocked));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 400, 400));
    EXPECT_FALSE(plx::ReadKeptPositions(docked));
    const std::optional<plx::IconPlaces> kept = plx::ReadKeptPositions(plx::GetScreenSize());
    ASSERT_TRUE(kept);
    bool keptAlpha = false;
    for (const plx::IconPlace& place : *kept)
        if (place.label == "alpha.txt") keptAlpha = place.position.x == 300 && place.position.y == 300;
    EXPECT_TRUE(keptAlpha);
}

TEST_F(MonitorsTest, TheShellBringingTheModuleInIsEnoughToFollowDisplayChanges) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    using ServerExport = HRESULT(WINAPI*)();
    auto registerServer =
        reinterpret_cast<ServerExport>(GetProcAddress(module.Handle(), "DllRegisterServer"));
    auto unregisterServer =
        reinterpret_cast<ServerExport>(GetProcAddress(module.Handle(), "DllUnregisterServer"));
    ASSERT_TRUE(registerServer && unregisterServer);
    ASSERT_EQ(registerServer(), S_OK);
    MakeProfile(kDocked, "alpha.txt", 100, 100);
    MakeProfile(kUndocked, "alpha.txt", 400, 400);
    ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, Below("Items")));
    plx::WriteLastResolution(plx::GetScreenSize());
    StartHost();

    // Nothing but the class object: no menu, no action from another program, no logon restore.
    DWORD_PTR classes = 0;
    ASSERT_TRUE(SendMessageTimeoutA(host_.Progman(), desktophost::kGetHandlerClassesMessage, 0, 0,
                                    SMTO_NORMAL, 10000, &classes));
    EXPECT_EQ(classes, 1u);
    EXPECT_TRUE(testbed::WaitUntil([&] {
        HWND agent = testbed::FindAgentWindow();
        return agent && testbed::ProcessOf(agent) == host_.ProcessId();
    }));
    EXPECT_TRUE(ChangeAndWait(false, kUndocked));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 400, 400));
    host_.Stop();
    EXPECT_EQ(unregisterServer(), S_OK);
}

TEST_F(MonitorsTest, AFullScreenProgramsModeMovesNothingAndItsEndPutsTheIconsBack) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 1150, 900));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    std::map<std::string, std::string> before, during;
    Dump(plx::kRootKey, before);

    // A program takes the primary at a smaller size for a while: the desktop moves the icon that it
    // no longer shows, and the quiet period ends with the program's mode still on.
    DEVMODEA mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmPelsWidth = 1024;
    mode.dmPelsHeight = 768;
    ASSERT_EQ(ChangeDisplaySettingsExA(nullptr, &mode, nullptr, CDS_FULLSCREEN, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    ASSERT_TRUE(testbed::WaitUntil([&] { return Icon("alpha.txt").y < 768; }));
    HWND agent = testbed::FindAgentWindow();
    SendMessageA(agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
    Dump(plx::kRootKey, during);
    EXPECT_EQ(during, before);

    // The program ends: the stored mode is back, and so is the icon.
    ASSERT_EQ(ChangeDisplaySettingsExA(nullptr, nullptr, nullptr, 0, nullptr), DISP_CHANGE_SUCCESSFUL);
    SendMessageA(agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 1150, 900));
    EXPECT_EQ(LastArrangement(), kDocked);
}

}  // namespace

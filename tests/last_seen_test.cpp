// The layout as last seen, on a display with two monitors (scripts/on_monitors.sh: a 1280 x 1024 primary
// and a 1024 x 768 monitor at 1280,0). The user moves icons and saves nothing; the agent keeps what it
// sees once the icons are still, and a flap, a re-dock or a new shell brings that back.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "store/profile_tree.h"
#include "store/snapshots.h"
#include "engine/icon_watch.h"
#include "testbed/testbed.h"
#include "tests/desktop_process_fixture.h"

namespace {

const char kDocked[] = "1280_1024+1024_768@1280_0";
const char kUndocked[] = "1280_1024";

bool SetSecondMonitor(bool attached) {
    DEVMODEA mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_POSITION | DM_PELSWIDTH | DM_PELSHEIGHT;
    if (attached) {
        mode.dmPelsWidth = 1024;
        mode.dmPelsHeight = 768;
        mode.dmPosition = {1280, 0};
    }
    return ChangeDisplaySettingsExA("\\\\.\\DISPLAY2", &mode, nullptr, CDS_UPDATEREGISTRY | CDS_NORESET,
                                    nullptr) == DISP_CHANGE_SUCCESSFUL &&
           ChangeDisplaySettingsExA(nullptr, nullptr, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL &&
           GetSystemMetrics(SM_CMONITORS) == (attached ? 2 : 1);
}

// Wine 8 changes monitors only from a 64-bit process (see monitors_test.cpp).
bool CanChangeMonitors() { return sizeof(void*) == 8 || !testbed::OnWine(); }

std::string LastArrangement() {
    std::string text;
    if (plx::unique_hkey root = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kRootKey))
        plx::ReadString(root.get(), plx::kLastArrangementValue, text);
    return text;
}

void SetRootNumber(const char* name, DWORD value) {
    plx::unique_hkey root = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
    ASSERT_EQ(plx::WriteNumber(root.get(), name, value), ERROR_SUCCESS);
}

class LastSeenTest : public testbed::DesktopProcessTest {
protected:
    void SetUp() override {
        if (plx::ResolutionKeyName(plx::GetScreenSize()) != kDocked) {
            ASSERT_TRUE(SetSecondMonitor(true));
        }
        DesktopProcessTest::SetUp();
        SetRootNumber(plx::kDisplaySettleTimeValue, plx::kMinDisplaySettleMs);
        SetRootNumber(plx::kLayoutStillTimeValue, 500);
    }
    void TearDown() override {
        DesktopProcessTest::TearDown();
        if (plx::ResolutionKeyName(plx::GetScreenSize()) != kDocked) SetSecondMonitor(true);
    }
    bool WaitForIconAt(const std::string& label, int x, int y) const {
        return testbed::WaitUntil([&] {
            const testbed::IconState icon = Icon(label);
            return icon.x == x && icon.y == y;
        });
    }
    // Moves an icon as the user drags it, and waits until the agent has kept the layout with it there.
    void Drag(const std::string& label, int x, int y) const {
        ASSERT_TRUE(host_.MoveIcon(label, x, y));
        ASSERT_TRUE(testbed::WaitUntil([&] {
            const std::optional<plx::Snapshot> latest = plx::ReadSnapshot(plx::GetScreenSize(), 1);
            if (!latest) return false;
            for (const plx::IconPlace& place : latest->places)
                if (place.label == label) return place.position.x == x && place.position.y == y;
            return false;
        })) << label
            << " was not kept at " << x << "," << y;
    }
    // Gone and back within the quiet period: the stand-in moves beta off the monitor that went.
    void Flap(int betaX, int betaY) const {
        SetRootNumber(plx::kDisplaySettleTimeValue, 1500);
        ASSERT_TRUE(SetSecondMonitor(false));
        ASSERT_TRUE(testbed::WaitUntil([&] { return Icon("beta.txt").x < 1280; }));
        ASSERT_TRUE(SetSecondMonitor(true));
        ASSERT_TRUE(WaitForIconAt("beta.txt", betaX, betaY));
    }
};

TEST_F(LastSeenTest, AFlapPutsEveryIconWhereTheUserLeftItUnlessAProfileWasAskedForSince) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 1500, 200));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    const testbed::IconState alphaSaved = Icon("alpha.txt");

    // Moved and left alone, nothing saved: the flap brings back what the user left, and an undo the
    // places the flap left.
    Drag("alpha.txt", 700, 500);
    Drag("beta.txt", 1700, 300);
    Flap(1700, 300);
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 700, 500));
    ASSERT_EQ(module.Call("UndoIconPositions"), S_OK);
    EXPECT_LT(Icon("beta.txt").x, 1280);

    // A restore asked for since is the layout from then on, and a move it follows at once is not kept.
    const size_t kept = plx::ListSnapshots(plx::GetScreenSize()).size();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 900, 700));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);
    SendMessageA(testbed::FindAgentWindow(), WM_TIMER, plx::kStillnessTimer, 0);
    EXPECT_EQ(plx::ListSnapshots(plx::GetScreenSize()).size(), kept);
    ASSERT_TRUE(WaitForIconAt("beta.txt", 1500, 200));
    Flap(1500, 200);
    EXPECT_TRUE(WaitForIconAt("alpha.txt", alphaSaved.x, alphaSaved.y));

    // Paused: a move keeps nothing once the icons are still, and a flap goes back to the profile even
    // from a layout kept before the pause. (An action asked for first ends the look after the flap.)
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    Drag("beta.txt", 1800, 400);
    SetRootNumber(plx::kKeepLayoutValue, 0);
    const size_t keptBefore = plx::ListSnapshots(plx::GetScreenSize()).size();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 800, 600));
    SendMessageA(testbed::FindAgentWindow(), WM_TIMER, plx::kStillnessTimer, 0);
    EXPECT_EQ(plx::ListSnapshots(plx::GetScreenSize()).size(), keptBefore);
    Flap(1500, 200);
}

TEST_F(LastSeenTest, AReDockBringsTheDockedIconsAsLastSeenDocked) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    Drag("beta.txt", 1600, 300);
    Drag("alpha.txt", 500, 400);

    ASSERT_TRUE(SetSecondMonitor(false));
    ASSERT_TRUE(testbed::WaitUntil([&] { return LastArrangement() == kUndocked; }));
    // Used undocked (an action asked for ends the product's look after the change).
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    Drag("alpha.txt", 900, 800);
    Drag("beta.txt", 200, 700);

    ASSERT_TRUE(SetSecondMonitor(true));
    ASSERT_TRUE(testbed::WaitUntil([&] { return LastArrangement() == kDocked; }));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1600, 300));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 500, 400));
}

TEST_F(LastSeenTest, ANewShellIsFollowedAndItsIconsComeBack) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 300, 300));
    ASSERT_EQ(module.Call("SaveStartupIconPositions"), S_OK);
    Drag("alpha.txt", 640, 480);
    Drag("beta.txt", 1900, 500);

    // The shell ends and another starts, laying its icons out anew.
    host_.Kill();
    StartHost();
    ASSERT_NE(Icon("alpha.txt").x, 640);
    ASSERT_EQ(module.Call("FollowShell"), S_OK);
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 640, 480));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1900, 500));
    HWND agent = testbed::FindAgentWindow();
    ASSERT_TRUE(agent && testbed::ProcessOf(agent) == host_.ProcessId());

    // Its display changes are followed with no other call.
    Flap(1900, 500);

    // A restore asked for while the icons are awaited (the logon restore) is not overridden.
    ASSERT_EQ(module.Call("FollowShell"), S_OK);
    ASSERT_EQ(module.Call("RestoreStartupIconPositions"), S_OK);
    ASSERT_TRUE(WaitForIconAt("alpha.txt", 300, 300));
    SendMessageA(testbed::FindAgentWindow(), WM_TIMER, plx::kStillnessTimer, 0);
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 300, 300));
}

}  // namespace

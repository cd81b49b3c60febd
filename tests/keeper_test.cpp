// The keeper (orvanew keep) as the logon entry starts it: a process of its own beside a copy of the
// module, against the stand-in desktop in yet another process, inside a Wine virtual desktop: it has a
// notification area, and its screen size may change.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/channel.h"
#include "store/profile_tree.h"
#include "store/settings.h"
#include "store/snapshots.h"
#include "tests/desktop_process_fixture.h"
#include "testbed/testbed.h"
#include "win32/registry.h"
#include "win32/unique.h"

namespace {

// The keeper's hidden window, in the given process.
HWND FindKeeperWindow(DWORD process) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"" PLAXEN_PRODUCT_TITLE " keeper", nullptr); window;
         window = FindWindowExW(nullptr, window, L"" PLAXEN_PRODUCT_TITLE " keeper", nullptr))
        if (testbed::ProcessOf(window) == process) return window;
    return nullptr;
}

// The open popup menu of the given process, null when none shows.
HWND FindPopupMenu(DWORD process) {
    for (HWND menu = FindWindowExA(nullptr, nullptr, "#32768", nullptr); menu;
         menu = FindWindowExA(nullptr, menu, "#32768", nullptr))
        if (testbed::ProcessOf(menu) == process && IsWindowVisible(menu)) return menu;
    return nullptr;
}

class KeeperTest : public testbed::DesktopProcessTest {
protected:
    void SetUp() override {
        testbed::DesktopProcessTest::SetUp();
        plx::DeleteKeyTree(HKEY_LOCAL_MACHINE, plx::kPolicyKey);
        const std::string moduleFile = LoadModule().AnsiPath();
        directory_ = moduleFile.substr(0, moduleFile.find_last_of('\\'));
        ASSERT_TRUE(CopyFileA((testbed::ExeDirectory() + "\\orvanew.exe").c_str(),
                              (directory_ + "\\orvanew.exe").c_str(), FALSE));
    }
    void TearDown() override {
        for (PROCESS_INFORMATION& keeper : keepers_) {
            if (WaitForSingleObject(keeper.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(keeper.hProcess, 99);
            WaitForSingleObject(keeper.hProcess, 10000);
            CloseHandle(keeper.hProcess);
            CloseHandle(keeper.hThread);
        }
        plx::DeleteKeyTree(HKEY_LOCAL_MACHINE, plx::kPolicyKey);
        testbed::DesktopProcessTest::TearDown();
    }

    // Starts a keeper as the logon entry does; index into keepers_.
    size_t StartKeeper() {
        PROCESS_INFORMATION pi = {};
        EXPECT_TRUE(
            testbed::StartTiedProcess("\"" + directory_ + "\\orvanew.exe\" keep --quiet --wait 30", pi));
        keepers_.push_back(pi);
        return keepers_.size() - 1;
    }
    // The keeper's window once it is up (its logon restore made); null when it ended or never came.
    HWND WaitForKeeper(size_t keeper) const {
        HWND window = nullptr;
        testbed::WaitUntil(
            [&] { return (window = FindKeeperWindow(keepers_[keeper].dwProcessId)) != nullptr; });
        return window;
    }
    // The keeper's exit code once it ended within the time; STILL_ACTIVE otherwise.
    DWORD EndOf(size_t keeper, DWORD timeoutMs = 10000) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(keepers_[keeper].hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(keepers_[keeper].hProcess, &code);
        return code;
    }
    static void SetPolicy(const char* name, DWORD value) {
        plx::unique_hkey policies = plx::CreateKey(HKEY_LOCAL_MACHINE, plx::kPolicyKey);
        ASSERT_TRUE(policies);
        ASSERT_EQ(plx::WriteNumber(policies.get(), name, value), ERROR_SUCCESS);
    }
    static void SetUserValue(const char* name, DWORD value) {
        plx::unique_hkey root = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
        ASSERT_TRUE(root);
        ASSERT_EQ(plx::WriteNumber(root.get(), name, value), ERROR_SUCCESS);
    }

    std::string directory_;
    std::vector<PROCESS_INFORMATION> keepers_;
};

TEST_F(KeeperTest, OneKeeperPerSessionStaysUntilTheSessionEnds) {
    StartHost();
    const size_t first = StartKeeper();
    HWND window = WaitForKeeper(first);
    ASSERT_NE(window, nullptr);
    // A second one (a second logon entry, a user who starts it again) ends at once and leaves the first.
    const size_t second = StartKeeper();
    EXPECT_EQ(EndOf(second), 0u);
    EXPECT_EQ(FindKeeperWindow(keepers_[second].dwProcessId), nullptr);
    EXPECT_EQ(EndOf(first, 0), STILL_ACTIVE);
    // Log-off: it agrees to the session's end, and ends with it.
    DWORD_PTR agreed = 0;
    ASSERT_TRUE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                                    &agreed));
    EXPECT_EQ(agreed, static_cast<DWORD_PTR>(TRUE));
    SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, nullptr);
    EXPECT_EQ(EndOf(first), 0u);
}

TEST_F(KeeperTest, PolicyValuesOverrideTheUsersOwn) {
    SetUserValue(plx::kDisplaySettleTimeValue, 5000);
    SetUserValue(plx::kRemoteSessionsValue, 1);
    EXPECT_EQ(plx::ReadDisplaySettleTime(), 5000u);
    EXPECT_TRUE(plx::ReadRemoteSessionsFollowed());
    SetPolicy(plx::kDisplaySettleTimeValue, 800);
    SetPolicy(plx::kRemoteSessionsValue, 0);
    EXPECT_EQ(plx::ReadDisplaySettleTime(), 800u);
    EXPECT_FALSE(plx::ReadRemoteSessionsFollowed());

    // The user switched the keeper on; the policy switches it off: the logon restore, then the end.
    SetUserValue(plx::kKeeperValue, 1);
    SetPolicy(plx::kKeeperValue, 0);
    StartHost();
    ASSERT_EQ(module_->Call("SaveStartupIconPositions"), S_OK);
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 100, saved.y + 80));
    const size_t keeper = StartKeeper();
    EXPECT_EQ(EndOf(keeper), 0u);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
}

// A right-click on the keeper's icon, the last one at the right end of Wine's notification area (the
// taskbar at the bottom of its virtual desktop): the menu that opens, or null.
HWND OpenIconMenu(DWORD keeper) {
    HWND tray = nullptr;
    HWND menu = nullptr;
    testbed::WaitUntil([&] {
        tray = FindWindowW(L"Shell_TrayWnd", nullptr);
        if (!tray || !IsWindowVisible(tray)) return false;
        RECT area = {};
        GetClientRect(tray, &area);
        const LPARAM at = MAKELPARAM(area.right - GetSystemMetrics(SM_CXSMICON) / 2 - 2, area.bottom / 2);
        PostMessageW(tray, WM_RBUTTONDOWN, MK_RBUTTON, at);
        PostMessageW(tray, WM_RBUTTONUP, 0, at);
        return testbed::WaitUntil([&] { return (menu = FindPopupMenu(keeper)) != nullptr; }, 1000);
    });
    return menu;
}

TEST_F(KeeperTest, TheIconAndItsMenuWorkAsTheUserUsesThem) {
    StartHost();
    ASSERT_EQ(module_->Call("SaveCurrentProfile"), S_OK);
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 150, saved.y + 100));
    const size_t keeper = StartKeeper();
    ASSERT_NE(WaitForKeeper(keeper), nullptr);
    const DWORD process = keepers_[keeper].dwProcessId;

    // "Restore Icon Positions", by its access key.
    HWND menu = OpenIconMenu(process);
    ASSERT_NE(menu, nullptr) << "no menu at the keeper's icon";
    PostMessageW(menu, WM_CHAR, L'r', 0);
    EXPECT_TRUE(testbed::WaitUntil([&] { return Icon("alpha.txt").x == saved.x; }));
    EXPECT_EQ(Icon("alpha.txt").y, saved.y);
    // "Undo" takes it back.
    menu = OpenIconMenu(process);
    ASSERT_NE(menu, nullptr);
    PostMessageW(menu, WM_CHAR, L'u', 0);
    EXPECT_TRUE(testbed::WaitUntil([&] { return Icon("alpha.txt").x == saved.x + 150; }));

    // "Keep the layout automatically" switches the user's value off, and on again.
    for (const bool keep : {false, true}) {
        menu = OpenIconMenu(process);
        ASSERT_NE(menu, nullptr);
        PostMessageW(menu, WM_CHAR, L'k', 0);
        EXPECT_TRUE(testbed::WaitUntil([&] { return plx::KeepLayoutAutomatically() == keep; })) << keep;
    }
    // The user's switch for the icon takes it away at once (Wine's notification area, empty then, hides),
    // and brings it back.
    SetUserValue(plx::kNotifyIconValue, 0);
    EXPECT_TRUE(testbed::WaitUntil([] {
        HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
        return tray && !IsWindowVisible(tray);
    })) << "the icon stayed";
    SetUserValue(plx::kNotifyIconValue, 1);
    // Exit ends it.
    menu = OpenIconMenu(process);
    ASSERT_NE(menu, nullptr);
    PostMessageW(menu, WM_CHAR, L'x', 0);
    EXPECT_EQ(EndOf(keeper), 0u);
}

TEST_F(KeeperTest, ADesktopThatStartsAgainIsFollowedWithNoCallFromAnyone) {
    SetUserValue(plx::kDisplaySettleTimeValue, 500);
    StartHost();
    const size_t keeper = StartKeeper();
    ASSERT_NE(WaitForKeeper(keeper), nullptr);
    // The user moves an icon and leaves it: it is kept as the layout as last seen.
    const testbed::IconState before = Icon("alpha.txt");
    const int x = before.x + 200;
    const int y = before.y + 150;
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", x, y));
    ASSERT_TRUE(testbed::WaitUntil([] { return !plx::ListSnapshots(plx::GetScreenSize()).empty(); }, 20000))
        << "no snapshot was kept";

    // The desktop crashes and starts again with its own layout, announcing itself.
    host_.Kill();
    StartHost();
    EXPECT_TRUE(testbed::WaitUntil([&] { return testbed::FindAgentWindow() != nullptr; }, 20000))
        << "the keeper did not attach to the new desktop";
    EXPECT_TRUE(
        testbed::WaitUntil([&] { return Icon("alpha.txt").x == x && Icon("alpha.txt").y == y; }, 20000))
        << "alpha.txt is at " << Icon("alpha.txt").x << "," << Icon("alpha.txt").y;

    // The taskbar announced itself before the desktop was up: the keeper asks until the desktop is there.
    host_.Kill();
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    ASSERT_TRUE(host_.Start("--no-announce"));
    EXPECT_TRUE(testbed::WaitUntil([&] { return testbed::FindAgentWindow() != nullptr; }, 20000))
        << "the keeper did not attach to a desktop that came after its taskbar";

    // The next display change is followed: the new size gets its profile, nobody having asked.
    ASSERT_TRUE(testbed::SetScreenSize(800, 600));
    const bool followed = testbed::WaitUntil(
        [] { return plx::ProfileKeyExists(plx::GetScreenSize(), testbed::Profile(plx::kDefaultProfile)); },
        20000);
    testbed::SetScreenSize(1024, 768);
    EXPECT_TRUE(followed) << "the display change was not followed";
}

}  // namespace

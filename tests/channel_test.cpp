// The action exports called from this process against the stand-in desktop running as a process of
// its own, as a logon task drives the shell.

// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/channel.h"
#include "store/profiles.h"
#include "store/registry.h"
#include "tests/support/desktop_host_process.h"
#include "tests/support/message_boxes.h"
#include "tests/support/module_copy.h"
#include "tests/support/testbed.h"
#include "win32/unique.h"

namespace {

using testbed::CallerProcess;
using testbed::ModuleCopy;

constexpr int kRestorePositions = 2;
constexpr int kRestoreStartupPositions = 3;
constexpr int kReleaseHiddenItems = 5;

HWND FindAgent() { return FindWindowA(nullptr, plx::kAgentWindowTitle); }

// A named callback: on x86 a lambda does not convert to the stdcall WNDENUMPROC.
BOOL CALLBACK CountAgentWindow(HWND window, LPARAM counter) {
    char title[64] = {};
    GetWindowTextA(window, title, sizeof(title));
    if (std::string(title) == plx::kAgentWindowTitle) ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

int CountAgentWindows() {
    int count = 0;
    EnumWindows(CountAgentWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

LPARAM ActionMessage(int code, BYTE quiet) {
    return static_cast<LPARAM>(static_cast<DWORD>(code) << 16 | quiet);
}

class ChannelTest : public testing::Test {
protected:
    void SetUp() override {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        testbed::EmptyDesktopFolders();
        desktop_ = testbed::UserDesktopDirectory();
        ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\alpha.txt", "a"));
        ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\beta.txt", "b"));
        ASSERT_EQ(FindAgent(), nullptr);
    }
    void TearDown() override {
        host_.Stop();
        testbed::EmptyDesktopFolders();
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }

    void StartHost() {
        ASSERT_TRUE(host_.Start());
        ASSERT_TRUE(host_.WaitForIcon("alpha.txt"));
        ASSERT_TRUE(host_.WaitForIcon("beta.txt"));
    }
    testbed::IconState Icon(const std::string& label) const {
        testbed::HostReport report;
        EXPECT_TRUE(host_.Report(report));
        const testbed::IconState* icon = report.Find(label);
        return icon ? *icon : testbed::IconState{};
    }
    static bool ReadPoint(const std::string& slotPath, const std::string& name, int& x, int& y) {
        plx::unique_hkey slot = plx::OpenKeyForReading(HKEY_CURRENT_USER, slotPath);
        BYTE data[8] = {};
        DWORD size = sizeof(data);
        if (!slot || plx::ReadBytes(slot.get(), name.c_str(), data, size) != ERROR_SUCCESS || size != 8)
            return false;
        x = static_cast<int>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<unsigned>(data[3]) << 24);
        y = static_cast<int>(data[4] | data[5] << 8 | data[6] << 16 | static_cast<unsigned>(data[7]) << 24);
        return true;
    }
    plx::unique_hwnd MakeOwner() const {
        return plx::unique_hwnd(CreateWindowExA(0, "Static", "owner", WS_POPUP, 0, 0, 10, 10, nullptr,
                                                nullptr, nullptr, nullptr));
    }

    std::string desktop_;
    testbed::DesktopHostProcess host_;
};

TEST_F(ChannelTest, FirstCallAttachesAndLaterCallsActOnTheOtherProcessesIcons) {
    ModuleCopy module;
    ASSERT_TRUE(module.Loaded());
    StartHost();

    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgent();
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(ProcessOf(agent), host_.ProcessId());
    EXPECT_FALSE(IsWindowVisible(agent));

    // The save wrote the profile as the menu's save does: marker, slot, visibility, resolution.
    const std::string profile = plx::ProfileKeyPath("Default");
    plx::unique_hkey resolution = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
    std::string current;
    ASSERT_EQ(plx::ReadString(resolution.get(), plx::kCurrentProfileValue, current), ERROR_SUCCESS);
    EXPECT_EQ(current, "Default");
    EXPECT_TRUE(plx::IsProfileKey(resolution.get(), "Default"));
    testbed::HostReport report;
    ASSERT_TRUE(host_.Report(report));
    for (const testbed::IconState& icon : report.icons) {
        int x = 0, y = 0;
        ASSERT_TRUE(ReadPoint(profile + "\\Manual", icon.label, x, y)) << icon.label;
        EXPECT_EQ(x, icon.x) << icon.label;
        EXPECT_EQ(y, icon.y) << icon.label;
    }
    int width = 0, height = 0;
    ASSERT_TRUE(ReadPoint(plx::kRootKey, plx::kLastResolutionValue, width, height));
    EXPECT_EQ(plx::GetScreenSize(), (plx::ScreenSize{width, height}));
    plx::unique_hkey items =
        plx::OpenKeyForReading(HKEY_CURRENT_USER, std::string(plx::kRootKey) + "\\Items");
    EXPECT_TRUE(items);

    // Later calls find the window and use it: the same window serves every action.
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 301, saved.y + 207));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_EQ(FindAgent(), agent);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    EXPECT_EQ(Icon("alpha.txt").y, saved.y);

    ASSERT_TRUE(host_.MoveIcon("beta.txt", 420, 330));
    ASSERT_EQ(module.Call("SaveStartupIconPositions"), S_OK);
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 40, 500));
    ASSERT_EQ(module.Call("RestoreStartupIconPositions"), S_OK);
    EXPECT_EQ(Icon("beta.txt").x, 420);
    EXPECT_EQ(Icon("beta.txt").y, 330);
    EXPECT_EQ(FindAgent(), agent);
    EXPECT_EQ(CountAgentWindows(), 1);
}

TEST_F(ChannelTest, MessagesOfForwardedActionsHaveNoOwnerAndFollowTheLowByteOfQuiet) {
    ModuleCopy module;
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    plx::unique_hwnd owner = MakeOwner();
    testbed::MessageBoxWatcher watcher;

    // No "Startup" slot yet: the restore reports that itself, and the export still succeeds.
    EXPECT_EQ(module.Call("RestoreStartupIconPositions", TRUE, owner.get()), S_OK);
    EXPECT_EQ(module.Call("RestoreStartupIconPositions", 0x301, owner.get()), S_OK);
    EXPECT_EQ(module.Call("RestoreStartupIconPositions", 256, owner.get()), S_OK);
    ASSERT_TRUE(watcher.WaitFor(1));
    Sleep(300);
    std::vector<testbed::SeenMessage> seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    // The kind of icon is not read here: icon handles cannot be compared across processes.
    EXPECT_EQ(seen[0].text, "The icon positions have not been saved at the user logon.");
    EXPECT_EQ(seen[0].owner, nullptr);
    EXPECT_EQ(seen[0].processId, host_.ProcessId());
}

TEST_F(ChannelTest, CallerReportsTheThreeFailures) {
    ModuleCopy module;
    plx::unique_hwnd owner = MakeOwner();
    {
        // No desktop at all.
        testbed::MessageBoxWatcher watcher;
        EXPECT_EQ(module.Call("RestoreIconPositions", TRUE, owner.get()), E_FAIL);
        EXPECT_EQ(module.Call("SaveCurrentProfile", 256, owner.get()), E_FAIL);
        ASSERT_TRUE(watcher.WaitFor(1));
        std::vector<testbed::SeenMessage> seen = watcher.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, plx::kNoDesktopMessage);
        EXPECT_EQ(seen[0].owner, owner.get());
        EXPECT_EQ(seen[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(seen[0].processId, GetCurrentProcessId());
    }
    {
        // A desktop thread that takes no message: the wait for the answer ends, the hook goes, and
        // no window turns up later.
        StartHost();
        testbed::MessageBoxWatcher watcher;
        host_.Freeze(8000);
        EXPECT_EQ(module.Call("RestoreIconPositions", FALSE, owner.get()), E_FAIL);
        ASSERT_TRUE(watcher.WaitFor(1));
        std::vector<testbed::SeenMessage> seen = watcher.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, plx::kNoAgentMessage);
        EXPECT_EQ(seen[0].owner, owner.get());
        testbed::HostReport report;
        ASSERT_TRUE(testbed::WaitUntil([&] { return host_.Report(report); }, 20000));
        Sleep(200);
        EXPECT_EQ(FindAgent(), nullptr);
        EXPECT_EQ(module.Call("SaveCurrentProfile"), S_OK);
        EXPECT_NE(FindAgent(), nullptr);
        host_.Stop();
    }
    {
        // A caller whose handle to the desktop does not allow hooks, as a restricted program has.
        StartHost();
        testbed::MessageBoxWatcher watcher;
        HRESULT result = S_OK;
        HWND callerOwner = nullptr;
        bool restricted = false;
        std::thread caller([&] {
            char name[256] = {};
            GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, name, sizeof(name),
                                      nullptr);
            const ACCESS_MASK allButHooks = DESKTOP_READOBJECTS | DESKTOP_CREATEWINDOW | DESKTOP_CREATEMENU |
                                            DESKTOP_ENUMERATE | DESKTOP_WRITEOBJECTS | DESKTOP_SWITCHDESKTOP;
            HDESK desktop = OpenDesktopA(name, 0, FALSE, allButHooks);
            restricted = desktop && SetThreadDesktop(desktop);
            if (!restricted) return;
            // The owner belongs to this thread: a message box disables its owner with a message that
            // a thread blocked in join() would never answer.
            plx::unique_hwnd ownWindow = MakeOwner();
            callerOwner = ownWindow.get();
            result = module.Call("RestoreIconPositions", FALSE, ownWindow.get());
        });
        caller.join();
        ASSERT_TRUE(restricted);
        EXPECT_EQ(result, E_FAIL);
        ASSERT_TRUE(watcher.WaitFor(1));
        std::vector<testbed::SeenMessage> seen = watcher.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, plx::kAttachFailedMessage);
        EXPECT_EQ(seen[0].owner, callerOwner);
        EXPECT_EQ(FindAgent(), nullptr);
    }
}

// Counts the list-view messages a window of this process receives.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR counter) {
    if (message >= LVM_FIRST && message < LVM_FIRST + 0x100) ++*reinterpret_cast<int*>(counter);
    return DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(ChannelTest, AgentRunsActionsOnlyOnListViewsOfItsOwnProcess) {
    ModuleCopy module;
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgent();
    ASSERT_NE(agent, nullptr);

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    plx::unique_hwnd frame(
        CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr));
    HWND ours = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_ICON, 0, 0, 300, 300, frame.get(),
                                nullptr, nullptr, nullptr);
    ASSERT_NE(ours, nullptr);
    int listViewMessages = 0;
    ASSERT_TRUE(SetWindowSubclass(ours, CountingProc, 1, reinterpret_cast<DWORD_PTR>(&listViewMessages)));
    HWND gone =
        CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD, 0, 0, 10, 10, frame.get(), nullptr, nullptr, nullptr);
    DestroyWindow(gone);

    const LPARAM restore = ActionMessage(kRestorePositions, 1);
    EXPECT_EQ(SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(ours), restore), 0);
    EXPECT_EQ(SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(gone), restore), 0);
    EXPECT_EQ(SendMessageA(agent, WM_APP, static_cast<WPARAM>(0x7F3A5C12), restore), 0);
    EXPECT_EQ(SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(host_.Progman()), restore), 0);
    EXPECT_EQ(SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(host_.ListView()), ActionMessage(7, 1)),
              0);
    EXPECT_EQ(listViewMessages, 0);
    RemoveWindowSubclass(ours, CountingProc, 1);

    // The desktop's own list view is served, so the refusals above are the check's doing.
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 250, saved.y + 150));
    EXPECT_EQ(SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(host_.ListView()), restore), 1);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
}

TEST_F(ChannelTest, ReleaseThroughTheAgentClosesItAndTheNextCallAttachesAgain) {
    ModuleCopy module;
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgent();
    ASSERT_NE(agent, nullptr);
    SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(host_.ListView()),
                 ActionMessage(kReleaseHiddenItems, 1));
    EXPECT_FALSE(IsWindow(agent));
    EXPECT_EQ(FindAgent(), nullptr);

    EXPECT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_NE(FindAgent(), nullptr);
}

TEST_F(ChannelTest, DesktopThatDiedWithItsWindowDoesNotBlockTheNextOne) {
    ModuleCopy module;
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    ASSERT_NE(FindAgent(), nullptr);
    host_.Kill();
    ASSERT_TRUE(testbed::WaitUntil([] { return FindAgent() == nullptr; }));

    StartHost();
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 200, saved.y + 100));
    EXPECT_EQ(module.Call("RestoreIconPositions", FALSE), S_OK);
    HWND agent = FindAgent();
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(ProcessOf(agent), host_.ProcessId());
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
}

// A module path with a character that the ANSI code page cannot spell: the module cannot load
// itself again by its ANSI name, so it cannot keep itself in the desktop's process.
const wchar_t kNoAnsiName[] = L"m\u03A9dule";

TEST_F(ChannelTest, WithoutTheExtraReferenceEveryActionMakesAndClosesTheWindow) {
    ModuleCopy module(kNoAnsiName);
    ASSERT_TRUE(module.Loaded());
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    EXPECT_EQ(FindAgent(), nullptr);
    const testbed::IconState saved = Icon("alpha.txt");
    for (int round = 1; round <= 5; ++round) {
        ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 40 * round, saved.y + 30 * round));
        ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK) << round;
        EXPECT_EQ(Icon("alpha.txt").x, saved.x) << round;
        EXPECT_EQ(Icon("alpha.txt").y, saved.y) << round;
        EXPECT_EQ(FindAgent(), nullptr) << round;
    }
}

TEST_F(ChannelTest, CallersThatAttachAtTheSameTimeTakeTurns) {
    {
        // The very first attach, from two programs at once.
        ModuleCopy module;
        StartHost();
        ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
        SendMessageA(FindAgent(), WM_CLOSE, 0, 0);
        ASSERT_EQ(FindAgent(), nullptr);
        CallerProcess first(module.Path(), "RestoreIconPositions", 20);
        CallerProcess second(module.Path(), "SaveStartupIconPositions", 20);
        EXPECT_EQ(first.Failures(), 0);
        EXPECT_EQ(second.Failures(), 0);
        EXPECT_EQ(CountAgentWindows(), 1);
        host_.Stop();
    }
    {
        // Every action attaches anew, so the two keep meeting at the hook.
        ModuleCopy module(kNoAnsiName);
        StartHost();
        CallerProcess first(module.Path(), "RestoreIconPositions", 15);
        CallerProcess second(module.Path(), "SaveCurrentProfile", 15);
        CallerProcess third(module.Path(), "RestoreStartupIconPositions", 15);
        EXPECT_EQ(first.Failures(), 0);
        EXPECT_EQ(second.Failures(), 0);
        EXPECT_EQ(third.Failures(), 0);
        EXPECT_EQ(FindAgent(), nullptr);
    }
}

}  // namespace

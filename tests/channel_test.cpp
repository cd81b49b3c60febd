// The action exports called from this process against the stand-in desktop running as a process of
// its own, as a logon task drives the shell.

// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <sddl.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include "engine/channel.h"
#include "store/catalogue.h"
#include "layout/actions.h"
#include "layout/profiles.h"
#include "store/profile_tree.h"
#include "testbed/desktop_host_process.h"
#include "tests/support/message_boxes.h"
#include "testbed/module_copy.h"
#include "tests/desktop_process_fixture.h"
#include "testbed/testbed.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace {

constexpr int kRestorePositions = 2;
constexpr int kRestoreStartupPositions = 3;
constexpr int kReleaseHiddenItems = 5;

using testbed::CallerProcess;
using testbed::FindAgentWindow;
using testbed::ModuleCopy;
using testbed::ProcessOf;

BOOL CALLBACK CountAgent(HWND window, LPARAM counter) {
    char title[64] = {};
    GetWindowTextA(window, title, sizeof(title));
    if (std::string(title) == plx::kAgentWindowTitle) ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

int CountAgentWindows() {
    int count = 0;
    EnumWindows(CountAgent, reinterpret_cast<LPARAM>(&count));
    return count;
}

LPARAM ActionMessage(int code, BYTE quiet) {
    return static_cast<LPARAM>(static_cast<DWORD>(code) << 16 | quiet);
}

using ChannelTest = testbed::DesktopProcessTest;

TEST_F(ChannelTest, FirstCallAttachesAndLaterCallsActOnTheOtherProcessesIcons) {
    const ModuleCopy& module = LoadModule();
    ASSERT_TRUE(module.Loaded());
    StartHost();

    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgentWindow();
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
        ASSERT_TRUE(testbed::ReadSavedPoint(profile + "\\Manual", icon.label, x, y)) << icon.label;
        EXPECT_EQ(x, icon.x) << icon.label;
        EXPECT_EQ(y, icon.y) << icon.label;
    }
    int width = 0, height = 0;
    ASSERT_TRUE(testbed::ReadSavedPoint(plx::kRootKey, plx::kLastResolutionValue, width, height));
    EXPECT_EQ(plx::GetScreenSize(), (plx::ScreenSize{width, height}));
    // Each file on the desktop is in the catalogue, and the profile shows it.
    for (const char* file : {"alpha.txt", "beta.txt"}) {
        plx::unique_hkey item = plx::OpenKeyForReading(
            HKEY_CURRENT_USER, std::string(plx::kItemsKey) + "\\" + plx::ItemKeyName(desktop_ + "\\" + file));
        DWORD id = 0, visible = 0;
        ASSERT_TRUE(item && plx::ReadNumber(item.get(), "ID", id) == ERROR_SUCCESS) << file;
        plx::unique_hkey record =
            plx::OpenKeyForReading(HKEY_CURRENT_USER, profile + "\\" + std::to_string(id));
        ASSERT_TRUE(record && plx::ReadNumber(record.get(), "Visible", visible) == ERROR_SUCCESS) << file;
        EXPECT_EQ(visible, 1u) << file;
    }

    // Later calls find the window and use it: the same window serves every action.
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 301, saved.y + 207));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_EQ(FindAgentWindow(), agent);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    EXPECT_EQ(Icon("alpha.txt").y, saved.y);

    ASSERT_TRUE(host_.MoveIcon("beta.txt", 420, 330));
    ASSERT_EQ(module.Call("SaveStartupIconPositions"), S_OK);
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 40, 500));
    ASSERT_EQ(module.Call("RestoreStartupIconPositions"), S_OK);
    EXPECT_EQ(Icon("beta.txt").x, 420);
    EXPECT_EQ(Icon("beta.txt").y, 330);
    EXPECT_EQ(FindAgentWindow(), agent);
    EXPECT_EQ(CountAgentWindows(), 1);
}

TEST_F(ChannelTest, MessagesOfForwardedActionsHaveNoOwnerAndFollowTheLowByteOfQuiet) {
    const ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    plx::unique_hwnd owner = MakeOwner();
    testbed::MessageBoxWatcher watcher;

    // No "Startup" slot yet: the restore reports that itself, and the export still succeeds.
    EXPECT_EQ(module.Call("RestoreStartupIconPositions", TRUE, owner.get()), S_OK);
    EXPECT_EQ(module.Call("RestoreStartupIconPositions", 0x301, owner.get()), S_OK);
    EXPECT_EQ(module.Call("RestoreStartupIconPositions", 256, owner.get()), S_OK);
    // Each call returns only after its action ran and its message box was answered. The kind of icon
    // is not read here: icon handles cannot be compared across processes.
    EXPECT_EQ(watcher.Seen().size(), 1u);
    EXPECT_TRUE(watcher.SawOnly(plx::kNothingSavedAtLogonMessage, nullptr, host_.ProcessId()));
}

TEST_F(ChannelTest, CallerReportsTheThreeFailures) {
    const ModuleCopy& module = LoadModule();
    plx::unique_hwnd owner = MakeOwner();
    {
        // No desktop at all.
        testbed::MessageBoxWatcher watcher;
        EXPECT_EQ(module.Call("RestoreIconPositions", TRUE, owner.get()), E_FAIL);
        EXPECT_EQ(module.Call("SaveCurrentProfile", 256, owner.get()), E_FAIL);
        EXPECT_TRUE(watcher.SawOnly(plx::kNoDesktopMessage, owner.get(), GetCurrentProcessId(), MB_ICONERROR));
    }
    {
        // A desktop thread that takes no message: the wait for the answer ends, the hook goes, and
        // no window turns up later.
        StartHost();
        testbed::MessageBoxWatcher watcher;
        ASSERT_TRUE(host_.Freeze(8000));
        EXPECT_EQ(module.Call("RestoreIconPositions", FALSE, owner.get()), E_FAIL);
        EXPECT_TRUE(watcher.SawOnly(plx::kNoAgentMessage, owner.get()));
        testbed::HostReport report;
        ASSERT_TRUE(testbed::WaitUntil([&] { return host_.Report(report); }, 20000));
        // Posted messages leave the queue in order: once a move posted now is done, the thread has
        // also taken the wake-up posted while it was frozen, and no hook was left to see it.
        ASSERT_FALSE(report.icons.empty());
        const testbed::IconState first = report.icons[0];
        ASSERT_TRUE(PostMessageA(host_.ListView(), LVM_SETITEMPOSITION, 0, MAKELPARAM(first.x + 7, first.y)));
        EXPECT_TRUE(testbed::WaitUntil([&] { return Icon(first.label).x == first.x + 7; }));
        EXPECT_EQ(FindAgentWindow(), nullptr);
        EXPECT_EQ(module.Call("SaveCurrentProfile"), S_OK);
        EXPECT_NE(FindAgentWindow(), nullptr);
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
        EXPECT_TRUE(watcher.SawOnly(plx::kAttachFailedMessage, callerOwner));
        EXPECT_EQ(FindAgentWindow(), nullptr);
    }
}

// Counts the list-view messages a window of this process receives.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR counter) {
    if (message >= LVM_FIRST && message < LVM_FIRST + 0x100) ++*reinterpret_cast<int*>(counter);
    return DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(ChannelTest, AgentRunsActionsOnlyOnListViewsOfItsOwnProcess) {
    const ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgentWindow();
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
    const int notAnAction = static_cast<int>(plx::Action::RestoreSnapshot) + 1;
    EXPECT_EQ(SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(host_.ListView()), ActionMessage(notAnAction, 1)),
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
    const ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgentWindow();
    ASSERT_NE(agent, nullptr);
    SendMessageA(agent, WM_APP, reinterpret_cast<WPARAM>(host_.ListView()),
                 ActionMessage(kReleaseHiddenItems, 1));
    EXPECT_FALSE(IsWindow(agent));
    EXPECT_EQ(FindAgentWindow(), nullptr);

    EXPECT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_NE(FindAgentWindow(), nullptr);
}

TEST_F(ChannelTest, DesktopThatDiedWithItsWindowDoesNotBlockTheNextOne) {
    const ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    ASSERT_NE(FindAgentWindow(), nullptr);
    host_.Kill();
    ASSERT_TRUE(testbed::WaitUntil([] { return FindAgentWindow() == nullptr; }));

    StartHost();
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 200, saved.y + 100));
    EXPECT_EQ(module.Call("RestoreIconPositions"), S_OK);
    HWND agent = FindAgentWindow();
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(ProcessOf(agent), host_.ProcessId());
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
}

// A module path with a character that the ANSI code page cannot spell.
const wchar_t kNoAnsiName[] = L"m\u03A9dule";

TEST_F(ChannelTest, ModuleInAFolderNoCodePageSpellsStaysInTheDesktopAndAttachesCleanly) {
    const ModuleCopy& module = LoadModule(kNoAnsiName);
    ASSERT_TRUE(module.Loaded());
    StartHost();
    // The module keeps itself in the desktop's process without a path, so its window stays.
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgentWindow();
    ASSERT_NE(agent, nullptr);
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 40, saved.y + 30));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    EXPECT_EQ(FindAgentWindow(), agent);

    // An answer left over from an earlier attach must not end the wait of the next one, and the
    // caller's own thread messages stay in its queue, in order, whatever the attach does.
    SendMessageA(agent, WM_CLOSE, 0, 0);
    ASSERT_EQ(FindAgentWindow(), nullptr);
    const UINT answer = RegisterWindowMessageA(plx::kHandshakeMessageName);
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), answer, 0, 0));
    const UINT own[] = {WM_NULL, WM_APP + 7, WM_USER + 3};
    for (UINT i = 0; i < 3; ++i) ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), own[i], i, 0));
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 90, saved.y + 90));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    EXPECT_NE(FindAgentWindow(), nullptr);
    std::vector<std::pair<UINT, WPARAM>> left;
    MSG msg;
    while (PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
        if (msg.message != answer) left.emplace_back(msg.message, msg.wParam);
    const std::vector<std::pair<UINT, WPARAM>> expected = {{WM_NULL, 0}, {WM_APP + 7, 1}, {WM_USER + 3, 2}};
    EXPECT_EQ(left, expected);
}

// Another program, started with a command line; ended with the test if it is still running.
class Program {
public:
    explicit Program(const std::wstring& line) {
        std::vector<wchar_t> text(line.begin(), line.end());
        text.push_back(L'\0');
        STARTUPINFOW si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
        CloseHandle(pi.hThread);
        process_.reset(pi.hProcess);
    }
    ~Program() { End(); }
    bool Started() const { return static_cast<bool>(process_); }
    void End() {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.get(), 99);
            WaitForSingleObject(process_.get(), 30000);
        }
    }
    // The exit code, or STILL_ACTIVE when it does not end within the limit.
    DWORD Finish(DWORD timeoutMs = 60000) const {
        DWORD code = STILL_ACTIVE;
        if (process_ && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    plx::unique_handle process_;
};

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

HWND FindMessageBox() { return FindWindowA("#32770", plx::kMessageCaption); }

TEST_F(ChannelTest, ACallerThatEndsInsideItsTurnHoldsUpNobody) {
    const ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    const std::wstring moduleDirectory = module.Path().substr(0, module.Path().find_last_of(L'\\'));
    ASSERT_TRUE(CopyFileW(plx::Widen(testbed::ExeDirectory() + "\\orvane.exe").c_str(),
                          (moduleDirectory + L"\\orvane.exe").c_str(), FALSE));

    // Another program's restore of a missing logon slot stops at its message box in the desktop's
    // process, inside the caller's turn; then the caller is ended.
    Program caller(Quoted(plx::Widen(testbed::ExeDirectory() + "\\action_caller.exe")) + L" " +
                   Quoted(module.Path()) + L" RestoreStartupIconPositions 1 0");
    ASSERT_TRUE(caller.Started());
    HWND box = nullptr;
    ASSERT_TRUE(testbed::WaitUntil([&] { return (box = FindMessageBox()) != nullptr; }));
    EXPECT_EQ(ProcessOf(box), host_.ProcessId());
    // The turn is this user's lock in the session's namespace. Held open here, as by a caller that
    // waits for its turn, it outlives the ended caller, which leaves it abandoned.
    const std::wstring name = plx::UserObjectName(plx::kAttachMutexName);
    ASSERT_EQ(name.rfind(L"Local\\", 0), 0u);
    plx::unique_handle lock(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(lock);
    EXPECT_EQ(WaitForSingleObject(lock.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    caller.End();
    // While that action's box is still open, another action is refused at once rather than run
    // in the middle of it.
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 120, saved.y + 80));
    EXPECT_EQ(module.Call("RestoreIconPositions"), E_FAIL);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x + 120);
    EXPECT_EQ(FindMessageBox(), box);

    // Once it is answered, the next calls from this program and from another one go through.
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(testbed::WaitUntil([] { return FindMessageBox() == nullptr; }));
    EXPECT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 60, saved.y + 40));
    Program orvane(Quoted(moduleDirectory + L"\\orvane.exe") + L" restore --quiet");
    EXPECT_EQ(orvane.Finish(), 0u);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
}

// A window of the agent's title and class in this process, which anybody could make: it takes every
// message and never answers the agent's message until told to stop.
class LookAlikeAgent {
public:
    LookAlikeAgent() {
        thread_ = std::thread([this] {
            window_ = CreateWindowExA(0, "#32770", plx::kAgentWindowTitle, WS_POPUP, 0, 0, 10, 10, nullptr,
                                      nullptr, nullptr, nullptr);
            SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc));
            SetEvent(ready_.get());
            PumpUntilStopped();
            DestroyWindow(window_);
        });
        WaitForSingleObject(ready_.get(), 10000);
    }
    ~LookAlikeAgent() {
        SetEvent(stop_.get());
        thread_.join();
    }
    HWND Window() const { return window_; }
    int Asked() const { return asked_; }

private:
    void PumpUntilStopped() {
        const HANDLE stop = stop_.get();
        while (MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        }
    }
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<LookAlikeAgent*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message != WM_APP || !self) return DefWindowProcA(window, message, wParam, lParam);
        ++self->asked_;
        self->PumpUntilStopped();
        return 0;
    }

    plx::unique_handle stop_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    plx::unique_handle ready_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HWND window_ = nullptr;
    std::atomic<int> asked_{0};
    std::thread thread_;
};

TEST_F(ChannelTest, NothingOfAnotherProcessOrUserStandsInForTheChannel) {
    const ModuleCopy& module = LoadModule();
    {
        // The lock's name taken first by somebody else: the caller refuses it, attaches nothing and
        // says so; once it is gone, the channel works.
        PSECURITY_DESCRIPTOR raw = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BUD:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                         &raw, nullptr));
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
        plx::unique_handle squatter(
            CreateMutexW(&attributes, FALSE, plx::UserObjectName(plx::kAttachMutexName).c_str()));
        LocalFree(raw);
        ASSERT_TRUE(squatter);
        StartHost();
        testbed::MessageBoxWatcher watcher;
        EXPECT_EQ(module.Call("SaveCurrentProfile", FALSE), E_FAIL);
        EXPECT_TRUE(watcher.SawOnly(plx::kAttachFailedMessage, nullptr, GetCurrentProcessId()));
        EXPECT_EQ(FindAgentWindow(), nullptr);
    }
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgentWindow();
    ASSERT_NE(agent, nullptr);

    // A look-alike made after the agent comes first among the windows of that title. It is passed
    // over both when the agent window is there and when the caller makes a new one.
    LookAlikeAgent lookAlike;
    ASSERT_NE(lookAlike.Window(), nullptr);
    ASSERT_EQ(FindWindowA(nullptr, plx::kAgentWindowTitle), lookAlike.Window());
    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 150, saved.y + 90));
    EXPECT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    SendMessageA(agent, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindow(agent));
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 70, saved.y + 30));
    EXPECT_EQ(module.Call("RestoreIconPositions"), S_OK);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    EXPECT_EQ(lookAlike.Asked(), 0);
    EXPECT_EQ(CountAgentWindows(), 2);
}

TEST_F(ChannelTest, CallersThatAttachAtTheSameTimeTakeTurns) {
    {
        // The very first attach, from two programs at once.
        const ModuleCopy& module = LoadModule();
        StartHost();
        ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
        SendMessageA(FindAgentWindow(), WM_CLOSE, 0, 0);
        ASSERT_EQ(FindAgentWindow(), nullptr);
        CallerProcess first(module.Path(), "RestoreIconPositions", 20);
        CallerProcess second(module.Path(), "SaveStartupIconPositions", 20);
        EXPECT_EQ(first.Failures(), 0);
        EXPECT_EQ(second.Failures(), 0);
        EXPECT_EQ(CountAgentWindows(), 1);
        host_.Stop();
    }
    {
        // Three at once from a folder that no code page spells.
        const ModuleCopy& module = LoadModule(kNoAnsiName);
        StartHost();
        CallerProcess first(module.Path(), "RestoreIconPositions", 15);
        CallerProcess second(module.Path(), "SaveCurrentProfile", 15);
        CallerProcess third(module.Path(), "RestoreStartupIconPositions", 15);
        EXPECT_EQ(first.Failures(), 0);
        EXPECT_EQ(second.Failures(), 0);
        EXPECT_EQ(third.Failures(), 0);
        EXPECT_EQ(CountAgentWindows(), 1);
    }
}

}  // namespace

namespace {

// A desktop of this very process, as when the shell itself runs the menu's commands.
class OwnDesktop {
public:
    OwnDesktop() {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        for (const char* name : {"Progman", "SHELLDLL_DefView"}) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = DefWindowProcA;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = name;
            RegisterClassA(&wc);
        }
        progman_.reset(
            CreateWindowExA(0, "Progman", "", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr, nullptr, nullptr));
        HWND view = CreateWindowExA(0, "SHELLDLL_DefView", "", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480,
                                    progman_.get(), nullptr, nullptr, nullptr);
        list_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_ICON, 0, 0, 640, 480, view,
                                nullptr, nullptr, nullptr);
        for (const char* label : {"alpha.txt", "beta.txt"}) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = ListView_GetItemCount(list_);
            item.pszText = const_cast<char*>(label);
            ListView_InsertItem(list_, &item);
        }
    }
    HWND ListView() const { return list_; }
    POINT Position(int index) const {
        POINT pt = {};
        ListView_GetItemPosition(list_, index, &pt);
        return pt;
    }

private:
    plx::unique_hwnd progman_;
    HWND list_ = nullptr;
};

TEST_F(ChannelTest, InTheDesktopsOwnProcessActionsRunAtOnce) {
    const ModuleCopy& module = LoadModule();
    OwnDesktop desktop;
    ASSERT_NE(desktop.ListView(), nullptr);
    ListView_SetItemPosition(desktop.ListView(), 0, 200, 120);
    plx::unique_hwnd owner = MakeOwner();
    testbed::MessageBoxWatcher watcher;

    ASSERT_EQ(module.Call("SaveCurrentProfile", FALSE, owner.get()), S_OK);
    int x = 0, y = 0;
    ASSERT_TRUE(testbed::ReadSavedPoint(plx::SlotKeyPath("Default", plx::kManualSlot), "alpha.txt", x, y));
    EXPECT_EQ(x, 200);
    EXPECT_EQ(y, 120);
    ListView_SetItemPosition(desktop.ListView(), 0, 20, 300);
    ASSERT_EQ(module.Call("RestoreIconPositions", FALSE, owner.get()), S_OK);
    EXPECT_EQ(desktop.Position(0).x, 200);
    EXPECT_EQ(desktop.Position(0).y, 120);
    EXPECT_EQ(FindAgentWindow(), nullptr);

    // The action's own message is owned by the caller's window here.
    ASSERT_EQ(module.Call("RestoreStartupIconPositions", FALSE, owner.get()), S_OK);
    EXPECT_TRUE(watcher.SawOnly(plx::kNothingSavedAtLogonMessage, owner.get(), GetCurrentProcessId(), MB_ICONERROR));
}

TEST_F(ChannelTest, AgentOfAnotherDesktopProcessRunsNothing) {
    const ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    HWND agent = FindAgentWindow();
    ASSERT_NE(agent, nullptr);
    // A second desktop comes first now, as after a restart of the shell while the old one lingers.
    testbed::DesktopHostProcess second;
    ASSERT_TRUE(second.Start());
    ASSERT_EQ(FindAgentWindow(), agent);

    // The caller passes the first one's agent over and attaches the desktop it found.
    EXPECT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    EXPECT_EQ(CountAgentWindows(), 2);
    EXPECT_TRUE(IsWindow(agent));

    // A change of screen size is not applied to the other process's list view either: activating a
    // profile there would record the new size.
    ASSERT_TRUE(testbed::WriteSavedPoint(plx::kRootKey, plx::kLastResolutionValue, 1, 1));
    SendMessageA(agent, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    SendMessageA(agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
    int width = 0, height = 0;
    ASSERT_TRUE(testbed::ReadSavedPoint(plx::kRootKey, plx::kLastResolutionValue, width, height));
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 1);
    second.Stop();
}

}  // namespace

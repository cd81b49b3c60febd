// What the product does by itself on the desktop's thread, against the actions asked of it: the end of
// the quiet period after a display change never runs inside another action, waits for the end of one,
// refuses to be interrupted, and moves nothing while the session is locked or its display is off. The
// stand-in desktop runs on this thread, as the shell's desktop thread does.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/channel.h"
#include "tests/menu_fixture.h"

namespace {

using menutest::kFirstId;
using menutest::kLastId;

// The arrangement for which profiles were last activated, as far as the product knows: not this one.
const plx::ScreenSize kElsewhere{800, 600, {}};

class AutomaticActionsTest : public menutest::MenuTest {
protected:
    void SetUp() override {
        MenuTest::SetUp();
        plx::CreateAgentWindow();
        agent_ = FindWindowA(nullptr, plx::kAgentWindowTitle);
        ASSERT_TRUE(agent_);
        // The profile of the screen in use puts the first item at a place of its own, away from where
        // it is; the next display change activates it.
        ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, plx::kItemsKey));
        MakeProfile("Default");
        SetCurrentProfile("Default");
        ASSERT_TRUE(
            testbed::WriteSavedPoint(plx::SlotKeyPath("Default", plx::kManualSlot), "Item 0001", 600, 400));
        ListView_SetItemPosition(ListView(), 0, 10, 10);
        plx::WriteLastResolution(kElsewhere);
    }
    void TearDown() override {
        // The window's end takes its quiet period and second look with it.
        SendMessageA(agent_, WM_CLOSE, 0, 0);
        MenuTest::TearDown();
    }

    static bool Activated() { return plx::ReadLastResolution() == plx::GetScreenSize(); }
    void DisplayChanged() const { SendMessageA(agent_, WM_DISPLAYCHANGE, 32, 0); }
    void QuietPeriodEnds() const { SendMessageA(agent_, WM_TIMER, plx::kDisplaySettleTimer, 0); }
    static void BuildMenu() {
        plx::DesktopMenu menu;
        plx::unique_hmenu shell = ShellMenu();
        menu.QueryContextMenu(shell.get(), 0, kFirstId, kLastId, CMF_NORMAL);
    }

    HWND agent_ = nullptr;
};

// What the automatic action met when, half-way, something took messages on its thread.
struct Inside {
    HWND agent = nullptr;
    const testbed::ModuleCopy* module = nullptr;
    std::unique_ptr<testbed::CallerProcess> caller;  // a program that asks for a restore meanwhile
    int callsWhileInside = 0;
    int depth = 0;
    bool reached = false;
    bool nested = false;  // an icon moved by an action started inside the first one
    LRESULT agentAnswer = -1;
    bool askedActionRan = true;
    bool followable = true;
};
Inside* TheInside = nullptr;

LRESULT CALLBACK CountCalls(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    // Sent from another thread: the program's call, not the one made on this thread.
    if (message == WM_APP && InSendMessage() && TheInside && TheInside->depth > 0)
        ++TheInside->callsWhileInside;
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK WatchMoves(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if ((message == LVM_SETITEMPOSITION || message == LVM_SETITEMPOSITION32) && TheInside) {
        Inside& inside = *TheInside;
        if (inside.depth > 0) inside.nested = true;
        if (!inside.reached) {
            inside.reached = true;
            ++inside.depth;
            // As a COM call or a message box of the action would let them in: a caller in another
            // process, a command of the menu, the timer of the quiet period, and the menu being built.
            const DWORD code = static_cast<DWORD>(plx::Action::RestorePositions);
            inside.agentAnswer = SendMessageW(inside.agent, WM_APP, reinterpret_cast<WPARAM>(window),
                                              static_cast<LPARAM>(code << 16 | 1));
            inside.askedActionRan = plx::RunAction(plx::Action::RestorePositions, nullptr, TRUE);
            inside.followable = plx::DisplayChangesMayBeFollowedNow();
            SendMessageA(inside.agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
            plx::DesktopMenu menu;
            plx::unique_hmenu shell(CreatePopupMenu());
            menu.QueryContextMenu(shell.get(), 0, kFirstId, kLastId, CMF_NORMAL);
            // Another program asks for a restore, and is let in once, as a COM call lets in what is
            // sent to its thread.
            inside.caller =
                std::make_unique<testbed::CallerProcess>(inside.module->Path(), "RestoreIconPositions", 1);
            testbed::WaitUntil([&] { return inside.callsWhileInside > 0 || inside.caller->Ended(); }, 20000);
            --inside.depth;
        }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(AutomaticActionsTest, NothingRunsInsideTheEndOfAQuietPeriodAndWhatWaitedRunsOnceItEnds) {
    Inside inside;
    inside.agent = agent_;
    inside.module = module_;
    TheInside = &inside;
    ASSERT_TRUE(SetWindowSubclass(ListView(), WatchMoves, 1, 0));
    ASSERT_TRUE(SetWindowSubclass(agent_, CountCalls, 1, 0));
    DisplayChanged();
    QuietPeriodEnds();
    // The timer that came inside waits for the action's end; it fires again after it.
    const bool waitingAfter = !plx::DisplayChangesMayBeFollowedNow();
    // The program that asked meanwhile was told to wait, and its restore runs once the action is done.
    ASSERT_TRUE(inside.caller);
    EXPECT_TRUE(testbed::WaitUntil([&] { return inside.caller->Ended(); }, 30000));
    EXPECT_EQ(inside.caller->Failures(), 0);
    EXPECT_GE(inside.callsWhileInside, 1);
    RemoveWindowSubclass(agent_, CountCalls, 1);
    RemoveWindowSubclass(ListView(), WatchMoves, 1);
    TheInside = nullptr;

    ASSERT_TRUE(inside.reached);
    EXPECT_TRUE(Activated());
    EXPECT_FALSE(inside.nested);
    // The caller in another process is told to ask again; a command of the menu is refused.
    EXPECT_EQ(inside.agentAnswer, plx::kAgentBusy);
    EXPECT_FALSE(inside.askedActionRan);
    EXPECT_FALSE(inside.followable);
    EXPECT_TRUE(waitingAfter);
    EXPECT_TRUE(testbed::WaitUntil([] { return plx::DisplayChangesMayBeFollowedNow(); }));
}

TEST_F(AutomaticActionsTest, TheMenuBuiltDuringAQuietPeriodActsOnNothingAndThePeriodActsAtItsEnd) {
    // A change of the display, of the work area (a taskbar appears), of the scale or of the session's
    // place each starts it.
    const struct {
        UINT message;
        WPARAM wParam;
    } starts[] = {{WM_DISPLAYCHANGE, 32},
                  {WM_SETTINGCHANGE, SPI_SETWORKAREA},
                  {WM_DPICHANGED, MAKEWPARAM(144, 144)},
                  // The session moves between the console and a remote client, and its monitors with it.
                  {WM_WTSSESSION_CHANGE, WTS_REMOTE_DISCONNECT},
                  {WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT}};
    for (const auto& start : starts) {
        SCOPED_TRACE(start.message);
        plx::WriteLastResolution(kElsewhere);
        RECT suggested = {0, 0, 100, 100};
        SendMessageA(agent_, start.message, start.wParam, reinterpret_cast<LPARAM>(&suggested));
        BuildMenu();
        EXPECT_FALSE(Activated());
        QuietPeriodEnds();
        EXPECT_TRUE(Activated());
    }
    // With no quiet period running, building the menu follows the display at once, as it always did.
    plx::WriteLastResolution(kElsewhere);
    BuildMenu();
    EXPECT_TRUE(Activated());
}

TEST_F(AutomaticActionsTest, AChangeWhileAnActionsMessageBoxIsOpenActsOnlyOnceTheBoxCloses) {
    std::atomic<bool> activatedInside{true}, answered{false};
    std::thread user([&] {
        HWND box = nullptr;
        if (!testbed::WaitUntil(
                [&] { return (box = FindWindowA("#32770", plx::kMessageCaption)) != nullptr; }, 10000, false))
            return;
        // The box's own loop takes these; the quiet period ends there, inside the undo.
        SendMessageA(agent_, WM_DISPLAYCHANGE, 32, 0);
        SendMessageA(agent_, WM_TIMER, plx::kDisplaySettleTimer, 0);
        activatedInside = Activated();
        answered = PostMessageA(box, WM_COMMAND, IDOK, 0) != FALSE;
    });
    // Nothing was kept for an undo: it says so in a message box.
    plx::RunAction(plx::Action::UndoPositions, nullptr, FALSE);
    user.join();
    ASSERT_TRUE(answered);
    EXPECT_FALSE(activatedInside);
    EXPECT_TRUE(testbed::WaitUntil([] { return Activated(); }));
}

TEST_F(AutomaticActionsTest, WhileTheSessionIsLockedOrItsDisplayOffAChangeWaitsForTheEnd) {
    const auto session = [this](WPARAM change) {
        return [this, change] { SendMessageA(agent_, WM_WTSSESSION_CHANGE, change, 1); };
    };
    const auto display = [this](DWORD state) {
        return [this, state] {
            std::vector<BYTE> buffer(sizeof(POWERBROADCAST_SETTING) + sizeof(DWORD));
            auto* setting = reinterpret_cast<POWERBROADCAST_SETTING*>(buffer.data());
            setting->PowerSetting = {
                0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
            setting->DataLength = sizeof(DWORD);
            std::memcpy(setting->Data, &state, sizeof(state));
            SendMessageA(agent_, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                         reinterpret_cast<LPARAM>(setting));
        };
    };
    struct Hold {
        const char* name;
        std::function<void()> begin, end;
    };
    const Hold holds[] = {
        {"locked", session(WTS_SESSION_LOCK), session(WTS_SESSION_UNLOCK)},
        {"display off", display(0), display(1)},
    };
    for (const Hold& hold : holds) {
        SCOPED_TRACE(hold.name);
        plx::WriteLastResolution(kElsewhere);
        hold.begin();
        DisplayChanged();
        QuietPeriodEnds();
        BuildMenu();
        EXPECT_FALSE(Activated());
        // The end of the hold starts the quiet period again, and its end follows the display.
        hold.end();
        EXPECT_FALSE(Activated());
        EXPECT_TRUE(testbed::WaitUntil([] { return Activated(); }));
    }
}

TEST(QuietPeriodTest, IsKeptBetweenHalfASecondAndAMinute) {
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    EXPECT_EQ(plx::ReadDisplaySettleTime(), 2000u);
    // 0 once turned it off: a display that flaps would then be acted on at every change.
    const DWORD cases[][2] = {{0, 500}, {300, 500}, {500, 500}, {2000, 2000}, {60000, 60000}, {70000, 60000}};
    for (const auto& value : cases) {
        plx::unique_hkey root = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
        ASSERT_EQ(plx::WriteNumber(root.get(), plx::kDisplaySettleTimeValue, value[0]), ERROR_SUCCESS);
        EXPECT_EQ(plx::ReadDisplaySettleTime(), value[1]) << value[0];
    }
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
}

}  // namespace

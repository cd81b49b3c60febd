#include "engine/icon_watch.h"

#include <commctrl.h>

#include "engine/action_gate.h"
#include "engine/channel.h"
#include "engine/positions.h"
#include "engine/second_look.h"
#include "store/snapshots.h"
#include "win32/dpi.h"

namespace plx {

namespace {

constexpr UINT_PTR kIconWatchId = 0x4C53;
constexpr DWORD kMinStillMs = 500;
constexpr DWORD kMaxStillMs = 60000;

struct Watch {
    HWND agent = nullptr;
    HWND listView = nullptr;
    bool userChange = false;    // a change of the user's waits for the icons to be still
    bool afterRestart = false;  // the shell started anew: the stillness restores instead
};
Watch TheWatch;

// Whether what moves the icons now is the product or a display change being dealt with.
bool ProductAtWork() {
    return AnyActionRunning() || !DisplayChangesMayBeFollowedNow() || SecondLookRunning();
}

void ArmTimer() { SetTimer(TheWatch.agent, kStillnessTimer, ReadLayoutStillTime(), nullptr); }

void IconsChanged() {
    if (TheWatch.afterRestart) {
        // The shell is still laying its icons out.
        ArmTimer();
        return;
    }
    if (ProductAtWork()) {
        // What the product does (or a display change brings) replaces what the user did before it.
        if (TheWatch.userChange) KillTimer(TheWatch.agent, kStillnessTimer);
        TheWatch.userChange = false;
        return;
    }
    TheWatch.userChange = true;
    ArmTimer();
}

bool MovesIcons(UINT message) {
    switch (message) {
        case LVM_SETITEMPOSITION:
        case LVM_SETITEMPOSITION32:
        case LVM_INSERTITEMA:
        case LVM_INSERTITEMW:
        case LVM_DELETEITEM:
        case LVM_DELETEALLITEMS:
        case LVM_ARRANGE:
        case LVM_SETITEMTEXTA:
        case LVM_SETITEMTEXTW:
            return true;
        default:
            return false;
    }
}

LRESULT CALLBACK WatchIconMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR) {
    // The list view acts on the message first, so that the timer, when it fires, sees the result.
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (MovesIcons(message) && TheWatch.agent) IconsChanged();
    return result;
}

}  // namespace

DWORD ReadLayoutStillTime() {
    DWORD value = kDefaultStillMs;
    if (unique_hkey root = OpenKeyForReading(HKEY_CURRENT_USER, kRootKey))
        if (ReadNumber(root.get(), kLayoutStillTimeValue, value) != ERROR_SUCCESS) value = kDefaultStillMs;
    return value < kMinStillMs ? kMinStillMs : (value > kMaxStillMs ? kMaxStillMs : value);
}

void WatchIcons(HWND agent, HWND listView) {
    if (!agent || !IsWindow(listView) || GetWindowThreadProcessId(listView, nullptr) != GetCurrentThreadId())
        return;
    if (TheWatch.agent == agent && TheWatch.listView == listView) return;
    StopWatchingIcons();
    if (!SetWindowSubclass(listView, WatchIconMessages, kIconWatchId, 0)) return;
    TheWatch.agent = agent;
    TheWatch.listView = listView;
}

void StopWatchingIcons() {
    if (TheWatch.agent) KillTimer(TheWatch.agent, kStillnessTimer);
    // A list view that is gone took its subclass with it.
    if (TheWatch.listView && IsWindow(TheWatch.listView))
        RemoveWindowSubclass(TheWatch.listView, WatchIconMessages, kIconWatchId);
    TheWatch = Watch();
}

void AwaitStillIcons(HWND agent, HWND listView) {
    WatchIcons(agent, listView);
    if (TheWatch.listView != listView) return;
    TheWatch.afterRestart = true;
    TheWatch.userChange = false;
    ArmTimer();
}

void ForgetAwaitedLayout() {
    if (!TheWatch.afterRestart) return;
    TheWatch.afterRestart = false;
    KillTimer(TheWatch.agent, kStillnessTimer);
}

void IconsStill(void (*restore)(HWND listView)) {
    if (!TheWatch.agent) return;
    KillTimer(TheWatch.agent, kStillnessTimer);
    HWND listView = TheWatch.listView;
    if (!IsWindow(listView)) return StopWatchingIcons();
    if (TheWatch.afterRestart) {
        // A display change under way decides where the icons go; an action running now is waited for.
        if (ProductAtWork()) return ArmTimer();
        ActionTurn turn(ActionOrigin::Automatic);
        if (!turn.Held()) return ArmTimer();
        TheWatch.afterRestart = false;
        if (restore && KeepLayoutAutomatically()) restore(listView);
        return;
    }
    if (!TheWatch.userChange) return;
    TheWatch.userChange = false;
    if (ProductAtWork() || !KeepLayoutAutomatically()) return;
    // Only the arrangement the profiles are set for: any other is on its way to being followed.
    const ScreenSize size = GetScreenSize();
    if (ReadLastResolution() != size) return;
    KeepSnapshot(size, ReadIconPlaces(listView), WindowDpi(listView));
}

}  // namespace plx

#include "engine/second_look.h"

#include <commctrl.h>

#include <set>
#include <string>

#include "engine/action_gate.h"
#include "engine/positions.h"

namespace plx {

namespace {

struct Look {
    HWND agent = nullptr;
    HWND listView = nullptr;
    SecondLookKind kind = SecondLookKind::AnyMove;
    IconPlaces expected;  // where the product left the icons
    IconPlaces lastSeen;  // what the previous tick saw
    DWORD since = 0;      // when the product last acted
    int putBacks = 0;
};
Look TheLook;

bool SameLabels(const IconPlaces& a, const IconPlaces& b) {
    std::multiset<std::string> left, right;
    for (const IconPlace& place : a) left.insert(place.label);
    for (const IconPlace& place : b) right.insert(place.label);
    return left == right;
}

// The user's hand on the desktop (a click that may start a drag, a key) ends the look: what the user
// moves is not the shell's doing, and is never put back.
LRESULT CALLBACK WatchForTheUser(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_KEYDOWN:
            EndSecondLook();
            break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

constexpr UINT_PTR kWatchId = 0x534C;

}  // namespace

void StartSecondLook(HWND agent, HWND listView, SecondLookKind kind) {
    EndSecondLook();
    if (!agent || !IsWindow(listView)) return;
    TheLook.agent = agent;
    TheLook.listView = listView;
    TheLook.kind = kind;
    TheLook.expected = TheLook.lastSeen = ReadIconPlaces(listView);
    TheLook.since = GetTickCount();
    TheLook.putBacks = 0;
    if (!SetTimer(agent, kSecondLookTimer, kSecondLookTickMs, nullptr)) {
        TheLook = Look();
        return;
    }
    // The list view is of this thread, as the agent window is (the shell's desktop thread).
    SetWindowSubclass(listView, WatchForTheUser, kWatchId, 0);
}

void EndSecondLook() {
    if (TheLook.agent) KillTimer(TheLook.agent, kSecondLookTimer);
    if (TheLook.listView && IsWindow(TheLook.listView))
        RemoveWindowSubclass(TheLook.listView, WatchForTheUser, kWatchId);
    TheLook = Look();
}

bool SecondLookRunning() { return TheLook.agent != nullptr; }

void SecondLookTick(void (*putBack)(HWND listView)) {
    if (!TheLook.agent) return;
    if (!IsWindow(TheLook.listView)) return EndSecondLook();
    IconPlaces now = ReadIconPlaces(TheLook.listView);
    const bool still = SamePlaces(now, TheLook.lastSeen);
    TheLook.lastSeen = std::move(now);
    // Still moving: the shell is not done yet, and what it leaves is what counts.
    if (!still) return;
    const bool away = TheLook.kind == SecondLookKind::AnyMove
                          ? !SamePlaces(TheLook.lastSeen, TheLook.expected)
                          : !SameLabels(TheLook.lastSeen, TheLook.expected);
    if (away && TheLook.putBacks < kMaxPutBacks && putBack) {
        // Another action may be running (its message box takes this timer's messages): the next tick
        // tries again.
        ActionTurn turn(ActionOrigin::Automatic);
        if (!turn.Held()) return;
        putBack(TheLook.listView);
        ++TheLook.putBacks;
        TheLook.expected = TheLook.lastSeen = ReadIconPlaces(TheLook.listView);
        TheLook.since = GetTickCount();
        return;
    }
    if (away || GetTickCount() - TheLook.since >= kSecondLookMs) EndSecondLook();
}

}  // namespace plx

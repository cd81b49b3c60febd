// One gate for every action on the desktop's thread: those a user or a program asks for (the menu's
// commands and dialogs, the exports, the command line) and those the product starts itself (the end of
// the quiet period after a display change, the second look after it). Actions run on the desktop's
// thread, but a message box, a dialog or a COM call inside one takes messages, and another action could
// start inside it. The gate decides which may:
//   - an automatic action runs only when no action runs; one that comes inside another waits and is
//     started again when the last one ends (the channel gives it a way back in);
//   - an asked-for action is refused while an automatic one runs (a caller in another process is told
//     to wait and asks again); inside another asked-for one it runs as it always did, since a user who
//     has a message box of the menu open may still pick from the menu.
// The gate belongs to the desktop's thread: only that thread takes turns.
#pragma once

namespace plx {

enum class ActionOrigin { Asked, Automatic };

class ActionTurn {
public:
    explicit ActionTurn(ActionOrigin origin);
    ~ActionTurn();
    ActionTurn(const ActionTurn&) = delete;
    ActionTurn& operator=(const ActionTurn&) = delete;

    // False when the gate refused the turn: nothing may be done.
    bool Held() const { return held_; }

private:
    ActionOrigin origin_;
    bool held_ = false;
};

bool AnyActionRunning();
bool AutomaticActionRunning();

// Called when the last turn ends, on the desktop's thread; the channel starts there what had to wait.
// Also called when an asked-for turn begins, with asked set: work the product started itself (a second
// look after a display change) gives way to what a user asks for.
struct GateListener {
    void (*lastTurnEnded)() = nullptr;
    void (*askedTurnBegins)() = nullptr;
};
void SetGateListener(const GateListener& listener);

}  // namespace plx

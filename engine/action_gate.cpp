#include "engine/action_gate.h"

namespace plx {

namespace {

int RunningTurns = 0;
int RunningAutomatic = 0;
GateListener Listener;

}  // namespace

ActionTurn::ActionTurn(ActionOrigin origin) : origin_(origin) {
    if (origin == ActionOrigin::Automatic ? RunningTurns != 0 : RunningAutomatic != 0) return;
    held_ = true;
    ++RunningTurns;
    if (origin == ActionOrigin::Automatic) {
        ++RunningAutomatic;
    } else if (Listener.askedTurnBegins) {
        Listener.askedTurnBegins();
    }
}

ActionTurn::~ActionTurn() {
    if (!held_) return;
    if (origin_ == ActionOrigin::Automatic) --RunningAutomatic;
    if (--RunningTurns == 0 && Listener.lastTurnEnded) Listener.lastTurnEnded();
}

bool AnyActionRunning() { return RunningTurns != 0; }
bool AutomaticActionRunning() { return RunningAutomatic != 0; }

void SetGateListener(const GateListener& listener) { Listener = listener; }

}  // namespace plx

// Carries actions into the process that owns the desktop list view. Part of the module itself: its
// hook procedure must live in the image that the shell loads.
//
// In the shell's own process an action runs at once. From any other process it goes to the agent
// window, a hidden dialog inside the shell's process, as one synchronous WM_APP message:
//   wParam  the desktop list view
//   lParam  action code in the high 16 bits, the action's number (a snapshot's) in bits 8 to 15, the
//           low byte of quiet in bits 0 to 7
// When the agent window does not exist yet, a WH_GETMESSAGE hook on the desktop's thread loads the
// module there; the hook creates the window and answers the waiting caller with a thread message of
// its own, registered under kHandshakeMessageName. Only an agent window of the list view's own process
// is used; the caller's thread id reaches the hook through memory that only processes of the same
// user in the same session can map (kChannelStateName).
#pragma once

#include <windows.h>

#include <string>

#include "engine/user_objects.h"
#include "resources/resource.h"
#include "win32/unique.h"

namespace plx {

// The work RunAction carries into the shell's process. The values travel in the low 16 bits of the
// agent's message and are fixed.
enum class Action : int {
    SaveProfile = 0,  // the current profile: positions and visibility
    SaveStartupPositions = 1,
    RestorePositions = 2,
    RestoreStartupPositions = 3,
    ActivateProfile = 4,
    ReleaseHiddenItems = 5,
    CreateDefault = 6,
    UndoPositions = 7,    // the icons back where the last restore or activation found them
    FollowShell = 8,      // after the shell started: follow its display changes, and once its icons are
                          // still, put them where they were last seen
    RestoreSnapshot = 9,  // the icons to one snapshot of the arrangement (the number says which)
};

inline bool IsActionCode(int code) { return code >= 0 && code <= static_cast<int>(Action::RestoreSnapshot); }
// The number an action carries travels in 8 bits.
inline constexpr UINT kMaxActionNumber = 0xFF;

// The channel carries actions; the work behind them is given by the layer above, once per process
// before any action or display change arrives (the module does it when it is loaded). run: false,
// having done nothing, for an action it does not know. displayChanged: the display settings changed
// and then stayed as they are for the quiet period, while the desktop's list view belongs to this
// process; arrangementMoved: the monitors were seen in another arrangement than the last one profiles
// were saved or activated for, at some change during the period.
// putBack: puts the icons where the product left them, after the shell moved them by itself.
// lastSeen: puts the icons where they were last seen, after the shell started anew (engine/icon_watch.h).
// number: what the action's number says (RestoreSnapshot), 0 for the others.
// What the work of an action achieved. InPart: it ran, and said itself what it could not do (unless
// quiet); the caller reports a failure without another message.
enum class ActionResult { NotRun, Done, InPart };
struct ActionWork {
    ActionResult (*run)(Action action, HWND listView, HWND owner, BOOL quiet, UINT number) = nullptr;
    void (*displayChanged)(HWND listView, bool arrangementMoved) = nullptr;
    void (*putBack)(HWND listView) = nullptr;
    void (*lastSeen)(HWND listView) = nullptr;
};
void SetActionWork(const ActionWork& work);

// How long another process waits for the agent window's answer, in all. A sender that finds the
// desktop's thread hung (taking no messages for 5 seconds) fails at once. A thread that keeps taking
// messages but does not answer (an action's message box left open, or a window that only looks like
// the agent) holds the caller no longer than this either: the caller then fails, and the action, if
// it runs, ends by itself in the shell's process.
inline constexpr unsigned kAgentAnswerTimeoutMs = 60000;
// The agent's answer: the action ran, and the window must be closed after it (it could not keep its
// module loaded).
inline constexpr LONG_PTR kAgentRan = 1;
inline constexpr LONG_PTR kAgentCloseMe = 2;
// The agent runs an action of its own (the end of the quiet period after a display change): the
// caller asks again after kBusyRetryMs, within kAgentAnswerTimeoutMs in all.
inline constexpr LONG_PTR kAgentBusy = 4;
// With kAgentRan: the action ran in part and said so itself.
inline constexpr LONG_PTR kAgentRanInPart = 8;
inline constexpr DWORD kBusyRetryMs = 100;

inline constexpr char kNoDesktopMessage[] = "Cannot get the desktop window. Try again later.";
inline constexpr char kAttachFailedMessage[] = "Cannot attach the Explorer.exe process. Try again later.";
inline constexpr char kNoAgentMessage[] = "Cannot perform the action. Try again later.";

// How long a caller waits for the hooked desktop thread to answer.
inline constexpr DWORD kHandshakeTimeoutMs = 5000;

// The channel's named objects, in the session's own namespace and for one user: the name is followed
// by a space and the SID of the user whose processes use it (UserObjectName). Callers of that user
// attach one at a time under the mutex; the mapping holds what a caller and the hook tell each other.
// Each is made with an access list for that user and SYSTEM only, and is used only when that user,
// SYSTEM or the administrators own it.
inline constexpr char kAttachMutexName[] = "Local\\" PLAXEN_PRODUCT_TITLE " attach";
inline constexpr char kChannelStateName[] = "Local\\" PLAXEN_PRODUCT_TITLE " channel";

// How long a caller waits for its turn; then the action fails with kNoAgentMessage.
inline constexpr DWORD kAttachLockTimeoutMs = 20000;

// The hook's answer to the caller that waits for the agent window.
inline constexpr char kHandshakeMessageName[] = PLAXEN_PRODUCT_TITLE " agent created";

// True when the action ran in this process or was run by the agent window; false when there is no
// desktop list view, the shell's process could not be attached, no agent window appeared or it did
// not run the action, or the code is not an action (then nothing is shown), and when it ran in part
// (an activation that left an item where the profile does not want it: the action said so itself).
// number: carried to the action's work (at most kMaxActionNumber; a larger one fails).
bool RunAction(Action action, HWND owner, BOOL quiet, UINT number = 0);

// Closes the agent window of this process, if it has one.
void CloseAgentWindow();

// threadId: the thread to hook and wake up; 0 removes the hook.
bool SetAgentHook(DWORD threadId);
LRESULT CALLBACK AgentHookProc(int code, WPARAM wParam, LPARAM lParam);

// Creates the agent window in this process unless it already exists.
void CreateAgentWindow();
// The agent window's timer that ends the quiet period after a display change.
inline constexpr UINT_PTR kDisplaySettleTimer = 1;
// Creates the agent window when this thread is the desktop list view's, so that display changes are
// followed from the moment the module is in the shell's process.
void FollowDisplayFromHere();
// False while a quiet period runs or waits, while an action runs, or while the display is held
// (display_hold.h): what a display change brings is then left to the end of the quiet period, and
// building the menu acts on nothing.
bool DisplayChangesMayBeFollowedNow();
// The Action::FollowShell work on this thread, the list view's: the agent window watches its icons
// and, once the shell has stopped laying them out, hands them to ActionWork::lastSeen.
void AwaitShellLayout(HWND listView);
// After an activation on this thread: items it showed are put in their places once the shell has
// brought them into the view (a second look from the agent window, when this thread has it).
void PlaceItemsThatComeIntoView(HWND listView);
INT_PTR CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace plx

// Carries actions into the process that owns the desktop list view. Part of the module itself: its
// shared variables and its hook procedure must live in the image that the shell loads.
//
// In the shell's own process an action runs at once. From any other process it goes to the agent
// window, a hidden dialog inside the shell's process, as one synchronous WM_APP message:
//   wParam  the desktop list view
//   lParam  action code in the high 16 bits, the low byte of quiet in the low 16 bits
// When the agent window does not exist yet, a WH_GETMESSAGE hook on the desktop's thread loads the
// module there; the hook creates the window and answers the waiting caller with a thread message of
// its own, registered under kHandshakeMessageName.
#pragma once

#include <windows.h>

#include "resources/resource.h"

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
    UndoPositions = 7,  // the icons back where the last restore or activation found them
};

inline bool IsActionCode(int code) { return code >= 0 && code <= static_cast<int>(Action::UndoPositions); }

// The channel carries actions; the work behind them is given by the layer above, once per process
// before any action or display change arrives (the module does it when it is loaded). run: false,
// having done nothing, for an action it does not know. displayChanged: the screen size changed while
// the desktop's list view belongs to this process.
struct ActionWork {
    bool (*run)(Action action, HWND listView, HWND owner, BOOL quiet) = nullptr;
    void (*displayChanged)(HWND listView) = nullptr;
};
void SetActionWork(const ActionWork& work);

// How long another process waits for the agent window's answer. A sender that finds the desktop's
// thread hung (taking no messages for 5 seconds) fails at once; on Windows the bound counts only while
// that thread takes no messages (SMTO_NOTIMEOUTIFNOTHUNG), so a message box of the action may stay
// open as long as the user likes. Wine ignores that flag and ends every wait at the bound: it is long
// enough for the tests' message boxes.
inline constexpr unsigned kAgentAnswerTimeoutMs = 60000;


inline constexpr char kNoDesktopMessage[] = "Cannot get the desktop window. Try again later.";
inline constexpr char kAttachFailedMessage[] = "Cannot attach the Explorer.exe process. Try again later.";
inline constexpr char kNoAgentMessage[] = "Cannot perform the action. Try again later.";

// How long a caller waits for the hooked desktop thread to answer.
inline constexpr DWORD kHandshakeTimeoutMs = 5000;

// Callers in different processes attach one at a time under this mutex: in the global namespace,
// or in the session's own where the global one cannot be had.
inline constexpr char kAttachMutexName[] = "Global\\" PLAXEN_PRODUCT_TITLE " attach";
inline constexpr char kSessionAttachMutexName[] = "Local\\" PLAXEN_PRODUCT_TITLE " attach";
// Its access list, whoever creates it: SYSTEM and the administrators may do anything with it, every
// signed-in user may wait for it and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE).
inline constexpr char kAttachMutexAccess[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";
// How long a caller waits for its turn; then the action fails with kNoAgentMessage.
inline constexpr DWORD kAttachLockTimeoutMs = 20000;

// The hook's answer to the caller that waits for the agent window.
inline constexpr char kHandshakeMessageName[] = PLAXEN_PRODUCT_TITLE " agent created";

// True when the action ran in this process or was run by the agent window; false when there is no
// desktop list view, the shell's process could not be attached, no agent window appeared or it did
// not run the action, or the code is not an action (then nothing is shown).
bool RunAction(Action action, HWND owner, BOOL quiet);

// Closes the agent window of whichever process holds it. From outside the shell the shell may be hung:
// that does not hold the caller beyond kAgentAnswerTimeoutMs.
void CloseAgentWindow();

// threadId: the thread to hook and wake up; 0 removes the hook.
bool SetAgentHook(DWORD threadId);
LRESULT CALLBACK AgentHookProc(int code, WPARAM wParam, LPARAM lParam);

// Creates the agent window in this process unless it already exists.
void CreateAgentWindow();
INT_PTR CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace plx

// The names that every layer and the module's resources share, each defined once: the product's
// caption, the title by which every process finds the agent window, the root of the user's registry
// tree, and the codes of the actions. The resource compiler reads the macros only.
#pragma once

#define PLAXEN_PRODUCT_TITLE "Quillmar Orvane Deluxe"
#define PLAXEN_ROOT_KEY "Software\\Quillmar\\Orvane"

#ifndef RC_INVOKED

namespace plx {

// The caption of every message box.
inline constexpr char kMessageCaption[] = PLAXEN_PRODUCT_TITLE;
// The agent window inside the shell's process is found by this title alone.
inline constexpr char kAgentWindowTitle[] = PLAXEN_PRODUCT_TITLE "_";
// How long another process waits for the agent window's answer. A sender that finds the desktop's
// thread hung (taking no messages for 5 seconds) fails at once; on Windows the bound counts only while
// that thread takes no messages (SMTO_NOTIMEOUTIFNOTHUNG), so a message box of the action may stay
// open as long as the user likes. Wine ignores that flag and ends every wait at the bound: it is long
// enough for the tests' message boxes.
inline constexpr unsigned kAgentAnswerTimeoutMs = 60000;

// Below HKEY_CURRENT_USER.
inline constexpr char kRootKey[] = PLAXEN_ROOT_KEY;
inline constexpr char kItemsKey[] = PLAXEN_ROOT_KEY "\\Items";
inline constexpr char kHiddenItemsKey[] = PLAXEN_ROOT_KEY "\\HiddenItems";

// The work RunAction carries into the shell's process. Only the low 16 bits travel there.
enum ActionCode : int {
    SavePositions = 0,
    SaveStartupPositions = 1,
    RestorePositions = 2,
    RestoreStartupPositions = 3,
    ActivateProfileAction = 4,
    ReleaseHiddenItemsAction = 5,
    CreateDefault = 6,
};

inline bool IsActionCode(int code) { return code >= SavePositions && code <= CreateDefault; }

}  // namespace plx

#endif  // RC_INVOKED

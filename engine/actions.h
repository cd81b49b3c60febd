// Action codes and the message boxes that actions show.
#pragma once

#include <windows.h>

namespace plx {

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

inline constexpr char kMessageCaption[] = "Quillmar Orvane Deluxe";

inline bool IsActionCode(int code) { return code >= SavePositions && code <= CreateDefault; }

// Callers pass a BOOL of which only the low byte counts: 256 is not quiet.
inline bool IsQuiet(BOOL quiet) { return (static_cast<unsigned>(quiet) & 0xFFu) != 0; }

// Shows text with the product caption unless quiet.
void ShowActionMessage(HWND owner, BOOL quiet, const char* text, UINT icon);

// Runs the work of an action on listView, which must belong to this process. The activation of a
// profile is quiet whatever quiet says. Returns false, having done nothing, for an unknown code.
bool RunActionWork(int code, HWND listView, HWND owner, BOOL quiet);

}  // namespace plx

// The message boxes that actions show, and the work each action runs.
#pragma once

#include <windows.h>

#include "engine/names.h"

namespace plx {

// Callers pass a BOOL of which only the low byte counts: 256 is not quiet.
inline bool IsQuiet(BOOL quiet) { return (static_cast<unsigned>(quiet) & 0xFFu) != 0; }

// Shows text with the product caption unless quiet.
void ShowActionMessage(HWND owner, BOOL quiet, const char* text, UINT icon);

// Runs the work of an action on listView, which must belong to this process. The activation of a
// profile is quiet whatever quiet says. Returns false, having done nothing, for an unknown code.
bool RunActionWork(int code, HWND listView, HWND owner, BOOL quiet);

}  // namespace plx

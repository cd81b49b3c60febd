// What both dialogs that take a profile title do when Save is pressed, before they end.
#pragma once

#include <windows.h>

#include <string>

#include "store/profile_tree.h"

namespace plx {

inline constexpr char kEmptyTitleMessage[] = "Please, type the profile title.";
inline constexpr char kUnusableTitleMessage[] =
    "A profile title cannot contain a backslash (\\) or have 256 characters or more.";

// The overwrite question for title, as typed.
std::string OverwriteQuestion(const std::string& title);

// True when the dialog may end with title: it is not empty, it can name a profile (a backslash would
// lead into another key of the tree, and a key name holds at most 255 characters), and either no
// other profile is the same key (takenNames may hold the names upper-cased) or the user agreed to
// overwrite that profile. Otherwise the focus goes back to titleBox after the message that says why.
bool AcceptProfileTitle(HWND dialog, HWND titleBox, const std::string& title,
                        const ProfileNameSet& takenNames);

}  // namespace plx

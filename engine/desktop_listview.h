#pragma once

#include <windows.h>

namespace plx {

// The list view in which the shell shows the desktop icons, or null. Searches afresh on every call.
HWND FindDesktopListView();

}  // namespace plx

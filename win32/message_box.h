// The product's message boxes: every one carries the product's caption.
#pragma once

#include <windows.h>

#include "resources/resource.h"
#include "win32/wide_text.h"

namespace plx {

// Callers pass a BOOL of which only the low byte counts: 256 is not quiet.
inline bool IsQuiet(BOOL quiet) { return (static_cast<unsigned>(quiet) & 0xFFu) != 0; }

// text: UTF-8, as every text of the product.
inline int ShowMessage(HWND owner, const char* text, UINT flags) {
    return MessageBoxW(owner, ToWide(text).c_str(), ToWide(kMessageCaption).c_str(), flags);
}

// An OK box with the icon, unless quiet.
inline void ShowMessageUnlessQuiet(HWND owner, BOOL quiet, const char* text, UINT icon) {
    if (!IsQuiet(quiet)) ShowMessage(owner, text, MB_OK | icon);
}

}  // namespace plx

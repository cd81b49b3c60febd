// Text in the system's ANSI code page (or another) as UTF-16, for the wide functions of the platform.
#pragma once

#include <windows.h>

#include <string>

namespace plx {

// Empty for empty text and for text that is not valid in codePage.
inline std::wstring Widen(const std::string& text, UINT codePage = CP_ACP) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (chars <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], chars);
    return wide;
}

}  // namespace plx

// Paths as the wide file functions take them. The product keeps plain full paths ("C:\a\b"), which is
// how they are shown; a path of MAX_PATH characters or more reaches the file system only in its
// long-path form ("\\?\C:\a\b"), since without it Windows refuses it (unless the process is long-path
// aware, which the shell need not be). Wine takes both forms at any length.
#pragma once

#include <windows.h>

#include <string>

#include "win32/wide_text.h"

namespace plx {

inline constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
inline constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// A folder path with one more name after it must stay below this for CreateDirectoryW, which keeps
// room for an 8.3 name inside; other functions stop at MAX_PATH.
inline constexpr size_t kLongestPlainPath = MAX_PATH - 12;

// The path for a wide file function: a full path on a drive that is too long for the plain form gets
// the long-path prefix; every other path passes unchanged. The long-path form skips the system's
// clean-up of the path, so it is only taken for the product's own paths, which are full and plain.
std::wstring FileApiPath(std::wstring path);
std::wstring FileApiPath(const std::string& utf8);

// A path as it is shown and kept: "\\?\C:\a" becomes "C:\a" and "\\?\UNC\server\share" becomes
// "\\server\share"; any other path passes unchanged.
std::wstring PlainPath(std::wstring path);

}  // namespace plx

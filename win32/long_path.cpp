#include "win32/long_path.h"

#include <cwchar>

namespace plx {

std::wstring FileApiPath(std::wstring path) {
    if (path.size() >= kLongestPlainPath && path.size() > 2 && path[1] == L':' && path[2] == L'\\')
        path.insert(0, kLongPathPrefix);
    return path;
}

std::wstring FileApiPath(const std::string& utf8) { return FileApiPath(ToWide(utf8)); }

std::wstring PlainPath(std::wstring path) {
    const size_t unc = wcslen(kLongUncPrefix), plain = wcslen(kLongPathPrefix);
    if (path.compare(0, unc, kLongUncPrefix) == 0) return path.replace(0, unc, L"\\\\");
    if (path.compare(0, plain, kLongPathPrefix) == 0) path.erase(0, plain);
    return path;
}

}  // namespace plx

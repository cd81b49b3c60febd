// Profiles that travel: one profile written to a text file, and a file read back into a profile of
// the current screen size. Both work on the user's registry and the desktop folder in the calling
// process; neither needs the desktop's process, and neither moves an icon or an item.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace plx {

// done: the file was written, or the profile imported. message: what to tell the user (UTF-8), a
// line without the program's name.
struct TransferResult {
    bool done = false;
    std::string message;
};

// Writes profile (the active one when none is named) of the current screen size to path.
TransferResult ExportProfileFile(const std::wstring& path, const std::optional<std::string>& profile);

// Reads path and saves what it holds as the profile title (the file's own title when none is given)
// at the current screen size, without making it active. An existing profile is replaced only when the
// user agrees to the question (owner owns it); quiet asks nothing and replaces nothing. A file that is
// not whole and sound changes nothing.
TransferResult ImportProfileFile(const std::wstring& path, const std::optional<std::string>& title,
                                 HWND owner, BOOL quiet);

}  // namespace plx

// What the test programs share: where things are, and waiting for other processes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "store/profile_tree.h"

namespace testbed {

// Text in the system's code page, as earlier versions of the module wrote names through the ANSI
// functions; empty when the code page cannot spell it exactly.
std::string InCodePage(const std::wstring& text);
// The text in the ANSI code page as earlier versions of the product wrote names: characters the code
// page lacks taken by the system's best fit ("Ł" as "L"), the others by "?".
std::string InCodePageBestFit(const std::wstring& text);

// The profile name of a text that the test knows to be one; throws (and so fails the test) otherwise.
inline plx::ProfileName Profile(const std::string& text) { return plx::ProfileName::From(text).value(); }

// True inside the project's Wine test bed (PLAXEN_TESTBED=1, set by scripts/test.sh); outside it
// says on stderr that the program refuses to run. Its prefix has a temporary HOME and an empty desktop
// of its own, so nothing a program run there moves or deletes can belong to anybody.
bool InsideTestBed();

// The directory of the running test program; the module and the stand-in desktop are built beside it.
std::string ExeDirectory();
std::string ModulePath();  // Plaxen.dll beside the test program

// The prefix's desktop folders, as the shell reports them.
std::string UserDesktopDirectory();
std::string CommonDesktopDirectory();

// Starts a program as CreateProcess does, tied to this test program: whatever ends the test program (its
// end, a crash, a time limit), the programs it started end with it, and the programs they start. A
// process that cannot be tied is not started. Null startup: the defaults.
bool StartTiedProcess(std::string commandLine, PROCESS_INFORMATION& pi, STARTUPINFOA* startup = nullptr,
                      BOOL inheritHandles = FALSE);
bool StartTiedProcess(std::wstring commandLine, PROCESS_INFORMATION& pi, STARTUPINFOW* startup = nullptr,
                      BOOL inheritHandles = FALSE);

// Polls until the condition holds or the time is up; pumps this thread's messages meanwhile, unless told
// not to.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000, bool pumpMessages = true);

// Reads a block of the screen as 32-bit pixels, row by row from the top.
std::vector<DWORD> CaptureScreen(int x, int y, int width, int height);
// Writes the whole screen to a 32-bit BMP file; false when it cannot be written.
bool WriteScreenBitmap(const std::string& path);

// Writes a file with the given contents; returns false on failure.
bool WriteTextFile(const std::string& path, const std::string& contents);
std::string ReadTextFile(const std::string& path);

// A fresh directory under the prefix's temporary folder, removed with everything in it at the end.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Deletes a directory tree (files and subdirectories) without the shell.
void RemoveTree(const std::string& path);

// Removes whatever a test left in the desktop folders.
void EmptyDesktopFolders();

// Makes link a symbolic link to the directory target. Wine has no CreateSymbolicLink of its own; it
// shows a Unix symbolic link as a directory with FILE_ATTRIBUTE_REPARSE_POINT, so one is made with
// ln through Wine's Unix paths.
bool MakeDirectoryLink(const std::string& link, const std::string& target);
// Removes such a link, not what it points to; Wine removes neither with RemoveDirectory.
bool RemoveDirectoryLink(const std::string& link);
// Renames a file or folder with mv, past the handles that hold it: what a user does on Windows to a
// folder held without delete sharing, by making it a junction in place, where Wine has no junctions.
bool RenameFromUnix(const std::string& from, const std::string& to);

// Wine instead of Windows: Wine keeps no access lists or owners of its own (it maps them onto Unix
// permission bits and owners), so tests of them say what each one shows.
bool OnWine();
// The owner ("O:...") and access list ("D:...") of a file or folder as SDDL, read through a handle
// that does not follow a reparse point; empty when they cannot be read.
std::string SecuritySddl(const std::string& path);
// Gives a file or folder to another user: SetSecurityInfo on Windows; under Wine, which takes no owner
// that way but shows another Unix user's file as owned by another SID, chown to another Unix user.
// True once the owner read back is no longer this user.
bool GiveToAnotherUser(const std::string& path);
// Maps the drive letter (as "P:") to a folder, as a second volume: Wine keeps its drives as links in
// the prefix's "dosdevices". Unmapping removes the link, not the folder.
bool MapDrive(const std::string& drive, const std::string& folder);
// The events of store_step's pause: set by it once it waits mid-action, and by a test to let it go on.
inline constexpr char kPausedEvent[] = "Local\\plaxen test store_step paused";
inline constexpr char kGoEvent[] = "Local\\plaxen test store_step go";
bool UnmapDrive(const std::string& drive);

// Changes the size of the primary screen (inside a Wine virtual desktop, which allows it).
bool SetScreenSize(int width, int height);

// Gives a registry key the access list written in SDDL, as a user or another program could; Wine's
// server applies it to every later open of the key.
bool SetKeyRules(HKEY key, const char* sddl);

}  // namespace testbed

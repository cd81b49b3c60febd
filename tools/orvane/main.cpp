// orvane: runs one of the module's actions from the command line, for a logon task or a script.
//
//   orvane save | save-startup | restore | restore-startup | undo | create-default | about | keep
//          [--quiet] [--wait SECONDS]
//   orvane restore --snapshot N [--quiet] [--wait SECONDS]
//   orvane snapshots
//   orvane export FILE [--profile NAME]
//   orvane import FILE [--as NAME] [--quiet]
// Every command takes --quiet; those that ask nothing ignore it.
//   orvane --help | --version
//
// Built twice from this file: orvane.exe, a console program, which cmd.exe and PowerShell wait for
// and whose exit code they report; and orvanew.exe, the same without a console, for the logon entry,
// which must flash no console window. What orvanew has to say goes to the standard error stream it
// was given, or to the console of the program that started it.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "engine/channel.h"
#include "engine/desktop_listview.h"
#include "layout/transfer.h"
#include "store/kept_positions.h"
#include "store/snapshots.h"
#include "tools/orvane/keeper.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace {

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr long kLongestWait = 3600;

// What a command does: one export of the module, run in the desktop's process; a profile file
// written or read, or the snapshots listed, in this process; or the keeper, which stays (keeper.h).
enum class Work { Export, ExportFile, ImportFile, ListSnapshots, Keep };

struct Command {
    const wchar_t* name;
    const char* exportName;
    Work work = Work::Export;
};

const Command kCommands[] = {
    {L"save", "SaveCurrentProfile"},
    {L"save-startup", "SaveStartupIconPositions"},
    {L"restore", "RestoreIconPositions"},
    {L"restore-startup", "RestoreStartupIconPositions"},
    {L"undo", "UndoIconPositions"},
    {L"export", "", Work::ExportFile},
    {L"import", "", Work::ImportFile},
    {L"snapshots", "", Work::ListSnapshots},
    {L"create-default", "CreateDefaultProfile"},
    {L"about", "About"},
    {L"keep", "RestoreStartupIconPositions", Work::Keep},
};

const char kUsageText[] =
    "Usage: orvane COMMAND [--quiet] [--wait SECONDS]\n"
    "       orvane restore --snapshot N [--quiet] [--wait SECONDS]\n"
    "       orvane export FILE [--profile NAME]\n"
    "       orvane import FILE [--as NAME] [--quiet]\n"
    "       orvane --help | --version\n"
    "\n"
    "Commands (each acts on the desktop of the user who runs it):\n"
    "  save             save the icon positions into the active profile\n"
    "  save-startup     save the icon positions restored at logon\n"
    "  restore          restore the icon positions of the active profile\n"
    "  restore --snapshot N\n"
    "                   put the icons where snapshot N of this screen arrangement has them\n"
    "                   (1 the latest; see snapshots)\n"
    "  restore-startup  restore the icon positions saved for logon\n"
    "  undo             put the icons back where the last restore or profile change found them;\n"
    "                   a second undo undoes the first\n"
    "  export FILE      write the active profile of this screen size (or --profile NAME) to FILE,\n"
    "                   a UTF-8 text file\n"
    "  import FILE      save the profile in FILE at this screen size, under its own title (or\n"
    "                   --as NAME), without making it active; an existing profile of that title is\n"
    "                   replaced after a question, never with --quiet\n"
    "  snapshots        list the layouts kept automatically for this screen arrangement: number,\n"
    "                   local time and icons, the latest first\n"
    "  create-default   save the desktop as the profile \"Default\" at a screen size seen first\n"
    "  about            show the About box\n"
    "  keep             restore the icon positions saved for logon, then stay for the session:\n"
    "                   follow the desktop when it starts again and show the notification icon\n"
    "\n"
    "Options:\n"
    "  --quiet          show no message box; the exit code tells the outcome (every command takes\n"
    "                   it; export and snapshots ask nothing anyway)\n"
    "  --wait SECONDS   first wait, at most SECONDS (up to 3600), until the desktop shows its icons\n"
    "\n"
    "Exit code: 0 done, 1 failed, nothing to do or not done in time (try again later), 2 wrong\n"
    "command line.\n"
    "orvane.exe uses the Plaxen.dll beside it. A 64-bit Windows shell needs the 64-bit pair of\n"
    "orvane.exe and Plaxen.dll, a 32-bit shell the 32-bit pair. orvanew.exe beside it is the same\n"
    "program without a console window, for logon entries and shortcuts.\n";

// Where the messages go: the standard error stream handed to this program, else the console of the
// program that started it, else nowhere.
class ErrorStream {
public:
    ErrorStream() {
        handle_ = GetStdHandle(STD_ERROR_HANDLE);
        if (!Usable(handle_) && AttachConsole(ATTACH_PARENT_PROCESS)) {
            console_ = true;
            handle_ = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        }
    }
    ~ErrorStream() {
        if (console_) {
            if (Usable(handle_)) CloseHandle(handle_);
            FreeConsole();
        }
    }
    ErrorStream(const ErrorStream&) = delete;
    ErrorStream& operator=(const ErrorStream&) = delete;

    void Write(const std::string& text) const {
        if (!Usable(handle_)) return;
        DWORD written = 0;
        WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

private:
    static bool Usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    HANDLE handle_ = nullptr;
    bool console_ = false;
};

// The standard output stream, for --help and --version; the error stream's way when there is none.
void WriteOut(const ErrorStream& errors, const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out == nullptr || out == INVALID_HANDLE_VALUE ||
        !WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        errors.Write(text);
}

std::string Narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

std::wstring OwnDirectory() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            std::wstring full(path.data(), length);
            return full.substr(0, full.find_last_of(L'\\'));
        }
        path.resize(path.size() * 2);
    }
}

std::string OwnVersion() {
    std::vector<wchar_t> path(MAX_PATH);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return "unknown";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.data(), &ignored);
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (size == 0 || !GetFileVersionInfoW(path.data(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info)
        return "unknown";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

struct Arguments {
    const Command* command = nullptr;
    bool quiet = false;
    bool help = false;
    bool version = false;
    long waitSeconds = -1;
    std::wstring file;
    std::optional<std::string> profile;  // export --profile
    std::optional<std::string> title;    // import --as
    int snapshot = 0;                    // restore --snapshot
    std::string error;
};

// The value after an option; false when there is none.
bool TakeValue(int argc, wchar_t** argv, int& i, std::optional<std::string>& value) {
    if (i + 1 >= argc || argv[i + 1][0] == L'\0') return false;
    value = plx::ToUtf8(argv[++i]);
    return true;
}

bool TakesFile(Work work) { return work == Work::ExportFile || work == Work::ImportFile; }

Arguments Parse(int argc, wchar_t** argv) {
    Arguments parsed;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--quiet") {
            parsed.quiet = true;
        } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
            parsed.help = true;
        } else if (argument == L"--version") {
            parsed.version = true;
        } else if (argument == L"--wait") {
            wchar_t* end = nullptr;
            const long value = i + 1 < argc ? std::wcstol(argv[i + 1], &end, 10) : -1;
            if (i + 1 >= argc || end == argv[i + 1] || *end != L'\0' || value < 0 || value > kLongestWait) {
                parsed.error = "--wait needs a number of seconds from 0 to 3600";
                return parsed;
            }
            parsed.waitSeconds = value;
            ++i;
        } else if (argument == L"--snapshot") {
            wchar_t* end = nullptr;
            const long value = i + 1 < argc ? std::wcstol(argv[i + 1], &end, 10) : 0;
            if (i + 1 >= argc || end == argv[i + 1] || *end != L'\0' || value < 1 ||
                value > static_cast<long>(plx::kMaxActionNumber)) {
                parsed.error = "--snapshot needs a snapshot's number from 1 to 255 (see orvane snapshots)";
                return parsed;
            }
            parsed.snapshot = static_cast<int>(value);
            ++i;
        } else if (argument == L"--profile" || argument == L"--as") {
            std::optional<std::string>& value = argument == L"--as" ? parsed.title : parsed.profile;
            if (!TakeValue(argc, argv, i, value)) {
                parsed.error = Narrow(argument) + " needs a profile title";
                return parsed;
            }
        } else if (parsed.command && TakesFile(parsed.command->work) && parsed.file.empty() &&
                   (argument.rfind(L"-", 0) != 0 || argument == L"-")) {
            parsed.file = argument;
        } else if (!parsed.command && argument.rfind(L"-", 0) != 0) {
            for (const Command& command : kCommands)
                if (argument == command.name) parsed.command = &command;
            if (!parsed.command) {
                parsed.error = "unknown command \"" + Narrow(argument) + "\"";
                return parsed;
            }
        } else {
            parsed.error = "unexpected argument \"" + Narrow(argument) + "\"";
            return parsed;
        }
    }
    if (!parsed.command && !parsed.help && !parsed.version) parsed.error = "no command given";
    if (!parsed.command || !parsed.error.empty()) return parsed;
    const Work work = parsed.command->work;
    if (TakesFile(work) && parsed.file.empty()) parsed.error = "export and import need a file";
    if (parsed.profile && work != Work::ExportFile) parsed.error = "--profile belongs to export";
    if (parsed.title && work != Work::ImportFile) parsed.error = "--as belongs to import";
    if (parsed.snapshot != 0 && parsed.command->exportName != std::string("RestoreIconPositions"))
        parsed.error = "--snapshot belongs to restore";
    if (parsed.waitSeconds >= 0 && work != Work::Export && work != Work::Keep)
        parsed.error = "--wait belongs to the desktop's actions";
    return parsed;
}

// Export and import run here, in the user's own process: the profiles are the user's registry, and
// the items are matched against the desktop folder, which the shell's namespace gives any process.
int Transfer(const ErrorStream& errors, const Arguments& arguments) {
    // The desktop folder's enumeration asks for a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const plx::TransferResult result = arguments.command->work == Work::ExportFile
                                           ? plx::ExportProfileFile(arguments.file, arguments.profile)
                                           : plx::ImportProfileFile(arguments.file, arguments.title, nullptr,
                                                                    arguments.quiet ? TRUE : FALSE);
    if (SUCCEEDED(com)) CoUninitialize();
    const std::string line = "orvane: " + Narrow(plx::ToWide(result.message)) + "\n";
    if (result.done) {
        WriteOut(errors, line);
        return kSucceeded;
    }
    errors.Write(line);
    return kFailed;
}

// A snapshot's time as this computer's clock shows it: "YYYY-MM-DD HH:MM:SS".
std::string LocalTime(const FILETIME& time) {
    SYSTEMTIME utc = {}, local = {};
    if (!FileTimeToSystemTime(&time, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return "(unknown time)";
    char text[32];
    wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
              local.wMinute, local.wSecond);
    return text;
}

// The snapshots are the user's registry: listed here, with no call into the desktop's process.
int ListSnapshots(const ErrorStream& errors) {
    const plx::ScreenSize size = plx::GetScreenSize();
    const std::vector<plx::SnapshotInfo> snapshots = plx::ListSnapshots(size);
    const std::string screen = plx::ResolutionKeyName(size);
    if (snapshots.empty()) {
        WriteOut(errors, "orvane: no layout is kept for " + screen + "\n");
        return kSucceeded;
    }
    std::string text = "Snapshots for " + screen + ", the latest first:\n";
    for (const plx::SnapshotInfo& info : snapshots)
        text += std::to_string(info.number) + "  " + LocalTime(info.time) + "  " +
                std::to_string(info.icons) + (info.icons == 1 ? " icon\n" : " icons\n");
    WriteOut(errors, text);
    return kSucceeded;
}

int Run(int argc, wchar_t** argv) {
    const ErrorStream errors;
    const Arguments arguments = Parse(argc, argv);
    if (!arguments.error.empty()) {
        errors.Write("orvane: " + arguments.error + "\n" + kUsageText);
        return kUsage;
    }
    if (arguments.help) {
        WriteOut(errors, kUsageText);
        return kSucceeded;
    }
    if (arguments.version) {
        WriteOut(errors, "orvane " + OwnVersion() + "\n");
        return kSucceeded;
    }
    if (arguments.command->work == Work::ListSnapshots) return ListSnapshots(errors);
    if (TakesFile(arguments.command->work)) return Transfer(errors, arguments);
    // By full path from this program's own directory, never through the search path.
    const std::wstring modulePath = OwnDirectory() + L"\\Plaxen.dll";
    plx::unique_hmodule module(LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) {
        errors.Write("orvane: cannot load " + Narrow(modulePath) + " (error " +
                     std::to_string(GetLastError()) + ")\n");
        return kFailed;
    }
    const char* exportName = arguments.snapshot != 0 ? "RestoreSnapshot" : arguments.command->exportName;
    const FARPROC entry = GetProcAddress(module.get(), exportName);
    if (!entry) {
        errors.Write(std::string("orvane: the module has no ") + exportName + "\n");
        return kFailed;
    }
    if (arguments.command->work == Work::Keep) {
        const int exitCode = orvane::Keep(module.get(), arguments.quiet, arguments.waitSeconds);
        if (exitCode != kSucceeded)
            errors.Write("orvane: the keeper could not start or its logon restore failed\n");
        return exitCode;
    }
    if (arguments.waitSeconds >= 0 && !orvane::WaitForDesktop(arguments.waitSeconds)) {
        errors.Write("orvane: the desktop did not show its icons within " +
                     std::to_string(arguments.waitSeconds) + " seconds\n");
        return kFailed;
    }
    if (arguments.command->work == Work::Export && std::wstring(arguments.command->name) == L"undo" &&
        !plx::ReadKeptPositions(plx::GetScreenSize())) {
        errors.Write("orvane: there are no icon positions to undo at " +
                     plx::ResolutionKeyName(plx::GetScreenSize()) + "\n");
        return kFailed;
    }
    if (arguments.snapshot != 0 && !plx::ReadSnapshot(plx::GetScreenSize(), arguments.snapshot)) {
        errors.Write("orvane: there is no snapshot " + std::to_string(arguments.snapshot) + " for " +
                     plx::ResolutionKeyName(plx::GetScreenSize()) + " (see orvane snapshots)\n");
        return kFailed;
    }
    const BOOL quiet = arguments.quiet ? TRUE : FALSE;
    HRESULT result = E_FAIL;
    if (arguments.snapshot != 0)
        result =
            reinterpret_cast<HRESULT(WINAPI*)(HWND, BOOL, UINT)>(entry)(nullptr, quiet, arguments.snapshot);
    else
        result = reinterpret_cast<HRESULT(WINAPI*)(HWND, BOOL)>(entry)(nullptr, quiet);
    if (result == S_OK) return kSucceeded;
    errors.Write(std::string("orvane: ") + exportName +
                 " failed: no desktop was found, the desktop's process could not be reached or did not "
                 "answer in time, or another caller kept its turn; try again later\n");
    return kFailed;
}

}  // namespace

namespace orvane {

// At logon this program can start before the shell has filled the desktop.
bool WaitForDesktop(long seconds) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    for (;;) {
        // The item count carries no pointer, so it may be asked across processes; a desktop that does
        // not answer within a second counts as not ready yet.
        HWND listView = plx::FindDesktopListView();
        DWORD_PTR count = 0;
        if (listView &&
            SendMessageTimeoutA(listView, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &count) &&
            static_cast<LONG_PTR>(count) > 0)
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(end - now, 250)));
    }
}

}  // namespace orvane

// Both builds start here (-municode); the subsystem alone tells them apart.
int wmain(int argc, wchar_t** argv) {
    try {
        return Run(argc, argv);
    } catch (...) {
        return kFailed;
    }
}

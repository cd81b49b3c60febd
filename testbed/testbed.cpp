#include "testbed/testbed.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32/unique.h"
#include "win32/wide_text.h"

namespace testbed {

bool InsideTestBed() {
    const char* testbed = std::getenv("PLAXEN_TESTBED");
    if (testbed && std::strcmp(testbed, "1") == 0) return true;
    std::fprintf(stderr, "refusing to run outside the test bed (scripts/test.sh sets PLAXEN_TESTBED=1)\n");
    return false;
}

std::string ExeDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\'));
}

std::string ModulePath() { return ExeDirectory() + "\\Plaxen.dll"; }

static std::string FolderPath(int csidl) {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

std::string UserDesktopDirectory() { return FolderPath(CSIDL_DESKTOPDIRECTORY); }
std::string CommonDesktopDirectory() { return FolderPath(CSIDL_COMMON_DESKTOPDIRECTORY); }

namespace {

// The job of the processes this program starts. Its one handle is never closed here: the system closes
// it when this program ends, however it ends, and the job then ends every process in it.
HANDLE TestJob() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created &&
            !SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
            CloseHandle(created);
            created = nullptr;
        }
        return created;
    }();
    return job;
}

// The process was created suspended: it runs once it is in the job, and is ended otherwise.
bool TieAndResume(bool created, PROCESS_INFORMATION& pi) {
    if (!created) return false;
    if (!TestJob() || !AssignProcessToJobObject(TestJob(), pi.hProcess)) {
        const DWORD error = GetLastError();
        TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi = {};
        SetLastError(error);
        return false;
    }
    ResumeThread(pi.hThread);
    return true;
}

template <typename Create, typename Text, typename Startup>
bool StartTied(Create create, Text& commandLine, PROCESS_INFORMATION& pi, Startup* startup,
               BOOL inheritHandles) {
    Startup defaults = {sizeof(defaults)};
    return TieAndResume(create(nullptr, &commandLine[0], nullptr, nullptr, inheritHandles, CREATE_SUSPENDED,
                               nullptr, nullptr, startup ? startup : &defaults, &pi),
                        pi);
}

}  // namespace

bool StartTiedProcess(std::string commandLine, PROCESS_INFORMATION& pi, STARTUPINFOA* startup,
                      BOOL inheritHandles) {
    return StartTied(CreateProcessA, commandLine, pi, startup, inheritHandles);
}

bool StartTiedProcess(std::wstring commandLine, PROCESS_INFORMATION& pi, STARTUPINFOW* startup,
                      BOOL inheritHandles) {
    return StartTied(CreateProcessW, commandLine, pi, startup, inheritHandles);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, bool pumpMessages) {
    // The tick count of a Wine process is a copy the server refreshes when it wakes, so two readings
    // can lie far apart with no time between them; the performance counter reads the clock itself.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        MSG msg;
        while (pumpMessages && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

std::vector<DWORD> CaptureScreen(int x, int y, int width, int height) {
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    plx::unique_hbitmap dib(CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (dib) {
        plx::select_object keep(memory, dib.get());
        BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
        GdiFlush();
        std::copy_n(static_cast<DWORD*>(bits), pixels.size(), pixels.begin());
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool WriteScreenBitmap(const std::string& path) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<DWORD> pixels = CaptureScreen(0, 0, width, height);
    // GDI leaves the fourth byte 0; a viewer would take it for full transparency.
    for (DWORD& pixel : pixels) pixel |= 0xFF000000u;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    const DWORD bytes = static_cast<DWORD>(pixels.size() * sizeof(DWORD));
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + bytes;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                         std::fwrite(&info, sizeof(info), 1, out) == 1 &&
                         std::fwrite(pixels.data(), bytes, 1, out) == 1;
    return std::fclose(out) == 0 && written;
}

bool WriteTextFile(const std::string& path, const std::string& contents) {
    FILE* f = _wfopen(plx::ToWide(path).c_str(), L"wb");
    if (!f) return false;
    const bool ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
    return std::fclose(f) == 0 && ok;
}

std::string ReadTextFile(const std::string& path) {
    std::string out;
    FILE* f = _wfopen(plx::ToWide(path).c_str(), L"rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

TempDirectory::TempDirectory() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    static LONG counter = 0;
    char name[MAX_PATH];
    std::snprintf(name, sizeof(name), "%splx%lu_%ld", base, GetCurrentProcessId(),
                  InterlockedIncrement(&counter));
    CreateDirectoryA(name, nullptr);
    path_ = name;
}

TempDirectory::~TempDirectory() { RemoveTree(path_); }

namespace {

// Wide throughout: a name without an ANSI form would read back as another name, or not at all.
void RemoveTreeW(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTreeW(full);
            else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(full.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

void RemoveTree(const std::string& path) {
    std::wstring wide(path.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    if (n <= 0) return;
    wide.resize(n - 1);
    RemoveTreeW(wide);
}

void EmptyDesktopFolders() {
    for (const std::string& dir : {UserDesktopDirectory(), CommonDesktopDirectory()}) {
        if (dir.empty()) continue;
        RemoveTree(dir);
        CreateDirectoryA(dir.c_str(), nullptr);
    }
}

namespace {

std::string UnixPath(const std::string& path) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix =
        reinterpret_cast<ToUnix>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    const std::wstring wide(path.begin(), path.end());  // the test's paths are plain ASCII
    char* unix = toUnix ? toUnix(wide.c_str()) : nullptr;
    if (!unix) return {};
    std::string out = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return out;
}

// Starts a Unix program, which Wine runs from its Unix path. Wine does not follow such a process:
// its handle may be signalled before the program ends, so callers wait for its effect instead.
bool StartUnixTool(const char* dosPath, std::string commandLine) {
    STARTUPINFOA si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(dosPath, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}

bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool MakeDirectoryLink(const std::string& link, const std::string& target) {
    const std::string unixLink = UnixPath(link), unixTarget = UnixPath(target);
    if (unixLink.empty() || unixTarget.empty()) return false;
    return StartUnixTool("Z:\\bin\\ln", "/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") &&
           WaitUntil([&] { return IsLink(link); });
}

bool RemoveDirectoryLink(const std::string& link) {
    const std::string unixLink = UnixPath(link);
    if (unixLink.empty() || !IsLink(link)) return false;
    return StartUnixTool("Z:\\bin\\rm", "/bin/rm \"" + unixLink + "\"") &&
           WaitUntil([&] { return GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

bool RenameFromUnix(const std::string& from, const std::string& to) {
    const std::string unixFrom = UnixPath(from), unixTo = UnixPath(to);
    if (unixFrom.empty() || unixTo.empty()) return false;
    return StartUnixTool("Z:\\bin\\mv", "/bin/mv \"" + unixFrom + "\" \"" + unixTo + "\"") &&
           WaitUntil([&] { return GetFileAttributesA(from.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

bool OnWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

namespace {

std::string SecuritySddl(const std::string& path, SECURITY_INFORMATION which) {
    plx::unique_hfile file(CreateFileA(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!file || GetSecurityInfo(file.get(), SE_FILE_OBJECT, which, nullptr, nullptr, nullptr, nullptr,
                                 &descriptor) != ERROR_SUCCESS)
        return {};
    LPSTR text = nullptr;
    std::string sddl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, which, &text,
                                                             nullptr))
        sddl = text;
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

std::string DriveLink(const std::string& drive) {
    char prefix[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix)) || drive.size() != 2) return {};
    std::string letter = drive;
    letter[0] = static_cast<char>(tolower(static_cast<unsigned char>(letter[0])));
    return std::string(prefix) + "/dosdevices/" + letter;
}

}  // namespace

std::string SecuritySddl(const std::string& path) {
    return SecuritySddl(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
}

bool GiveToAnotherUser(const std::string& path) {
    const std::string before = SecuritySddl(path, OWNER_SECURITY_INFORMATION);
    PSID other = nullptr;
    if (before.empty() || !ConvertStringSidToSidA("S-1-5-21-1004336348-1177238915-682003330-1001", &other))
        return false;
    plx::unique_hfile file(CreateFileA(path.c_str(), WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file)
        SetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, other, nullptr, nullptr,
                        nullptr);
    LocalFree(other);
    const auto changed = [&] { return SecuritySddl(path, OWNER_SECURITY_INFORMATION) != before; };
    if (changed()) return true;
    const std::string unixPath = UnixPath(path);
    return !unixPath.empty() && StartUnixTool("Z:\\bin\\chown", "/bin/chown 1001 \"" + unixPath + "\"") &&
           WaitUntil(changed);
}

bool MapDrive(const std::string& drive, const std::string& folder) {
    const std::string link = DriveLink(drive), target = UnixPath(folder);
    if (link.empty() || target.empty()) return false;
    // Wine reads its drives again at most once a second: until then it names the folder by the drive
    // it lies on, and a module on the new drive would find its store there.
    const std::wstring root = plx::ToWide(drive + "\\");
    const auto namedByDrive = [&] {
        plx::unique_hfile handle(CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        wchar_t final[MAX_PATH] = {};
        return handle && GetFinalPathNameByHandleW(handle.get(), final, MAX_PATH, VOLUME_NAME_DOS) > 0 &&
               plx::CompareNoCaseOrdinal(std::wstring(final), L"\\\\?\\" + root) == 0;
    };
    return StartUnixTool("Z:\\bin\\ln", "/bin/ln -s \"" + target + "\" \"" + link + "\"") &&
           WaitUntil(namedByDrive);
}

bool UnmapDrive(const std::string& drive) {
    const std::string link = DriveLink(drive);
    if (link.empty()) return false;
    return StartUnixTool("Z:\\bin\\rm", "/bin/rm -f \"" + link + "\"") &&
           WaitUntil([&] { return GetFileAttributesA((drive + "\\").c_str()) == INVALID_FILE_ATTRIBUTES; });
}

bool SetScreenSize(int width, int height) {
    DEVMODEA mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    // Stored, as a user's change in the display settings is: a change that is not stored is a
    // program's temporary mode, which the product leaves alone.
    return ChangeDisplaySettingsExA(nullptr, &mode, nullptr, CDS_UPDATEREGISTRY, nullptr) ==
           DISP_CHANGE_SUCCESSFUL;
}

bool SetKeyRules(HKEY key, const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return rc == ERROR_SUCCESS;
}

std::string InCodePageBestFit(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string ansi(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], bytes, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(bytes) - 1);
    return ansi;
}

std::string InCodePage(const std::wstring& text) {
    BOOL lossy = FALSE;
    const int bytes =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (bytes <= 0 || lossy) return {};
    std::string ansi(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, &ansi[0], bytes, nullptr, &lossy);
    ansi.resize(static_cast<size_t>(bytes) - 1);
    return lossy ? std::string() : ansi;
}

}  // namespace testbed

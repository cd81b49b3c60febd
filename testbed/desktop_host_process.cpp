// commctrl.h needs windows.h before it.
// clang-format off
#include "testbed/desktop_host_process.h"
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/desktop_listview.h"
#include "testbed/testbed.h"
#include "testbed/desktop_host.h"

namespace testbed {

namespace {

struct FindContext {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindProgmanOf(HWND hwnd, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindContext*>(lp);
    char cls[64];
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == ctx->pid && GetClassNameA(hwnd, cls, sizeof(cls)) && !std::strcmp(cls, "Progman")) {
        ctx->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

const IconState* HostReport::Find(const std::string& label) const {
    for (const IconState& icon : icons)
        if (icon.label == label) return &icon;
    return nullptr;
}

DesktopHostProcess::~DesktopHostProcess() { Stop(); }

bool DesktopHostProcess::Start(const std::string& arguments) {
    std::string command = "\"" + ExeDirectory() + "\\desktophost.exe\" " + arguments;
    // Starting the stand-in is not under test; a start Wine refuses once (seen on a loaded machine) is
    // tried again, and a refusal is reported with its cause.
    bool started = false;
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
        started = StartTiedProcess(command, pi_);
        if (!started) std::fprintf(stderr, "desktophost.exe did not start: error %lu\n", GetLastError());
    }
    if (!started) return false;
    const bool up = WaitUntil([&] {
        FindContext ctx = {pi_.dwProcessId, nullptr};
        EnumWindows(FindProgmanOf, reinterpret_cast<LPARAM>(&ctx));
        if (!ctx.found) return false;
        HWND list = plx::FindDesktopListView();
        DWORD pid = 0;
        if (list) GetWindowThreadProcessId(list, &pid);
        if (pid != pi_.dwProcessId) return false;
        progman_ = ctx.found;
        listView_ = list;
        return true;
    });
    if (!up) {
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        std::fprintf(stderr, "desktophost.exe showed no desktop (exit code %lu)\n", code);
        Stop();
    }
    return up;
}

void DesktopHostProcess::Stop() {
    if (!pi_.hProcess) return;
    if (progman_) PostMessageA(progman_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 1);
    Release();
}

void DesktopHostProcess::Kill() {
    if (!pi_.hProcess) return;
    TerminateProcess(pi_.hProcess, 1);
    Release();
}

void DesktopHostProcess::Release() {
    WaitForSingleObject(pi_.hProcess, 5000);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    pi_ = {};
    progman_ = nullptr;
    listView_ = nullptr;
}

bool DesktopHostProcess::RequestReport(ULONG_PTR request, std::string& text) const {
    TempDirectory dir;
    std::string path = dir.path() + "\\report.txt";
    COPYDATASTRUCT data = {request, static_cast<DWORD>(path.size() + 1), const_cast<char*>(path.c_str())};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(progman_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK, 10000,
                             &result) ||
        !result)
        return false;
    text = ReadTextFile(path);
    return true;
}

bool DesktopHostProcess::Report(HostReport& report) const {
    std::string text;
    if (!RequestReport(desktophost::kRequestReport, text)) return false;
    report = HostReport();
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first) {
            unsigned long style = 0, ex = 0;
            int relayouts = 0;
            if (std::sscanf(line.c_str(), "styles %lx %lx %d", &style, &ex, &relayouts) < 2) return false;
            report.style = style;
            report.exStyle = ex;
            report.relayouts = relayouts;
            first = false;
            continue;
        }
        // x, y, the bounds and the label, split at tabs.
        size_t t1 = line.find('\t');
        size_t t2 = line.find('\t', t1 + 1);
        size_t t3 = line.find('\t', t2 + 1);
        if (t1 == std::string::npos || t2 == std::string::npos || t3 == std::string::npos) return false;
        IconState icon;
        icon.x = std::atoi(line.substr(0, t1).c_str());
        icon.y = std::atoi(line.substr(t1 + 1, t2 - t1 - 1).c_str());
        RECT& b = icon.bounds;
        if (std::sscanf(line.c_str() + t2 + 1, "%ld %ld %ld %ld", &b.left, &b.top, &b.right, &b.bottom) != 4)
            return false;
        icon.label = line.substr(t3 + 1);
        report.icons.push_back(icon);
    }
    return !first;
}

bool DesktopHostProcess::WaitForIcon(const std::string& label, bool present, DWORD timeoutMs) const {
    return WaitUntil(
        [&] {
            HostReport report;
            return Report(report) && (report.Find(label) != nullptr) == present;
        },
        timeoutMs);
}

}  // namespace testbed

namespace testbed {

bool DesktopHostProcess::MoveIcon(const std::string& label, int x, int y) const {
    HostReport report;
    if (!Report(report)) return false;
    for (size_t i = 0; i < report.icons.size(); ++i) {
        if (report.icons[i].label != label) continue;
        return SendMessageA(listView_, LVM_SETITEMPOSITION, i, MAKELPARAM(x, y)) != 0;
    }
    return false;
}

LONG_PTR DesktopHostProcess::CallExportInside(const std::string& modulePath, const std::string& exportName,
                                              int count) const {
    std::string request = modulePath;
    request.push_back('\0');
    request += exportName;
    request.push_back('\0');
    request += std::to_string(count);
    COPYDATASTRUCT data = {desktophost::kRequestCallExport, static_cast<DWORD>(request.size() + 1),
                           const_cast<char*>(request.c_str())};
    return SendMessageA(progman_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

bool DesktopHostProcess::Freeze(DWORD milliseconds) const {
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(progman_, desktophost::kFreezeMessage, milliseconds, 0, SMTO_NORMAL, 10000,
                               &answer) != 0;
}

}  // namespace testbed

namespace testbed {

bool DesktopHostProcess::RightClickBackground(POINT client) const {
    POINT screen = client;
    ClientToScreen(listView_, &screen);
    return PostMessageA(listView_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(listView_),
                        MAKELPARAM(screen.x, screen.y)) != FALSE;
}

HWND DesktopHostProcess::WaitForPopupMenu(DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND menu = FindWindowExA(nullptr, nullptr, "#32768", nullptr); menu;
                 menu = FindWindowExA(nullptr, menu, "#32768", nullptr)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(menu, &pid);
                if (pid == pi_.dwProcessId && IsWindowVisible(menu)) {
                    found = menu;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool DesktopHostProcess::MenuReport(std::vector<std::vector<std::string>>& lines) const {
    std::string text;
    if (!RequestReport(desktophost::kRequestMenuReport, text)) return false;
    lines.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields;
        size_t start = pos;
        for (;;) {
            const size_t tab = text.find('\t', start);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(text.substr(start, end - start));
                break;
            }
            fields.push_back(text.substr(start, tab - start));
            start = tab + 1;
        }
        lines.push_back(std::move(fields));
        pos = end + 1;
    }
    return true;
}

namespace {

const std::vector<std::string>* FindChosen(const std::vector<std::vector<std::string>>& lines) {
    for (const auto& line : lines)
        if (line.size() > 1 && line[0] == "chosen") return &line;
    return nullptr;
}

}  // namespace

bool DesktopHostProcess::PickFromMenu(POINT at, const std::string& text,
                                      const std::function<void()>& beforeChoosing) const {
    if (!RightClickBackground(at)) return false;
    HWND popup = WaitForPopupMenu();
    std::vector<std::vector<std::string>> lines;
    if (!popup || !MenuReport(lines)) return false;
    // Down from no selection reaches the first item, and the arrow keys pass over separators only;
    // Right opens the submenu at its first item.
    int topDowns = 0;
    int subDowns = -1;
    bool inTop = false;
    bool found = false;
    std::string wanted;
    for (const auto& line : lines) {
        if (line[0] != "item" || line.size() < 7) continue;
        const bool separator = std::stoul(line[5], nullptr, 16) & MFT_SEPARATOR;
        if (line[1] == "0") {
            if (found) break;
            inTop = (std::stoul(line[5], nullptr, 16) & MFT_OWNERDRAW) != 0;
            if (!separator) ++topDowns;
        } else if (inTop && line[1] == "1" && !found) {
            if (!separator) ++subDowns;
            if (line[6] == text) {
                found = true;
                wanted = line[3];
            }
        }
    }
    if (!found) return false;
    for (int i = 0; i < topDowns; ++i) PostMessageA(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(popup, WM_KEYDOWN, VK_RIGHT, 0);
    for (int i = 0; i < subDowns; ++i) PostMessageA(popup, WM_KEYDOWN, VK_DOWN, 0);
    if (beforeChoosing) {
        // The keys are taken in order; the submenu is up once its own popup window shows.
        WaitUntil([&] {
            int shown = 0;
            for (HWND menu = FindWindowExA(nullptr, nullptr, "#32768", nullptr); menu;
                 menu = FindWindowExA(nullptr, menu, "#32768", nullptr)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(menu, &pid);
                shown += pid == pi_.dwProcessId && IsWindowVisible(menu);
            }
            return shown >= 2;
        });
        beforeChoosing();
    }
    PostMessageA(popup, WM_CHAR, '\r', 0);
    return WaitUntil([&] { return MenuReport(lines) && FindChosen(lines); }) &&
           (*FindChosen(lines))[1] == wanted;
}

}  // namespace testbed

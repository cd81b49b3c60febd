// The keeper: one per user and session, started by the logon entry. It makes the logon restore, then
// waits on its window's messages and on one registry notification, and nothing else: no timer runs
// while nothing happens. What it reacts to:
//   "TaskbarCreated"    the shell started again: the agent is attached to the new shell's process
//                       (FollowShell), retried once a second while its desktop is not up yet, and the
//                       notification icon is added again;
//   the icon's messages its menu (Restore, Undo, Save, the profiles, the snapshots, "Keep the layout
//                       automatically", Help, Exit);
//   the product's key   changed (a profile activated, a snapshot kept, the icon switched off): the
//                       tooltip and the icon follow;
//   the session's end   WM_QUERYENDSESSION is agreed to, WM_ENDSESSION ends the keeper.
// Every call into the shell goes through the module's exports, whose waits are bounded: a hung shell
// holds the keeper no longer than it holds `orvane`.
#include "tools/orvane/keeper.h"

#include <windows.h>
#include <shellapi.h>
#include <windowsx.h>

#include <string>
#include <vector>

#include "dialogs/help.h"
#include "engine/channel.h"
#include "engine/desktop_listview.h"
#include "store/kept_positions.h"
#include "store/profile_tree.h"
#include "store/settings.h"
#include "store/snapshots.h"
#include "win32/boundary.h"
#include "win32/dpi.h"
#include "win32/module.h"
#include "win32/registry.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace orvane {

namespace {

constexpr UINT kIconMessage = WM_APP + 1;
constexpr UINT kIconId = 1;
constexpr UINT_PTR kFollowTimer = 1;
// A shell that restarts shows its desktop within seconds; after a minute the keeper stops asking and
// waits for the next "TaskbarCreated".
constexpr UINT kFollowRetryMs = 1000;
constexpr int kFollowAttempts = 60;
// The menu lists the snapshots kept within these last hours.
constexpr LONGLONG kSnapshotMenuHours = 12;

enum MenuCommand : UINT {
    kRestoreCommand = 1,
    kUndoCommand,
    kSaveCommand,
    kKeepLayoutCommand,
    kHelpCommand,
    kExitCommand,
    kProfileCommandBase = 0x100,   // + the profile's place in the menu
    kSnapshotCommandBase = 0x800,  // + the snapshot's number
};

// The menu's texts, each with its access key (the profiles' names have none).
constexpr wchar_t kRestoreText[] = L"&Restore Icon Positions";
constexpr wchar_t kUndoText[] = L"&Undo";
constexpr wchar_t kSaveText[] = L"&Save Active Profile";
constexpr wchar_t kSnapshotsText[] = L"&Layout as Last Seen";
constexpr wchar_t kKeepLayoutText[] = L"&Keep the layout automatically";
constexpr wchar_t kHelpText[] = L"&Help";
constexpr wchar_t kExitText[] = L"E&xit";

using ActionExport = HRESULT(WINAPI*)(HWND owner, BOOL quiet);
using SnapshotExport = HRESULT(WINAPI*)(HWND owner, BOOL quiet, UINT number);

// A profile's name as a menu shows it: an "&" in it is a character, not an access key.
std::wstring MenuText(const std::string& name) {
    std::wstring text;
    for (wchar_t c : plx::ToWide(name)) {
        if (c == L'&') text += L'&';
        text += c;
    }
    return text;
}

ULONGLONG FileTimeValue(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// "14:05:31 (23 icons)", in the user's local time and time format.
std::wstring SnapshotText(const plx::SnapshotInfo& snapshot) {
    FILETIME local = {};
    SYSTEMTIME when = {};
    wchar_t time[64] = L"?";
    if (FileTimeToLocalFileTime(&snapshot.time, &local) && FileTimeToSystemTime(&local, &when))
        GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &when, nullptr, time, ARRAYSIZE(time));
    return std::wstring(time) + L" (" + std::to_wstring(snapshot.icons) +
           (snapshot.icons == 1 ? L" icon)" : L" icons)");
}

class Keeper {
public:
    explicit Keeper(HMODULE module) : module_(module) {}

    int Run();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    HRESULT Call(const char* exportName, BOOL quiet) const;
    void StartFollowing();
    void TryToFollow();

    void WatchSettings();
    void ShowOrHideIcon();
    void LoadIconForDpi();
    bool SetIcon(DWORD operation);
    void RemoveIcon();

    void ShowMenu(POINT at);
    void Choose(UINT command);

    HMODULE module_;
    HWND window_ = nullptr;
    UINT taskbarCreated_ = 0;
    int followAttemptsLeft_ = 0;
    bool iconShown_ = false;
    plx::unique_hicon icon_;
    plx::unique_hkey settingsKey_;
    plx::unique_handle settingsChanged_;
    // What the menu last shown offered: the arrangement it was built for and its profiles' names.
    plx::ScreenSize menuSize_;
    std::vector<std::string> menuProfiles_;
};

HRESULT Keeper::Call(const char* exportName, BOOL quiet) const {
    const auto action = reinterpret_cast<ActionExport>(GetProcAddress(module_, exportName));
    return action ? action(window_, quiet) : E_NOTIMPL;
}

void Keeper::StartFollowing() {
    followAttemptsLeft_ = kFollowAttempts;
    TryToFollow();
}

// The new shell's desktop may come some seconds after its taskbar: while it has no list view yet, or
// FollowShell fails, it is asked again a second later. The icons need not be there: the agent waits
// for them to come and stop moving.
void Keeper::TryToFollow() {
    KillTimer(window_, kFollowTimer);
    if (followAttemptsLeft_ <= 0) return;
    --followAttemptsLeft_;
    if (plx::FindDesktopListView() && Call("FollowShell", TRUE) == S_OK) {
        followAttemptsLeft_ = 0;
        return;
    }
    if (followAttemptsLeft_ > 0) SetTimer(window_, kFollowTimer, kFollowRetryMs, nullptr);
}

// One notification for any change under the product's key (the user's options, the current
// profiles, the snapshots); asked for again each time it fires.
void Keeper::WatchSettings() {
    if (!settingsKey_) settingsKey_ = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
    if (!settingsChanged_) settingsChanged_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!settingsKey_ || !settingsChanged_) return;
    RegNotifyChangeKeyValue(settingsKey_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                            settingsChanged_.get(), TRUE);
}

// The small icon's size at the DPI of the notification area's monitor: the taskbar window is on it
// and is aware of its monitor's DPI.
void Keeper::LoadIconForDpi() {
    const UINT dpi = plx::WindowDpi(FindWindowW(L"Shell_TrayWnd", nullptr));
    const int width = plx::SystemMetricForDpi(SM_CXSMICON, dpi);
    const int height = plx::SystemMetricForDpi(SM_CYSMICON, dpi);
    icon_.reset(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                              width, height, LR_DEFAULTCOLOR)));
}

bool Keeper::SetIcon(DWORD operation) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window_;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    data.uCallbackMessage = kIconMessage;
    data.hIcon = icon_.get();
    const plx::ProfileName profile = plx::GetCurrentProfile(plx::GetScreenSize());
    const std::wstring tip = plx::ToWide(PLAXEN_PRODUCT_TITLE " - " + profile.Text());
    lstrcpynW(data.szTip, tip.c_str(), ARRAYSIZE(data.szTip));
    if (!Shell_NotifyIconW(operation, &data)) return false;
    if (operation != NIM_ADD) return true;
    // Version 4: a right-click comes as WM_CONTEXTMENU and a click as NIN_SELECT, with the place to open
    // the menu at.
    data.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &data);
    return true;
}

void Keeper::RemoveIcon() {
    if (!iconShown_) return;
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window_;
    data.uID = kIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
    iconShown_ = false;
}

// The icon is on unless the user (or a policy) switched it off; its tooltip names the active profile.
// Without a notification area (the shell not up yet) it is added at the next "TaskbarCreated".
void Keeper::ShowOrHideIcon() {
    if (!plx::ReadSwitch(plx::kNotifyIconValue, true)) {
        RemoveIcon();
        return;
    }
    if (!icon_) LoadIconForDpi();
    if (iconShown_ && SetIcon(NIM_MODIFY)) return;
    iconShown_ = SetIcon(NIM_ADD);
}

void Keeper::ShowMenu(POINT at) {
    plx::unique_hmenu menu(CreatePopupMenu());
    plx::unique_hmenu snapshots(CreatePopupMenu());
    if (!menu || !snapshots) return;
    menuSize_ = plx::GetScreenSize();
    AppendMenuW(menu.get(), MF_STRING, kRestoreCommand, kRestoreText);
    // Undo is offered only while there is something to undo at this arrangement.
    AppendMenuW(menu.get(), MF_STRING | (plx::ReadKeptPositions(menuSize_) ? MF_ENABLED : MF_GRAYED),
                kUndoCommand, kUndoText);
    AppendMenuW(menu.get(), MF_STRING, kSaveCommand, kSaveText);

    menuProfiles_.clear();
    const plx::ProfileName current = plx::GetCurrentProfile(menuSize_);
    const plx::ProfileNameSet profiles = plx::ListProfiles(menuSize_);
    if (!profiles.empty()) AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    for (const std::string& name : profiles) {
        const UINT command = kProfileCommandBase + static_cast<UINT>(menuProfiles_.size());
        if (command >= kSnapshotCommandBase) break;
        menuProfiles_.push_back(name);
        const bool active = plx::CompareProfileNames(name, current.Text()) == 0;
        AppendMenuW(menu.get(), MF_STRING | MFT_RADIOCHECK | (active ? MF_CHECKED : MF_UNCHECKED), command,
                    MenuText(name).c_str());
    }

    // Snapshots kept within the last hours, newest first; restoring one needs the module's export.
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG oldest = FileTimeValue(now) - kSnapshotMenuHours * 3600 * 10000000ULL;
    const bool restorable = GetProcAddress(module_, "RestoreSnapshot") != nullptr;
    int listed = 0;
    for (const plx::SnapshotInfo& snapshot : plx::ListSnapshots(menuSize_)) {
        if (FileTimeValue(snapshot.time) < oldest) continue;
        AppendMenuW(snapshots.get(), MF_STRING | (restorable ? MF_ENABLED : MF_GRAYED),
                    kSnapshotCommandBase + snapshot.number, SnapshotText(snapshot).c_str());
        ++listed;
    }
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    // The menu owns the submenu from here on, also when it stays empty and greyed.
    AppendMenuW(menu.get(), MF_POPUP | (listed ? MF_ENABLED : MF_GRAYED),
                reinterpret_cast<UINT_PTR>(snapshots.release()), kSnapshotsText);
    AppendMenuW(menu.get(), MF_STRING | (plx::KeepLayoutAutomatically() ? MF_CHECKED : MF_UNCHECKED),
                kKeepLayoutCommand, kKeepLayoutText);
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, kHelpCommand, kHelpText);
    AppendMenuW(menu.get(), MF_STRING, kExitCommand, kExitText);

    // A notification icon's menu closes when the user clicks elsewhere only when its window is in the
    // foreground, and the message after it lets the next click open it again (Shell_NotifyIcon's
    // documentation).
    SetForegroundWindow(window_);
    const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    const UINT command =
        TrackPopupMenuEx(menu.get(), align | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY,
                         at.x, at.y, window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
    if (command) Choose(command);
}

void Keeper::Choose(UINT command) {
    switch (command) {
        case kRestoreCommand:
            Call("RestoreIconPositions", FALSE);
            return;
        case kUndoCommand:
            Call("UndoIconPositions", FALSE);
            return;
        case kSaveCommand:
            Call("SaveCurrentProfile", FALSE);
            return;
        case kKeepLayoutCommand:
            plx::SetKeepLayoutAutomatically(!plx::KeepLayoutAutomatically());
            return;
        case kHelpCommand:
            plx::ShowHelp(window_, plx::kHelpKeeperTopic);
            return;
        case kExitCommand:
            DestroyWindow(window_);
            return;
        default:
            break;
    }
    // A profile or snapshot of the arrangement the menu was built for: after a display change meanwhile
    // it would be another arrangement's, so nothing is done.
    if (plx::GetScreenSize() != menuSize_) return;
    if (command >= kSnapshotCommandBase) {
        const auto restore = reinterpret_cast<SnapshotExport>(GetProcAddress(module_, "RestoreSnapshot"));
        if (restore) restore(window_, FALSE, command - kSnapshotCommandBase);
        return;
    }
    const size_t index = command - kProfileCommandBase;
    if (index >= menuProfiles_.size()) return;
    // As the desktop menu's "Select Active Profile": the profile becomes current, then it is activated.
    const std::optional<plx::ProfileName> name = plx::ProfileName::From(menuProfiles_[index]);
    if (name && plx::SetCurrentProfile(menuSize_, *name)) Call("ActivateCurrentProfile", FALSE);
}

LRESULT Keeper::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_ && message != 0) {
        // The notification area is new: the icon is added again, at its monitor's DPI.
        iconShown_ = false;
        icon_.reset();
        ShowOrHideIcon();
        StartFollowing();
        return 0;
    }
    switch (message) {
        case kIconMessage:
            switch (LOWORD(lParam)) {
                case WM_CONTEXTMENU:
                case NIN_SELECT:
                case NIN_KEYSELECT:
                    ShowMenu({GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)});
                    return 0;
            }
            return 0;
        case WM_TIMER:
            if (wParam == kFollowTimer) TryToFollow();
            return 0;
        case WM_DISPLAYCHANGE:
            // Another arrangement, perhaps another scale: the icon's size and the profile named.
            icon_.reset();
            ShowOrHideIcon();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam) DestroyWindow(window_);
            return 0;
        case WM_CLOSE:
            DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            KillTimer(window_, kFollowTimer);
            RemoveIcon();
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK Keeper::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* keeper = static_cast<Keeper*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        keeper->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(keeper));
    }
    auto* keeper = reinterpret_cast<Keeper*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!keeper) return DefWindowProcW(window, message, wParam, lParam);
    return plx::CallAtBoundary(LRESULT(0), [&] { return keeper->Handle(message, wParam, lParam); });
}

int Keeper::Run() {
    WNDCLASSEXW windowClass = {sizeof(windowClass)};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kKeeperWindowClass;
    if (!RegisterClassExW(&windowClass)) return 1;
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    // A top-level window, never shown: broadcasts and the session's end reach only top-level windows,
    // not message-only ones.
    if (!CreateWindowExW(WS_EX_TOOLWINDOW, kKeeperWindowClass, kKeeperWindowClass, WS_POPUP, 0, 0, 0, 0,
                         nullptr, nullptr, windowClass.hInstance, this))
        return 1;
    // A keeper that runs elevated still hears the shell's broadcast (Windows filters messages from
    // processes of a lower integrity level otherwise).
    ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
    WatchSettings();
    ShowOrHideIcon();
    for (;;) {
        HANDLE changed = settingsChanged_.get();
        const DWORD wait = MsgWaitForMultipleObjectsEx(changed ? 1 : 0, changed ? &changed : nullptr,
                                                       INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (changed && wait == WAIT_OBJECT_0) {
            WatchSettings();
            ShowOrHideIcon();
            continue;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace

int Keep(HMODULE module, bool quiet, long waitSeconds) {
    const BOOL quietFlag = quiet ? TRUE : FALSE;
    const auto restoreStartup =
        reinterpret_cast<ActionExport>(GetProcAddress(module, "RestoreStartupIconPositions"));
    if (!restoreStartup) return 1;
    // The help and everything the module's name leads to are the module's, not this program's.
    plx::SetModuleInstance(module);
    // Switched off (by the user or a policy), the keeper makes the logon restore and ends.
    if (!plx::ReadSwitch(plx::kKeeperValue, true)) {
        if (waitSeconds >= 0 && !WaitForDesktop(waitSeconds)) return 1;
        return restoreStartup(nullptr, quietFlag) == S_OK ? 0 : 1;
    }
    bool existed = false;
    const plx::unique_handle single = plx::CreateUserMutex(kKeeperMutexName, existed);
    // Another keeper of this user keeps the session already (or another user took the name).
    if (!single || existed) return single ? 0 : 1;
    if (waitSeconds < 0 || WaitForDesktop(waitSeconds)) restoreStartup(nullptr, quietFlag);
    Keeper keeper(module);
    return keeper.Run();
}

}  // namespace orvane

#include "shell/context_menu.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "win32/module.h"
#include "engine/action_gate.h"
#include "engine/channel.h"
#include "engine/desktop_listview.h"
#include "resources/resource.h"
#include "shell/commands.h"
#include "dialogs/help.h"
#include "store/profile_tree.h"
#include "layout/resolution.h"
#include "win32/boundary.h"
#include "win32/dpi.h"
#include "win32/message_box.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// One menu at a time in the shell's process; these belong to the module, not to a handler object.
// The command map is used only on the desktop's thread, where Initialize admits the menu.
std::map<UINT, UINT> commandMap;  // menu command id -> command code

// Shared by every handler object on every thread, so changed only under this lock.
SRWLOCK sharedStateLock = SRWLOCK_INIT;
HWND subclassedWindow = nullptr;
// Every handler object draws with the same icon: it goes with the last object, not with the first
// one to be destroyed while another still shows its menu. Loaded again when a menu needs another size.
HICON menuIcon = nullptr;
int menuIconSize = 0;
int menuIconUsers = 0;

class SharedStateGuard {
public:
    SharedStateGuard() { AcquireSRWLockExclusive(&sharedStateLock); }
    ~SharedStateGuard() { ReleaseSRWLockExclusive(&sharedStateLock); }
    SharedStateGuard(const SharedStateGuard&) = delete;
    SharedStateGuard& operator=(const SharedStateGuard&) = delete;
};

constexpr UINT_PTR kSubclassId = kTopItemData;

// Sizes at 96 DPI, scaled by the DPI of the window that owns the menu.
constexpr int kMinItemHeight = 22;
constexpr int kTextLeft = 21;
constexpr int kIconLeft = 2;
constexpr int kIconSize = 16;
constexpr int kTextRightMargin = 5;
constexpr UINT kEnabled = MF_ENABLED;
constexpr UINT kGrayed = MF_GRAYED;

int ItemHeight(UINT dpi) {
    return std::max(SystemMetricForDpi(SM_CYMENU, dpi), ScaleToDpi(kMinItemHeight, dpi));
}

HICON LoadMenuIcon(int size) {
    return static_cast<HICON>(
        LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDI_PLAXEN), IMAGE_ICON, size, size, 0));
}

bool MeasureTopItem(HWND window, MEASUREITEMSTRUCT& item) {
    const UINT dpi = WindowDpi(window);
    item.itemHeight = ItemHeight(dpi);
    const std::wstring caption = ToWide(kTopItemCaption);
    const int length = static_cast<int>(caption.size());
    item.itemWidth = ScaleToDpi(8 * length + kTextLeft, dpi);
    LOGFONTW face = {};
    if (!MenuFontForDpi(dpi, face)) return true;
    unique_hfont font(CreateFontIndirectW(&face));
    if (!font) return true;
    HDC screen = GetDC(nullptr);
    if (!screen) return true;
    {
        select_object selected(screen, font.get());
        SIZE size = {};
        // The caption is drawn after the icon, so the item must hold the icon's place as well:
        // the measured width alone lets the submenu arrow cover the caption's end.
        if (GetTextExtentPoint32W(screen, caption.c_str(), length, &size))
            item.itemWidth = ScaleToDpi(kTextLeft, dpi) + size.cx + ScaleToDpi(kTextRightMargin, dpi);
    }
    ReleaseDC(nullptr, screen);
    return true;
}

void DrawMenuIcon(HDC dc, int x, int y, int size) {
    SharedStateGuard guard;
    if (menuIconUsers == 0) return;
    if (!menuIcon || menuIconSize != size) {
        if (HICON icon = LoadMenuIcon(size)) {
            if (menuIcon) DestroyIcon(menuIcon);
            menuIcon = icon;
            menuIconSize = size;
        }
    }
    // Drawn at the size asked for: an icon loaded for another size is stretched rather than lost.
    if (menuIcon) DrawIconEx(dc, x, y, menuIcon, size, size, 0, nullptr, DI_NORMAL | DI_COMPAT);
}

void DrawTopItem(HWND window, const DRAWITEMSTRUCT& item) {
    const UINT dpi = WindowDpi(window);
    HDC dc = item.hDC;
    if (item.itemAction & ODA_SELECT) {
        unique_any<HPEN, delete_gdi> nullPen(CreatePen(PS_NULL, 0, 0));
        select_object pen(dc, nullPen.get());
        int brushColor = COLOR_MENU;
        if (item.itemState & ODS_SELECTED) {
            SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
            SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
            brushColor = COLOR_HIGHLIGHT;
        }
        // System colour brushes are shared and never deleted.
        select_object brush(dc, GetSysColorBrush(brushColor));
        Rectangle(dc, item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom);
    }
    const int iconSize = ScaleToDpi(kIconSize, dpi);
    DrawMenuIcon(dc, item.rcItem.left + ScaleToDpi(kIconLeft, dpi),
                 item.rcItem.top + (ItemHeight(dpi) - iconSize) / 2, iconSize);
    RECT text = item.rcItem;
    text.left = item.rcItem.left + ScaleToDpi(kTextLeft, dpi);
    DrawTextW(dc, ToWide(kTopItemCaption).c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER);
}

void ShowMenuItemHelp(HWND window, const HELPINFO& info) {
    UINT code = commandMap.at(static_cast<UINT>(info.iCtrlId));
    if (IsProfileCommand(code)) code = kFirstProfileCommand;
    ShowHelp(window, kHelpMenuBase + code);
}

bool HandleMenuMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_MEASUREITEM: {
            auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (wParam != 0 || !item || item->itemData != kTopItemData) return false;
            result = MeasureTopItem(window, *item);
            return true;
        }
        case WM_DRAWITEM: {
            auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (wParam != 0 || !item || item->itemData != kTopItemData) return false;
            DrawTopItem(window, *item);
            result = TRUE;
            return true;
        }
        case WM_HELP: {
            auto* info = reinterpret_cast<const HELPINFO*>(lParam);
            if (!info || info->iContextType != HELPINFO_MENUITEM || info->iCtrlId == 0) return false;
            if (commandMap.count(static_cast<UINT>(info->iCtrlId)) == 0) return false;
            ShowMenuItemHelp(window, *info);
            result = 1;
            return true;
        }
        default:
            return false;
    }
}

// A link of the window's subclass chain: whoever subclassed before or after us keeps its place, and
// the window stays Unicode.
LRESULT CALLBACK MenuSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR) {
    return CallAtBoundary<LRESULT>(0, [&]() -> LRESULT {
        LRESULT result = 0;
        if (HandleMenuMessage(window, message, wParam, lParam, result)) return result;
        return DefSubclassProc(window, message, wParam, lParam);
    });
}

void InstallMenuSubclass() {
    HWND listView = FindDesktopListView();
    if (!listView) return;
    HWND view = GetParent(listView);
    // A subclass can be set only from the thread that owns the window.
    if (!view || GetWindowThreadProcessId(view, nullptr) != GetCurrentThreadId()) return;
    SharedStateGuard guard;
    if (subclassedWindow) return;
    // A failed call leaves nothing in the chain; the next menu tries again.
    if (SetWindowSubclass(view, &MenuSubclassProc, kSubclassId, 0)) subclassedWindow = view;
}

// The commands after the profile submenu, from id on; each id goes into the command map with its code.
void AppendFixedItems(HMENU popup, UINT& id, bool canDelete, bool hasManual, bool hasStartup) {
    const struct {
        const wchar_t* text;  // null: a separator
        UINT code;
        bool enabled;
    } fixed[] = {
        {nullptr, 0, false},
        {L"Create Profile...", kCreateProfileCommand, true},
        {L"Edit Active Profile...", kEditActiveProfileCommand, true},
        {L"Delete Active Profile", kDeleteActiveProfileCommand, canDelete},
        {nullptr, 0, false},
        {L"Save Active Profile", kSaveActiveProfileCommand, true},
        {L"Save Active Profile As...", kSaveActiveProfileAsCommand, true},
        {nullptr, 0, false},
        {L"Restore Icon Positions", kRestorePositionsCommand, hasManual},
        {L"Restore Startup Icon Positions", kRestoreStartupPositionsCommand, hasStartup},
        {nullptr, 0, false},
        {L"Help", kHelpCommand, true},
        {L"About Orvane...", kAboutCommand, true},
    };
    for (const auto& item : fixed) {
        if (!item.text) {
            AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        AppendMenuW(popup, MF_STRING | (item.enabled ? kEnabled : kGrayed), id, item.text);
        commandMap[id] = item.code;
        ++id;
    }
}

MENUITEMINFOW SubmenuItem(UINT type, HMENU submenu) {
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_TYPE | MIIM_SUBMENU;
    info.fType = type;
    info.hSubMenu = submenu;
    return info;
}

}  // namespace

DesktopMenu::DesktopMenu() {
    SharedStateGuard guard;
    // At the system's DPI; a menu on a monitor of another DPI loads it again at its size.
    if (menuIconUsers++ == 0) {
        menuIconSize = ScaleToDpi(kIconSize, SystemDpi());
        menuIcon = LoadMenuIcon(menuIconSize);
    }
}

DesktopMenu::~DesktopMenu() {
    RemoveMenuSubclass();
    SharedStateGuard guard;
    if (--menuIconUsers == 0 && menuIcon) {
        DestroyIcon(menuIcon);
        menuIcon = nullptr;
    }
}

HRESULT DesktopMenu::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject*, HKEY) {
    // The desktop's own identifier list is the empty one.
    if (!folder || folder->mkid.cb != 0) return E_INVALIDARG;
    HWND listView = FindDesktopListView();
    if (!listView) return E_INVALIDARG;
    return GetWindowThreadProcessId(listView, nullptr) == GetCurrentThreadId() ? S_OK : E_INVALIDARG;
}

HRESULT DesktopMenu::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                      UINT flags) {
    const HRESULT nothing = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    CreateAgentWindow();
    // During a quiet period, an action or a held display, the menu is shown and nothing is acted on:
    // the end of the quiet period (or of the hold) follows the display then.
    if (DisplayChangesMayBeFollowedNow()) {
        ActionTurn turn(ActionOrigin::Automatic);
        if (turn.Held()) PrepareResolution(nullptr);
    }
    menuSize_ = GetScreenSize();
    if (flags & CMF_DEFAULTONLY) return nothing;
    // When nothing is added, no id of ours may reach InvokeCommand.
    auto addNothing = [&] {
        commandMap.clear();
        profileItemNames_.clear();
        return nothing;
    };

    firstCommandId_ = idCmdFirst;
    addNothing();
    // The shell hands out ids from idCmdFirst to idCmdLast; the fixed items come first, the profile
    // list is cut to what is left.
    const std::uint64_t room = idCmdLast >= idCmdFirst ? std::uint64_t(idCmdLast) - idCmdFirst + 1 : 0;
    if (room < kFixedItemCount) return addNothing();
    const size_t profileRoom =
        static_cast<size_t>(std::min<std::uint64_t>(room - kFixedItemCount, kMaxProfileItems));

    const ProfileName current = GetCurrentProfile(menuSize_);
    const bool hasManual = static_cast<bool>(OpenSlotKey(menuSize_, current, kManualSlot, KeyAccess::Read));
    const bool hasStartup = static_cast<bool>(OpenSlotKey(menuSize_, current, kStartupSlot, KeyAccess::Read));

    unique_hmenu popup(CreatePopupMenu());
    unique_hmenu profiles(CreatePopupMenu());
    if (!popup || !profiles) return addNothing();
    const ProfileNameSet names = ListProfiles(menuSize_);
    UINT id = idCmdFirst;
    for (const std::string& name : names) {
        if (profileItemNames_.size() == profileRoom) break;
        const UINT state = SameProfileName(name, current.Text()) ? MF_CHECKED | MF_DISABLED : MF_STRING;
        AppendMenuW(profiles.get(), state, id, ToWide(MenuItemText(name)).c_str());
        commandMap[id] = kFirstProfileCommand + static_cast<UINT>(profileItemNames_.size());
        profileItemNames_.push_back(name);
        ++id;
    }

    MENUITEMINFOW select = SubmenuItem(MFT_STRING, profiles.get());
    wchar_t selectText[] = L"Select Active Profile";
    select.dwTypeData = selectText;
    if (!InsertMenuItemW(popup.get(), 0, TRUE, &select)) return addNothing();
    profiles.release();  // destroyed with the popup from now on

    AppendFixedItems(popup.get(), id, names.size() >= 2, hasManual, hasStartup);

    UINT position = indexMenu;
    if (indexMenu == 0xFFFFFFFF) {
        const int count = GetMenuItemCount(menu);
        position = count > 0 ? static_cast<UINT>(count - 1) : 0;
    }
    MENUITEMINFOW top = SubmenuItem(MFT_OWNERDRAW, popup.get());
    top.fMask |= MIIM_DATA;
    top.dwItemData = kTopItemData;
    if (!InsertMenuItemW(menu, position, TRUE, &top)) return addNothing();
    popup.release();  // the shell's menu owns it now

    InstallMenuSubclass();
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, id - idCmdFirst);
}

HRESULT DesktopMenu::InvokeCommand(const CMINVOKECOMMANDINFO* info) {
    RemoveMenuSubclass();
    if (!info) return E_INVALIDARG;
    // A verb given as a string; IS_INTRESOURCE also looks at the bits above the low 32 of a pointer.
    if (!IS_INTRESOURCE(info->lpVerb)) return E_INVALIDARG;
    const UINT offset = LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb));
    const auto entry = commandMap.find(firstCommandId_ + offset);
    if (entry == commandMap.end()) return E_INVALIDARG;
    const UINT code = entry->second;
    // Every command, its dialogs included, is one action at the gate: a display change that settles
    // meanwhile waits for it.
    ActionTurn turn(ActionOrigin::Asked);
    if (!turn.Held()) {
        ShowMessageUnlessQuiet(info->hwnd, FALSE, kNoAgentMessage, MB_ICONERROR);
        return S_OK;
    }
    if (IsProfileCommand(code)) {
        const size_t index = code - kFirstProfileCommand;
        if (index < profileItemNames_.size()) SelectProfile(info->hwnd, menuSize_, profileItemNames_[index]);
        return S_OK;
    }
    return RunFixedCommand(code, info->hwnd) ? S_OK : E_INVALIDARG;
}

HRESULT DesktopMenu::GetCommandString(UINT_PTR, UINT type, UINT*, LPSTR name, UINT cchMax) {
    // The commands have neither verbs nor help texts: a host that asks for one with a buffer gets an
    // empty string, not whatever its buffer held.
    if (name && cchMax > 0) {
        switch (type) {
            case GCS_VERBA:
            case GCS_HELPTEXTA:
                name[0] = '\0';
                break;
            case GCS_VERBW:
            case GCS_HELPTEXTW:
                reinterpret_cast<WCHAR*>(name)[0] = L'\0';
                break;
            default:
                break;
        }
    }
    return S_OK;
}

void RemoveMenuSubclass() {
    SharedStateGuard guard;
    if (!subclassedWindow) return;
    // The window may be gone with the desktop that showed it: its chain went with it.
    if (!IsWindow(subclassedWindow)) {
        subclassedWindow = nullptr;
        return;
    }
    // Only the window's own thread may change its chain; a handler object that goes on the thread of
    // a folder window leaves the desktop's menu alone.
    if (GetWindowThreadProcessId(subclassedWindow, nullptr) != GetCurrentThreadId()) return;
    RemoveWindowSubclass(subclassedWindow, &MenuSubclassProc, kSubclassId);
    subclassedWindow = nullptr;
}

std::string MenuItemText(const std::string& name) {
    std::string text;
    text.reserve(name.size());
    for (char c : name) {
        text += c;
        if (c == '&') text += '&';
    }
    return text;
}

}  // namespace plx

#include "shell/context_menu.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "win32/module.h"
#include "engine/channel.h"
#include "engine/desktop_listview.h"
#include "resources/resource.h"
#include "shell/commands.h"
#include "dialogs/help.h"
#include "store/profile_tree.h"
#include "layout/resolution.h"
#include "win32/boundary.h"
#include "win32/unique.h"

namespace plx {

namespace {

// One menu at a time in the shell's process; these belong to the module, not to a handler object.
// The command map is used only on the desktop's thread, where Initialize admits the menu.
std::map<UINT, UINT> commandMap;  // menu command id -> command code

// Shared by every handler object on every thread, so changed only under this lock.
SRWLOCK sharedStateLock = SRWLOCK_INIT;
HWND subclassedWindow = nullptr;
// Every handler object draws with the same icon: it goes with the last object, not with the first
// one to be destroyed while another still shows its menu.
HICON menuIcon = nullptr;
int menuIconUsers = 0;

class SharedStateGuard {
public:
    SharedStateGuard() { AcquireSRWLockExclusive(&sharedStateLock); }
    ~SharedStateGuard() { ReleaseSRWLockExclusive(&sharedStateLock); }
    SharedStateGuard(const SharedStateGuard&) = delete;
    SharedStateGuard& operator=(const SharedStateGuard&) = delete;
};

constexpr UINT_PTR kSubclassId = kTopItemData;

constexpr int kMinItemHeight = 22;
constexpr int kTextLeft = 21;
constexpr int kIconLeft = 2;
constexpr int kIconSize = 16;
constexpr UINT kEnabled = MF_ENABLED;
constexpr UINT kGrayed = MF_GRAYED;

int ItemHeight() { return std::max(GetSystemMetrics(SM_CYMENU), kMinItemHeight); }

bool MeasureTopItem(MEASUREITEMSTRUCT& item) {
    item.itemHeight = ItemHeight();
    const int length = lstrlenA(kTopItemCaption);
    item.itemWidth = 8 * length + kTextLeft;
    NONCLIENTMETRICSA metrics = {};
    // The size of the structure before iPaddedBorderWidth, which every version of the system takes.
    metrics.cbSize = 340;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return true;
    unique_hfont font(CreateFontIndirectA(&metrics.lfMenuFont));
    if (!font) return true;
    HDC screen = GetDC(nullptr);
    if (!screen) return true;
    {
        select_object selected(screen, font.get());
        SIZE size = {};
        // The caption is drawn after the icon, so the item must hold the icon's place as well:
        // the measured width alone lets the submenu arrow cover the caption's end.
        if (GetTextExtentPoint32A(screen, kTopItemCaption, length, &size))
            item.itemWidth = kTextLeft + size.cx + 5;
    }
    ReleaseDC(nullptr, screen);
    return true;
}

void DrawTopItem(const DRAWITEMSTRUCT& item) {
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
    DrawIconEx(dc, item.rcItem.left + kIconLeft, item.rcItem.top + (ItemHeight() - kIconSize) / 2, menuIcon,
               0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT);
    RECT text = item.rcItem;
    text.left = item.rcItem.left + kTextLeft;
    DrawTextA(dc, kTopItemCaption, -1, &text, DT_SINGLELINE | DT_VCENTER);
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
            result = MeasureTopItem(*item);
            return true;
        }
        case WM_DRAWITEM: {
            auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (wParam != 0 || !item || item->itemData != kTopItemData) return false;
            DrawTopItem(*item);
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
        const char* text;  // null: a separator
        UINT code;
        bool enabled;
    } fixed[] = {
        {nullptr, 0, false},
        {"Create Profile...", kCreateProfileCommand, true},
        {"Edit Active Profile...", kEditActiveProfileCommand, true},
        {"Delete Active Profile", kDeleteActiveProfileCommand, canDelete},
        {nullptr, 0, false},
        {"Save Active Profile", kSaveActiveProfileCommand, true},
        {"Save Active Profile As...", kSaveActiveProfileAsCommand, true},
        {nullptr, 0, false},
        {"Restore Icon Positions", kRestorePositionsCommand, hasManual},
        {"Restore Startup Icon Positions", kRestoreStartupPositionsCommand, hasStartup},
        {nullptr, 0, false},
        {"Help", kHelpCommand, true},
        {"About Orvane...", kAboutCommand, true},
    };
    for (const auto& item : fixed) {
        if (!item.text) {
            AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        AppendMenuA(popup, MF_STRING | (item.enabled ? kEnabled : kGrayed), id, item.text);
        commandMap[id] = item.code;
        ++id;
    }
}

MENUITEMINFOA SubmenuItem(UINT type, HMENU submenu) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_TYPE | MIIM_SUBMENU;
    info.fType = type;
    info.hSubMenu = submenu;
    return info;
}

}  // namespace

DesktopMenu::DesktopMenu() {
    SharedStateGuard guard;
    if (menuIconUsers++ == 0)
        menuIcon = static_cast<HICON>(
            LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(IDI_PLAXEN), IMAGE_ICON, kIconSize, kIconSize, 0));
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
    PrepareResolution(nullptr);
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
        AppendMenuA(profiles.get(), state, id, MenuItemText(name).c_str());
        commandMap[id] = kFirstProfileCommand + static_cast<UINT>(profileItemNames_.size());
        profileItemNames_.push_back(name);
        ++id;
    }

    MENUITEMINFOA select = SubmenuItem(MFT_STRING, profiles.get());
    char selectText[] = "Select Active Profile";
    select.dwTypeData = selectText;
    if (!InsertMenuItemA(popup.get(), 0, TRUE, &select)) return addNothing();
    profiles.release();  // destroyed with the popup from now on

    AppendFixedItems(popup.get(), id, names.size() >= 2, hasManual, hasStartup);

    UINT position = indexMenu;
    if (indexMenu == 0xFFFFFFFF) {
        const int count = GetMenuItemCount(menu);
        position = count > 0 ? static_cast<UINT>(count - 1) : 0;
    }
    MENUITEMINFOA top = SubmenuItem(MFT_OWNERDRAW, popup.get());
    top.fMask |= MIIM_DATA;
    top.dwItemData = kTopItemData;
    if (!InsertMenuItemA(menu, position, TRUE, &top)) return addNothing();
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

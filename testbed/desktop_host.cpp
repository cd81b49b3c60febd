#include "testbed/desktop_host.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <map>
#include <set>
#include <vector>

#include "win32/unique.h"
#include "win32/wide_text.h"

namespace desktophost {

namespace {

constexpr UINT kShellNotifyMessage = WM_APP + 1;
// How much of an icon a monitor keeps in view when the stand-in moves it there.
constexpr LONG kIconCell = 75;
constexpr UINT_PTR kRefillTimer = 1;
constexpr UINT_PTR kRelayoutTimer = 2;
constexpr DWORD kEnumFlags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;

// Names as the shell's own desktop has them: whole, in any language (kept here in UTF-8).
std::string StrRetToString(STRRET& ret, PCUITEMID_CHILD child) {
    wchar_t buffer[MAX_PATH * 2] = {};
    if (FAILED(StrRetToBufW(&ret, child, buffer, ARRAYSIZE(buffer)))) return {};
    return plx::ToUtf8(buffer);
}

std::string ItemLabel(HWND list, int index) {
    wchar_t label[1024] = {};
    LVITEMW item = {};
    item.pszText = label;
    item.cchTextMax = ARRAYSIZE(label);
    SendMessageW(list, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    return plx::ToUtf8(label);
}

struct FolderItem {
    std::string parsingName;
    std::string label;
    int icon = 0;
};

std::vector<FolderItem> EnumerateDesktop(HWND owner) {
    std::vector<FolderItem> items;
    plx::ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put()))) return items;
    plx::ComPtr<IEnumIDList> enumerator;
    if (desktop->EnumObjects(owner, kEnumFlags, enumerator.put()) != S_OK || !enumerator) return items;
    LPITEMIDLIST raw = nullptr;
    while (enumerator->Next(1, &raw, nullptr) == S_OK) {
        plx::unique_cotaskmem child(raw);
        auto pidl = static_cast<PCUITEMID_CHILD>(child.get());
        FolderItem item;
        STRRET ret;
        if (FAILED(desktop->GetDisplayNameOf(pidl, SHGDN_FORPARSING, &ret))) continue;
        item.parsingName = StrRetToString(ret, pidl);
        if (FAILED(desktop->GetDisplayNameOf(pidl, SHGDN_NORMAL, &ret))) continue;
        item.label = StrRetToString(ret, pidl);
        SHFILEINFOA info = {};
        // A child of the desktop folder is also an absolute ID list.
        if (SHGetFileInfoA(reinterpret_cast<LPCSTR>(pidl), 0, &info, sizeof(info),
                           SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_LARGEICON))
            item.icon = info.iIcon;
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace

DesktopHost::DesktopHost(const Options& options) : options_(options) {}

DesktopHost::~DesktopHost() {
    if (notifyId_) SHChangeNotifyDeregister(notifyId_);
    if (progman_) DestroyWindow(progman_);
    if (worker_) DestroyWindow(worker_);
    if (emptyWorker_) DestroyWindow(emptyWorker_);
}

bool DesktopHost::Create(HINSTANCE instance) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);

    WNDCLASSA top = {};
    top.lpfnWndProc = TopProc;
    top.hInstance = instance;
    top.hCursor = LoadCursor(nullptr, IDC_ARROW);
    top.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BACKGROUND + 1);
    top.lpszClassName = "Progman";
    WNDCLASSA worker = top;
    worker.lpszClassName = "WorkerW";
    WNDCLASSA view = top;
    view.lpfnWndProc = ViewProc;
    view.lpszClassName = "SHELLDLL_DefView";
    if (!RegisterClassA(&top) || !RegisterClassA(&worker) || !RegisterClassA(&view)) return false;

    // The desktop spans the virtual screen, every monitor, as the shell's does.
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), vtop = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const DWORD topStyle = WS_POPUP | WS_CLIPCHILDREN;
    progman_ = CreateWindowExA(WS_EX_TOOLWINDOW, "Progman", "Program Manager", topStyle, left, vtop, width,
                               height, nullptr, nullptr, instance, this);
    if (!progman_) return false;
    HWND viewParent = progman_;
    if (options_.workerForm) {
        worker_ = CreateWindowExA(WS_EX_TOOLWINDOW, "WorkerW", "", topStyle, left, vtop, width, height,
                                  nullptr, nullptr, instance, this);
        // An empty worker created afterwards comes first in the window order, as on a real desktop
        // where the wallpaper worker is not the one that holds the view.
        emptyWorker_ = CreateWindowExA(WS_EX_TOOLWINDOW, "WorkerW", "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                       nullptr, instance, nullptr);
        if (!worker_ || !emptyWorker_) return false;
        viewParent = worker_;
    }
    defView_ = CreateWindowExA(0, "SHELLDLL_DefView", "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                               width, height, viewParent, nullptr, instance, this);
    if (!defView_) return false;
    DWORD listStyle = WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_SHAREIMAGELISTS | LVS_EDITLABELS;
    if (options_.autoArrange) listStyle |= LVS_AUTOARRANGE;
    list_ = CreateWindowExA(0, WC_LISTVIEWA, "FolderView", listStyle, 0, 0, width, height, defView_,
                            reinterpret_cast<HMENU>(1), instance, nullptr);
    if (!list_) return false;
    if (options_.snapToGrid)
        SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_SNAPTOGRID, LVS_EX_SNAPTOGRID);
    const COLORREF desktopColor = RGB(0x2b, 0x5d, 0x7a);
    ListView_SetBkColor(list_, desktopColor);
    ListView_SetTextBkColor(list_, desktopColor);
    ListView_SetTextColor(list_, RGB(255, 255, 255));

    SHFILEINFOA info = {};
    auto large = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_LARGEICON));
    auto small = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    ListView_SetImageList(list_, large, LVSIL_NORMAL);
    ListView_SetImageList(list_, small, LVSIL_SMALL);

    // Should the registration fail, a restore here finds no folder view, as on older Windows.
    if (!options_.noFolderView) shellWindows_.Register(defView_, list_);
    if (options_.fillCount > 0)
        AddFillItems();
    else if (!options_.noItems)
        Refill();
    RegisterShellNotify();
    ShowWindow(options_.workerForm ? worker_ : progman_, SW_SHOWNOACTIVATE);
    if (options_.workerForm) ShowWindow(progman_, SW_SHOWNOACTIVATE);
    // Wine's list view lays out icons inserted while it was hidden at its first paint; let that
    // happen now, so that nobody who moves an icon after start-up sees it jump back.
    UpdateWindow(list_);
    return true;
}

void DesktopHost::RegisterShellNotify() {
    LPITEMIDLIST raw = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &raw))) return;
    plx::unique_cotaskmem desktop(raw);
    SHChangeNotifyEntry entry = {static_cast<PCIDLIST_ABSOLUTE>(desktop.get()), FALSE};
    notifyId_ = SHChangeNotifyRegister(progman_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel, SHCNE_ALLEVENTS,
                                       kShellNotifyMessage, 1, &entry);
}

void DesktopHost::AddFillItems() {
    for (int i = 1; i <= options_.fillCount; ++i) {
        char label[32];
        std::snprintf(label, sizeof(label), "Item %04d", i);
        LVITEMA lvi = {};
        lvi.mask = LVIF_TEXT;
        lvi.iItem = i - 1;
        lvi.pszText = label;
        SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lvi));
    }
}

namespace {

// Calls an action export of the module in this process and returns microseconds (0: not found).
LRESULT CallExportHere(const COPYDATASTRUCT& data) {
    std::string request(static_cast<const char*>(data.lpData), data.cbData);
    request.push_back('\0');
    const std::string path = request.c_str();
    if (path.size() + 1 >= request.size()) return 0;
    const std::string name = request.c_str() + path.size() + 1;
    const size_t countAt = path.size() + name.size() + 2;
    const long count = countAt < request.size() ? std::strtol(request.c_str() + countAt, nullptr, 10) : 1;
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) return 0;
    using Action = HRESULT(WINAPI*)(HWND, BOOL);
    auto action = reinterpret_cast<Action>(GetProcAddress(module, name.c_str()));
    LRESULT micros = 0;
    if (action) {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        for (long i = 0; i < count; ++i) action(nullptr, TRUE);
        QueryPerformanceCounter(&end);
        micros = static_cast<LRESULT>((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart) + 1;
    }
    FreeLibrary(module);
    return micros;
}

}  // namespace

void DesktopHost::ScheduleRefill() { SetTimer(progman_, kRefillTimer, 50, nullptr); }

void DesktopHost::Refill() {
    // A filled view shows its own items whatever the folder holds: a change notification (the module
    // makes some) must not swap them for the folder's.
    if (options_.noItems || options_.fillCount > 0) return;
    std::vector<FolderItem> items = EnumerateDesktop(progman_);
    std::map<std::string, const FolderItem*> wanted;
    for (const FolderItem& item : items) wanted[item.parsingName] = &item;

    // Drop the items that left, relabel the ones that stay.
    std::set<std::string> present;
    for (int i = ListView_GetItemCount(list_) - 1; i >= 0; --i) {
        LVITEMA lvi = {};
        lvi.mask = LVIF_PARAM;
        lvi.iItem = i;
        ListView_GetItem(list_, &lvi);
        auto* entry = reinterpret_cast<Entry*>(lvi.lParam);
        auto it = entry ? wanted.find(entry->parsingName) : wanted.end();
        if (it == wanted.end()) {
            ListView_DeleteItem(list_, i);
            continue;
        }
        if (it->second->label != ItemLabel(list_, i)) {
            std::wstring label = plx::ToWide(it->second->label);
            LVITEMW update = {};
            update.mask = LVIF_TEXT | LVIF_IMAGE;
            update.iItem = i;
            update.pszText = &label[0];
            update.iImage = it->second->icon;
            SendMessageW(list_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&update));
        }
        present.insert(entry->parsingName);
    }
    for (const FolderItem& item : items) {
        if (present.count(item.parsingName)) continue;
        entries_.push_back(std::make_unique<Entry>(Entry{item.parsingName}));
        std::wstring label = plx::ToWide(item.label);
        LVITEMW lvi = {};
        lvi.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        lvi.iItem = ListView_GetItemCount(list_);
        lvi.pszText = label.empty() ? const_cast<wchar_t*>(L"") : &label[0];
        lvi.iImage = item.icon;
        lvi.lParam = reinterpret_cast<LPARAM>(entries_.back().get());
        SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&lvi));
    }
}

namespace {

// Written to a temporary name first, so a reader never sees half a report.
bool WriteWholeFile(const char* path, const std::string& text) {
    std::string temp = std::string(path) + ".part";
    FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool ok = std::fclose(file) == 0 && written;
    return ok && MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08lx", value);
    return text;
}

// The menu's items and, below each, the items of its submenu.
void RecordMenu(HMENU menu, int depth, std::vector<std::string>& record) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[512] = {};
        MENUITEMINFOA info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        if (!GetMenuItemInfoA(menu, i, TRUE, &info)) continue;
        if (info.fType & (MFT_OWNERDRAW | MFT_SEPARATOR)) text[0] = '\0';
        record.push_back("item\t" + std::to_string(depth) + "\t" + std::to_string(i) + "\t" +
                         std::to_string(info.wID) + "\t" + Hex(info.fState) + "\t" + Hex(info.fType) + "\t" +
                         text);
        if (info.hSubMenu) RecordMenu(info.hSubMenu, depth + 1, record);
    }
}

struct HostedHandler {
    plx::ComPtr<IShellExtInit> init;
    plx::ComPtr<IContextMenu> menu;
    UINT first = 0;
    UINT count = 0;
    size_t recordLine = 0;  // the handler's line in the record, completed at its release
};

// The CLSIDs of the handlers registered for folder backgrounds: each key's default value, or else the
// key's own name, as the shell reads them.
std::vector<CLSID> BackgroundHandlers() {
    std::vector<CLSID> found;
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "Directory\\Background\\shellex\\ContextMenuHandlers", 0, KEY_READ,
                      &raw) != ERROR_SUCCESS)
        return found;
    plx::unique_hkey handlers(raw);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(handlers.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        wchar_t value[64] = {};
        LONG size = sizeof(value);
        CLSID clsid;
        if ((RegQueryValueW(handlers.get(), name, value, &size) == ERROR_SUCCESS &&
             SUCCEEDED(CLSIDFromString(value, &clsid))) ||
            SUCCEEDED(CLSIDFromString(name, &clsid)))
            found.push_back(clsid);
    }
    return found;
}

std::string ClsidText(const CLSID& clsid) {
    wchar_t wide[64] = {};
    StringFromGUID2(clsid, wide, 64);
    char text[64] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

}  // namespace

bool DesktopHost::WriteReport(const char* path) const {
    std::string text = "styles " + Hex(static_cast<unsigned long>(GetWindowLongA(list_, GWL_STYLE))) + " " +
                       Hex(static_cast<unsigned long>(ListView_GetExtendedListViewStyle(list_))) + " " +
                       std::to_string(relayouts_) + "\n";
    const int count = ListView_GetItemCount(list_);
    for (int i = 0; i < count; ++i) {
        POINT pt = {};
        ListView_GetItemPosition(list_, i, &pt);
        RECT bounds = {};
        ListView_GetItemRect(list_, i, &bounds, LVIR_BOUNDS);
        text += std::to_string(pt.x) + "\t" + std::to_string(pt.y) + "\t" + std::to_string(bounds.left) +
                " " + std::to_string(bounds.top) + " " + std::to_string(bounds.right) + " " +
                std::to_string(bounds.bottom) + "\t" + ItemLabel(list_, i) + "\n";
    }
    return WriteWholeFile(path, text);
}

bool DesktopHost::WriteMenuReport(const char* path) const {
    std::string text;
    for (const std::string& line : menuRecord_) text += line + "\n";
    return WriteWholeFile(path, text);
}

void DesktopHost::ShowBackgroundMenu(POINT screen) {
    menuRecord_.clear();
    plx::unique_hmenu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuA(menu.get(), MF_STRING, kArrangeIconsId, "&Arrange Icons");
    AppendMenuA(menu.get(), MF_STRING, kRefreshId, "R&efresh");
    AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu.get(), MF_STRING, kPropertiesId, "P&roperties");

    LPITEMIDLIST raw = nullptr;
    SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &raw);
    plx::unique_cotaskmem desktop(raw);
    HKEY progIdRaw = nullptr;
    RegOpenKeyExA(HKEY_CLASSES_ROOT, "Directory\\Background", 0, KEY_READ, &progIdRaw);
    plx::unique_hkey progId(progIdRaw);

    std::vector<HostedHandler> hosted;
    UINT nextId = kFirstHandlerId;
    for (const CLSID& clsid : BackgroundHandlers()) {
        HostedHandler handler;
        const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                                 reinterpret_cast<void**>(handler.init.put()));
        HRESULT initialized = E_FAIL, queried = E_FAIL;
        if (SUCCEEDED(created))
            initialized = handler.init->Initialize(static_cast<PCIDLIST_ABSOLUTE>(desktop.get()), nullptr,
                                                   progId.get());
        if (SUCCEEDED(initialized) && SUCCEEDED(handler.init->QueryInterface(
                                          IID_IContextMenu, reinterpret_cast<void**>(handler.menu.put())))) {
            // Before the last own item, as the shell places handler items above "Properties".
            queried = handler.menu->QueryContextMenu(menu.get(), GetMenuItemCount(menu.get()) - 1, nextId,
                                                     kLastHandlerId, CMF_NORMAL);
            if (SUCCEEDED(queried)) {
                handler.first = nextId;
                handler.count = HRESULT_CODE(queried);
                nextId += handler.count;
            }
        }
        handler.recordLine = menuRecord_.size();
        menuRecord_.push_back("handler\t" + ClsidText(clsid) + "\t" + Hex(created) + "\t" + Hex(initialized) +
                              "\t" + Hex(queried));
        hosted.push_back(std::move(handler));
    }
    RecordMenu(menu.get(), 0, menuRecord_);

    // A popup menu closes on a click elsewhere only while its owner is in the foreground.
    SetForegroundWindow(options_.workerForm ? worker_ : progman_);
    const UINT chosen =
        static_cast<UINT>(TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN,
                                         screen.x, screen.y, 0, defView_, nullptr));
    PostMessageA(defView_, WM_NULL, 0, 0);

    HRESULT invoked = S_OK;
    if (chosen == kArrangeIconsId) ListView_Arrange(list_, LVA_DEFAULT);
    if (chosen == kRefreshId) Refill();
    for (HostedHandler& handler : hosted) {
        if (chosen < handler.first || chosen >= handler.first + handler.count) continue;
        CMINVOKECOMMANDINFO info = {sizeof(info)};
        info.hwnd = defView_;
        info.lpVerb = MAKEINTRESOURCEA(chosen - handler.first);
        info.nShow = SW_SHOWNORMAL;
        invoked = handler.menu->InvokeCommand(&info);
    }
    menuRecord_.push_back("chosen\t" + std::to_string(chosen) + "\t" + Hex(invoked));
    for (HostedHandler& handler : hosted) {
        handler.menu.reset();
        // The count that the last release leaves: 0 when the handler object is gone.
        ULONG left = 0;
        if (IShellExtInit* init = handler.init.get()) {
            init->AddRef();
            handler.init.reset();
            left = init->Release();
        }
        menuRecord_[handler.recordLine] += "\t" + std::to_string(left);
    }
}

namespace {

BOOL CALLBACK CollectMonitorRect(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoA(monitor, &info))
        reinterpret_cast<std::vector<RECT>*>(param)->push_back(info.rcMonitor);
    return TRUE;
}

}  // namespace

void DesktopHost::Layout() {
    RECT before = {};
    GetWindowRect(options_.workerForm ? worker_ : progman_, &before);
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    HWND topWindow = options_.workerForm ? worker_ : progman_;
    SetWindowPos(progman_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (topWindow != progman_)
        SetWindowPos(topWindow, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(defView_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(list_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    // As the shell does: an icon keeps its place on the screen, and one on a monitor that went away
    // is moved onto the nearest monitor left.
    std::vector<RECT> monitors;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitorRect, reinterpret_cast<LPARAM>(&monitors));
    const int count = ListView_GetItemCount(list_);
    for (int i = 0; i < count && !monitors.empty(); ++i) {
        POINT pt = {};
        ListView_GetItemPosition(list_, i, &pt);
        POINT screen = {pt.x + before.left, pt.y + before.top};
        const RECT* nearest = nullptr;
        long long best = 0;
        for (const RECT& m : monitors) {
            const long long dx =
                screen.x < m.left ? m.left - screen.x : std::max(0L, screen.x - (m.right - 1));
            const long long dy =
                screen.y < m.top ? m.top - screen.y : std::max(0L, screen.y - (m.bottom - 1));
            if (!nearest || dx * dx + dy * dy < best) {
                nearest = &m;
                best = dx * dx + dy * dy;
            }
        }
        if (best != 0) {
            screen.x = std::max(nearest->left, std::min(screen.x, nearest->right - kIconCell));
            screen.y = std::max(nearest->top, std::min(screen.y, nearest->bottom - kIconCell));
        }
        const POINT now = {screen.x - left, screen.y - top};
        if (now.x != pt.x || now.y != pt.y) ListView_SetItemPosition32(list_, i, now.x, now.y);
    }
}

void DesktopHost::LayOutAnew() {
    // Columns of the primary monitor's height, from its top-left corner, in the view's order.
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int rows = std::max(1, GetSystemMetrics(SM_CYSCREEN) / static_cast<int>(kIconCell));
    const int count = ListView_GetItemCount(list_);
    for (int i = 0; i < count; ++i)
        ListView_SetItemPosition32(list_, i, -left + (i / rows) * kIconCell + 2,
                                   -top + (i % rows) * kIconCell + 2);
    ++relayouts_;
}

LRESULT CALLBACK DesktopHost::TopProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<DesktopHost*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self) return self->HandleTop(hwnd, msg, wp, lp);
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// The folder view window owns the background menu, as the shell's does: a right-click on the list
// view's empty background reaches it as WM_CONTEXTMENU.
LRESULT CALLBACK DesktopHost::ViewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<DesktopHost*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && msg == WM_CONTEXTMENU) {
        POINT screen = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
        if (lp == -1) GetCursorPos(&screen);  // from the keyboard
        LVHITTESTINFO hit = {};
        hit.pt = screen;
        ScreenToClient(self->list_, &hit.pt);
        if (ListView_HitTest(self->list_, &hit) < 0) self->ShowBackgroundMenu(screen);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT DesktopHost::HandleTop(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT shellResult = 0;
    if (hwnd == progman_ && shellWindows_.HandleMessage(msg, wp, lp, shellResult)) return shellResult;
    switch (msg) {
        case kShellNotifyMessage:
            ScheduleRefill();
            return 0;
        case WM_TIMER:
            if (wp == kRefillTimer) {
                KillTimer(hwnd, kRefillTimer);
                Refill();
                return 0;
            }
            if (wp == kRelayoutTimer) {
                KillTimer(hwnd, kRelayoutTimer);
                LayOutAnew();
                return 0;
            }
            break;
        case WM_DISPLAYCHANGE:
            if (hwnd == progman_) {
                Layout();
                if (options_.relayoutAfterMs)
                    SetTimer(progman_, kRelayoutTimer, options_.relayoutAfterMs, nullptr);
            }
            return 0;
        case kGetHandlerClassesMessage: {
            LRESULT count = 0;
            for (const CLSID& clsid : BackgroundHandlers()) {
                plx::ComPtr<IClassFactory> factory;
                if (SUCCEEDED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                               reinterpret_cast<void**>(factory.put()))))
                    ++count;
            }
            return count;
        }
        case kLayOutAnewMessage:
            LayOutAnew();
            return 0;
        case kFreezeMessage:
            if (InSendMessage()) ReplyMessage(0);
            Sleep(static_cast<DWORD>(wp));
            return 0;
        case WM_COPYDATA: {
            auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
            if (hwnd != progman_ || !data || data->cbData == 0) return FALSE;
            if (data->dwData == kRequestCallExport) return CallExportHere(*data);
            if (data->dwData != kRequestReport && data->dwData != kRequestMenuReport) return FALSE;
            std::string path(static_cast<const char*>(data->lpData), data->cbData);
            path.resize(strnlen(path.c_str(), path.size()));
            const bool written =
                data->dwData == kRequestReport ? WriteReport(path.c_str()) : WriteMenuReport(path.c_str());
            return written ? TRUE : FALSE;
        }
        case WM_CLOSE:
            if (hwnd == progman_) PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace desktophost

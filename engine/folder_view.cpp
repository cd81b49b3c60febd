#include "engine/folder_view.h"

#include <exdisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <cstring>
#include <new>

namespace plx {

namespace {

// Only a list view inside the shell's "SHELLDLL_DefView" can have a folder view behind it; any other
// list view is left alone without a single COM call.
bool InsideShellView(HWND listView) {
    HWND parent = GetParent(listView);
    wchar_t name[32] = {};
    return parent && GetClassNameW(parent, name, ARRAYSIZE(name)) && wcscmp(name, L"SHELLDLL_DefView") == 0;
}

ComPtr<IFolderView> FindFolderView(HWND listView) {
    ComPtr<IShellWindows> windows;
    // The shell registers its shell windows object as a local server; in the shell's own process that
    // registration is found first, and the calls below stay in this process. Should they have to leave
    // this thread's apartment while it answers a message sent from another process (the agent window's
    // actions), COM may refuse them: one more failure after which the list view's result stands.
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void**>(windows.put()))) ||
        !windows)
        return {};

    VARIANT location;
    VariantInit(&location);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root;
    VariantInit(&root);
    LONG desktopWindow = 0;
    ComPtr<IDispatch> browserWindow;
    // S_FALSE: no such window.
    if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                              browserWindow.put()) != S_OK ||
        !browserWindow)
        return {};

    ComPtr<IServiceProvider> services;
    if (FAILED(
            browserWindow->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.put()))) ||
        !services)
        return {};
    ComPtr<IShellBrowser> browser;
    if (FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                      reinterpret_cast<void**>(browser.put()))) ||
        !browser)
        return {};
    ComPtr<IShellView> shellView;
    if (FAILED(browser->QueryActiveShellView(shellView.put())) || !shellView) return {};

    // The view must be the one that shows this list view: its window holds the list view.
    HWND viewWindow = nullptr;
    if (FAILED(shellView->GetWindow(&viewWindow)) || viewWindow != GetParent(listView)) return {};

    ComPtr<IFolderView> folderView;
    if (FAILED(shellView->QueryInterface(IID_IFolderView, reinterpret_cast<void**>(folderView.put()))))
        return {};
    return folderView;
}

}  // namespace

DesktopFolderView::DesktopFolderView(HWND listView) noexcept
    : shellView_(InsideShellView(listView)), apartment_(shellView_) {
    if (shellView_) view_ = FindFolderView(listView);
}

void DesktopFolderView::StopArranging() const noexcept {
    if (!view_) return;
    ComPtr<IFolderView2> view2;
    if (FAILED(view_->QueryInterface(IID_IFolderView2, reinterpret_cast<void**>(view2.put()))) || !view2)
        return;
    view2->SetCurrentFolderFlags(FWF_AUTOARRANGE | FWF_SNAPTOGRID, 0);
}

void DesktopFolderView::PositionItems(const std::vector<FolderViewMove>& moves) const noexcept {
    if (!view_ || moves.empty()) return;
    try {
        std::vector<unique_cotaskmem> owned;
        std::vector<PCUITEMID_CHILD> items;
        std::vector<POINT> points;
        owned.reserve(moves.size());
        items.reserve(moves.size());
        points.reserve(moves.size());
        for (const FolderViewMove& move : moves) {
            PITEMID_CHILD item = nullptr;
            if (FAILED(view_->Item(move.index, &item)) || !item) continue;
            owned.emplace_back(item);
            items.push_back(item);
            points.push_back(move.position);
        }
        if (items.empty()) return;
        view_->SelectAndPositionItems(static_cast<UINT>(items.size()), items.data(), points.data(),
                                      SVSI_POSITIONITEM);
    } catch (const std::bad_alloc&) {
        // The list view already shows the icons where they belong.
    }
}

}  // namespace plx

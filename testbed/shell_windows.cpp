#include "testbed/shell_windows.h"

#include <commctrl.h>
#include <exdisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace desktophost {

namespace {

// What the objects share: the windows they stand for, the step that fails, the references they hold
// beyond their own, and the record of the calls that change the view.
struct ShellState {
    HWND viewWindow = nullptr;
    HWND listView = nullptr;
    ShellStep failing = ShellStep::None;
    LONG references = 0;
    std::string record;

    bool Fails(ShellStep step) const { return failing == step; }
    // No exception may leave a COM method: a line that does not fit in memory is left out.
    void Append(const char* text) noexcept {
        try {
            record += text;
        } catch (...) {
        }
    }
};

// The objects live as long as the stand-in; their reference counts only tell whether callers give
// back every reference they took.
template <typename Interface>
class Counted : public Interface {
public:
    explicit Counted(ShellState& state) : state_(state) {}
    virtual ~Counted() = default;

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++state_.references) + 1; }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--state_.references) + 1; }

protected:
    HRESULT Hand(IUnknown* face, void** out) {
        *out = face;
        AddRef();
        return S_OK;
    }
    ShellState& state_;
};

template <typename Interface>
class Dispatch : public Counted<Interface> {
public:
    using Counted<Interface>::Counted;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

// An item of the view is named by a one-level ID list that holds its list view index.
constexpr USHORT kItemIdSize = sizeof(USHORT) + sizeof(int);

PITEMID_CHILD MakeItemId(int index) {
    auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(kItemIdSize + sizeof(USHORT)));
    if (!bytes) return nullptr;
    const USHORT size = kItemIdSize, end = 0;
    std::memcpy(bytes, &size, sizeof(size));
    std::memcpy(bytes + sizeof(USHORT), &index, sizeof(index));
    std::memcpy(bytes + kItemIdSize, &end, sizeof(end));
    return reinterpret_cast<PITEMID_CHILD>(bytes);
}

bool ItemIndex(PCUITEMID_CHILD pidl, int& index) {
    if (!pidl || pidl->mkid.cb != kItemIdSize) return false;
    std::memcpy(&index, pidl->mkid.abID, sizeof(int));
    return true;
}

class FolderView final : public Counted<IShellView>, public IFolderView2 {
public:
    explicit FolderView(ShellState& state) : Counted<IShellView>(state) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IShellView)
            return Hand(static_cast<IShellView*>(this), out);
        if (riid == IID_IFolderView && !state_.Fails(ShellStep::FolderView))
            return Hand(static_cast<IFolderView2*>(this), out);
        if (riid == IID_IFolderView2 && !state_.Fails(ShellStep::FolderView) &&
            !state_.Fails(ShellStep::FolderView2))
            return Hand(static_cast<IFolderView2*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Counted<IShellView>::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Counted<IShellView>::Release(); }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = nullptr;
        if (state_.Fails(ShellStep::ViewWindow)) return E_FAIL;
        *window = state_.viewWindow;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }

    // IShellView
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UIActivate(UINT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Refresh() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateViewWindow(IShellView*, LPCFOLDERSETTINGS, IShellBrowser*, RECT*,
                                               HWND*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DestroyViewWindow() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SaveViewState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemObject(UINT, REFIID, void** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }

    // IFolderView
    HRESULT STDMETHODCALLTYPE GetCurrentViewMode(UINT* mode) override {
        *mode = FVM_ICON;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentViewMode(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFolder(REFIID, void** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Item(int index, PITEMID_CHILD* pidl) override {
        *pidl = nullptr;
        if (state_.Fails(ShellStep::Item)) return E_FAIL;
        if (index < 0 || index >= ListView_GetItemCount(state_.listView)) return E_INVALIDARG;
        *pidl = MakeItemId(index);
        return *pidl ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE ItemCount(UINT, int* count) override {
        *count = ListView_GetItemCount(state_.listView);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Items(UINT, REFIID, void** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSelectionMarkedItem(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFocusedItem(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemPosition(PCUITEMID_CHILD pidl, POINT* pt) override {
        int index = 0;
        if (!ItemIndex(pidl, index)) return E_INVALIDARG;
        return ListView_GetItemPosition(state_.listView, index, pt) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetSpacing(POINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultSpacing(POINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAutoArrange() override {
        return (GetWindowLongA(state_.listView, GWL_STYLE) & LVS_AUTOARRANGE) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SelectItem(int, DWORD) override { return E_NOTIMPL; }
    // Moves the items as the shell does, and records the call.
    HRESULT STDMETHODCALLTYPE SelectAndPositionItems(UINT count, PCUITEMID_CHILD_ARRAY items, POINT* points,
                                                     DWORD flags) override {
        if (state_.Fails(ShellStep::SelectAndPosition)) return E_FAIL;
        char line[64];
        std::snprintf(line, sizeof(line), "position %u %08lx\n", count, static_cast<unsigned long>(flags));
        state_.Append(line);
        for (UINT i = 0; i < count; ++i) {
            int index = 0;
            if (!ItemIndex(items[i], index)) return E_INVALIDARG;
            char label[1024] = {};
            ListView_GetItemText(state_.listView, index, 0, label, sizeof(label));
            if (flags & SVSI_POSITIONITEM)
                ListView_SetItemPosition32(state_.listView, index, points[i].x, points[i].y);
            std::snprintf(line, sizeof(line), "%ld\t%ld\t", static_cast<long>(points[i].x),
                          static_cast<long>(points[i].y));
            state_.Append(line);
            state_.Append(label);
            state_.Append("\n");
        }
        return S_OK;
    }

    // IFolderView2
    HRESULT STDMETHODCALLTYPE SetGroupBy(REFPROPERTYKEY, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGroupBy(PROPERTYKEY*, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetViewProperty(PCUITEMID_CHILD, REFPROPERTYKEY, REFPROPVARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetViewProperty(PCUITEMID_CHILD, REFPROPERTYKEY, PROPVARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetTileViewProperties(PCUITEMID_CHILD, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExtendedTileViewProperties(PCUITEMID_CHILD, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetText(FVTEXTTYPE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCurrentFolderFlags(DWORD mask, DWORD flags) override {
        if (state_.Fails(ShellStep::FolderFlags)) return E_FAIL;
        char line[64];
        std::snprintf(line, sizeof(line), "flags %08lx %08lx\n", static_cast<unsigned long>(mask),
                      static_cast<unsigned long>(flags));
        state_.Append(line);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentFolderFlags(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSortColumnCount(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSortColumns(const SORTCOLUMN*, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSortColumns(SORTCOLUMN*, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItem(int, REFIID, void** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetVisibleItem(int, WINBOOL, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSelectedItem(int, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSelection(WINBOOL, IShellItemArray**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSelectionState(PCUITEMID_CHILD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InvokeVerbOnSelection(LPCSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetViewModeAndIconSize(FOLDERVIEWMODE, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetViewModeAndIconSize(FOLDERVIEWMODE*, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetGroupSubsetCount(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGroupSubsetCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRedraw(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsMoveInSameFolder() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE DoRename() override { return E_NOTIMPL; }
};

// The desktop's browser window: a dispatch object that offers the top-level browser as a service.
class Browser final : public Dispatch<IDispatch>, public IServiceProvider, public IShellBrowser {
public:
    Browser(ShellState& state, FolderView& view) : Dispatch<IDispatch>(state), view_(view) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch) return Hand(static_cast<IDispatch*>(this), out);
        if (riid == IID_IServiceProvider && !state_.Fails(ShellStep::ServiceProvider))
            return Hand(static_cast<IServiceProvider*>(this), out);
        if (riid == IID_IShellBrowser || riid == IID_IOleWindow)
            return Hand(static_cast<IShellBrowser*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Dispatch<IDispatch>::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Dispatch<IDispatch>::Release(); }

    // IServiceProvider
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** out) override {
        *out = nullptr;
        if (service != SID_STopLevelBrowser || state_.Fails(ShellStep::TopLevelBrowser)) return E_NOINTERFACE;
        return QueryInterface(riid, out);
    }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = GetAncestor(state_.viewWindow, GA_ROOT);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }

    // IShellBrowser
    HRESULT STDMETHODCALLTYPE InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModelessSB(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAcceleratorSB(MSG*, WORD) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetControlWindow(UINT, HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryActiveShellView(IShellView** view) override {
        *view = nullptr;
        if (state_.Fails(ShellStep::ActiveView)) return E_FAIL;
        *view = &view_;
        view_.AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnViewWindowActive(IShellView*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }

private:
    FolderView& view_;
};

class ShellWindows final : public Dispatch<IShellWindows> {
public:
    ShellWindows(ShellState& state, Browser& desktop) : Dispatch<IShellWindows>(state), desktop_(desktop) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IShellWindows)
            return Hand(this, out);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(VARIANT, IDispatch** folder) override {
        *folder = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Register(IDispatch*, LONG, int, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterPending(LONG, VARIANT*, VARIANT*, int, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Revoke(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnNavigate(LONG, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnActivated(LONG, VARIANT_BOOL) override { return E_NOTIMPL; }
    // Only the desktop is known here, as a shell without open folder windows knows it.
    HRESULT STDMETHODCALLTYPE FindWindowSW(VARIANT*, VARIANT*, int windowClass, LONG* window, int options,
                                           IDispatch** dispatch) override {
        if (dispatch) *dispatch = nullptr;
        if (window) *window = 0;
        if (windowClass != SWC_DESKTOP || state_.Fails(ShellStep::FindWindow)) return S_FALSE;
        if (window)
            *window = static_cast<LONG>(reinterpret_cast<LONG_PTR>(GetAncestor(state_.viewWindow, GA_ROOT)));
        if ((options & SWFO_NEEDDISPATCH) && dispatch) {
            *dispatch = static_cast<IDispatch*>(&desktop_);
            desktop_.AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCreated(LONG, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessAttachDetach(VARIANT_BOOL) override { return S_OK; }

private:
    Browser& desktop_;
};

// Held by COM while registered, so it does not count.
class ClassObject final : public IClassFactory {
public:
    ClassObject(ShellState& state, ShellWindows& windows) : state_(state), windows_(windows) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (state_.Fails(ShellStep::CreateInstance)) return E_OUTOFMEMORY;
        return windows_.QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }

private:
    ShellState& state_;
    ShellWindows& windows_;
};

bool WriteRecord(const ShellState& state, const char* path) {
    std::string temp = std::string(path) + ".part";
    FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) return false;
    std::fprintf(file, "references %ld\n", static_cast<long>(state.references));
    std::fputs(state.record.c_str(), file);
    const bool ok = std::fclose(file) == 0;
    return ok && MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

struct ShellWindowsStandIn::Objects {
    ShellState state;
    FolderView view{state};
    Browser browser{state, view};
    ShellWindows windows{state, browser};
    ClassObject classObject{state, windows};
};

ShellWindowsStandIn::ShellWindowsStandIn() : objects_(std::make_unique<Objects>()) {}

ShellWindowsStandIn::~ShellWindowsStandIn() {
    if (cookie_) CoRevokeClassObject(cookie_);
}

bool ShellWindowsStandIn::Register(HWND viewWindow, HWND listView) {
    objects_->state.viewWindow = viewWindow;
    objects_->state.listView = listView;
    // As the shell does: a local server class object, which code in this process finds first.
    return SUCCEEDED(CoRegisterClassObject(CLSID_ShellWindows, &objects_->classObject, CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie_));
}

bool ShellWindowsStandIn::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == kShellStepFailMessage) {
        const int step = static_cast<int>(wp);
        if (step < 0 || step >= static_cast<int>(ShellStep::Count)) {
            result = FALSE;
            return true;
        }
        objects_->state.failing = static_cast<ShellStep>(step);
        objects_->state.record.clear();
        result = TRUE;
        return true;
    }
    if (msg != WM_COPYDATA) return false;
    auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    if (!data || data->dwData != kRequestShellRecord || data->cbData == 0) return false;
    std::string path(static_cast<const char*>(data->lpData), data->cbData);
    path.resize(strnlen(path.c_str(), path.size()));
    result = WriteRecord(objects_->state, path.c_str()) ? TRUE : FALSE;
    return true;
}

}  // namespace desktophost

#include "com/desktop_plaxen.h"

#include <new>

#include "win32/boundary.h"

namespace plx {

HRESULT DesktopPlaxen::Create(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    // An aggregated object hands its controlling object nothing but its own identity.
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return CallAtBoundary(E_OUTOFMEMORY, [&] {
        auto* created = new (std::nothrow) DesktopPlaxen(outer);
        if (!created) return E_OUTOFMEMORY;
        const HRESULT hr = created->inner_.QueryInterface(iid, object);
        created->inner_.Release();  // the reference of the construction
        return hr;
    });
}

DesktopPlaxen::DesktopPlaxen(IUnknown* outer) : inner_(*this), outer_(outer ? outer : &inner_) {}

// The interface table, in this order: IUnknown, IDispatch, IShellExtInit, IContextMenu. Neither
// IContextMenu2 nor IContextMenu3: the menu answers its owner-drawing in its own window subclass.
HRESULT DesktopPlaxen::Inner::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown))
        *object = static_cast<IUnknown*>(this);
    else if (IsEqualIID(iid, IID_IDispatch))
        *object = static_cast<IDispatch*>(&self_);
    else if (IsEqualIID(iid, IID_IShellExtInit))
        *object = static_cast<IShellExtInit*>(&self_);
    else if (IsEqualIID(iid, IID_IContextMenu))
        *object = static_cast<IContextMenu*>(&self_);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

ULONG DesktopPlaxen::Inner::AddRef() { return ++self_.references_; }

ULONG DesktopPlaxen::Inner::Release() {
    const ULONG left = --self_.references_;
    if (left == 0) delete &self_;
    return left;
}

HRESULT DesktopPlaxen::QueryInterface(REFIID iid, void** object) {
    return outer_->QueryInterface(iid, object);
}
ULONG DesktopPlaxen::AddRef() { return outer_->AddRef(); }
ULONG DesktopPlaxen::Release() { return outer_->Release(); }

HRESULT DesktopPlaxen::GetTypeInfoCount(UINT* count) {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
}

HRESULT DesktopPlaxen::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT DesktopPlaxen::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
    for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT DesktopPlaxen::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT DesktopPlaxen::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) {
    return CallAtBoundary(E_FAIL, [&] { return menu_.Initialize(folder, data, progId); });
}

HRESULT DesktopPlaxen::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                        UINT flags) {
    return CallAtBoundary(
        E_FAIL, [&] { return menu_.QueryContextMenu(menu, indexMenu, idCmdFirst, idCmdLast, flags); });
}

HRESULT DesktopPlaxen::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    return CallAtBoundary(E_FAIL, [&] { return menu_.InvokeCommand(info); });
}

HRESULT DesktopPlaxen::GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name, UINT cchMax) {
    return CallAtBoundary(E_FAIL,
                          [&] { return menu_.GetCommandString(idCmd, type, reserved, name, cchMax); });
}

}  // namespace plx

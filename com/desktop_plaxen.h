// The desktop background's context-menu handler as the shell sees it: its COM identity, its lifetime
// and its aggregation. The menu itself is DesktopMenu, to which every shell call is forwarded.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "win32/module.h"
#include "shell/context_menu.h"

namespace plx {

// Apartment-threaded: used only on the thread that made it, so its count is a plain counter.
class DesktopPlaxen final : public IDispatch, public IShellExtInit, public IContextMenu {
public:
    // outer: the controlling object when aggregated (then iid must be IID_IUnknown), or null.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** object);

    // IUnknown, delegating to the controlling object.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, with no members of its own.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name,
                                  UINT cchMax) override;

private:
    // The object's own identity, which the controlling object holds when aggregated.
    class Inner final : public IUnknown {
    public:
        explicit Inner(DesktopPlaxen& self) : self_(self) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        DesktopPlaxen& self_;
    };

    explicit DesktopPlaxen(IUnknown* outer);
    ~DesktopPlaxen() = default;

    // Declared first, so that the lock is the last thing to go: the menu's clean-up runs module code.
    ModuleLockHolder lock_;
    ULONG references_ = 1;
    Inner inner_;
    IUnknown* outer_;  // the controlling object, or inner_
    DesktopMenu menu_;
};

}  // namespace plx

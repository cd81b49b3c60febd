// The desktop background's menu: what the handler object keeps between QueryContextMenu and
// InvokeCommand, and the work behind IShellExtInit and IContextMenu. The COM object forwards to it.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace plx {

class DesktopMenu {
public:
    DesktopMenu();   // loads the menu icon
    ~DesktopMenu();  // removes the menu subclass, destroys the menu icon
    DesktopMenu(const DesktopMenu&) = delete;
    DesktopMenu& operator=(const DesktopMenu&) = delete;

    HRESULT Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId);
    HRESULT QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags);
    HRESULT InvokeCommand(const CMINVOKECOMMANDINFO* info);
    HRESULT GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, LPSTR name, UINT cchMax);

private:
    UINT firstCommandId_ = 0;
    std::vector<std::string> profileItemNames_;
};

// Puts the folder view window's own procedure back, if the menu subclassed it.
void RemoveMenuSubclass();

}  // namespace plx

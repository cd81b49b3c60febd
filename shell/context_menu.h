// The desktop background's menu: what the handler object keeps between QueryContextMenu and
// InvokeCommand, and the work behind IShellExtInit and IContextMenu. The COM object forwards to it.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "store/profile_tree.h"

namespace plx {

class DesktopMenu {
public:
    // The shell builds and destroys handler objects on the threads of ordinary folder windows too:
    // the state that all objects share is changed under a lock, and the subclass of the desktop's
    // window only on that window's own thread.
    DesktopMenu();   // loads the menu icon
    ~DesktopMenu();  // removes the menu subclass (on the desktop's thread), destroys the menu icon
    DesktopMenu(const DesktopMenu&) = delete;
    DesktopMenu& operator=(const DesktopMenu&) = delete;

    HRESULT Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId);
    HRESULT QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags);
    HRESULT InvokeCommand(const CMINVOKECOMMANDINFO* info);
    HRESULT GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, LPSTR name, UINT cchMax);

private:
    UINT firstCommandId_ = 0;
    std::vector<std::string> profileItemNames_;
    // The screen size whose profiles the menu lists.
    ScreenSize menuSize_;
};

// The item data of the owner-drawn top item: the menu subclass measures and draws only items with it.
inline constexpr ULONG_PTR kTopItemData = 0x8935E;
// The text of the top item, beside the menu icon.
inline constexpr char kTopItemCaption[] = PLAXEN_PRODUCT_TITLE;
// Ids that QueryContextMenu uses besides those of the profile items.
inline constexpr UINT kFixedItemCount = 9;

// Takes the menu's subclass out of the folder view window's subclass chain, if the menu put one there
// and this is that window's thread. Subclasses that others added before or after ours stay.
void RemoveMenuSubclass();

// The text of a menu item that shows name as it is: an ampersand would otherwise mark a mnemonic.
std::string MenuItemText(const std::string& name);

}  // namespace plx

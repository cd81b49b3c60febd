#include "shell/context_menu.h"

namespace plx {

// Placeholder until the menu lands: the handler adds nothing and refuses every folder.
DesktopMenu::DesktopMenu() = default;
DesktopMenu::~DesktopMenu() = default;
HRESULT DesktopMenu::Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY) { return E_INVALIDARG; }
HRESULT DesktopMenu::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) { return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0); }
HRESULT DesktopMenu::InvokeCommand(const CMINVOKECOMMANDINFO*) { return E_INVALIDARG; }
HRESULT DesktopMenu::GetCommandString(UINT_PTR, UINT, UINT*, LPSTR, UINT) { return S_OK; }
void RemoveMenuSubclass() {}

}  // namespace plx

// The shell windows object of the stand-in desktop: registered in its own process as the shell
// registers its own, it leads from FindWindowSW for the desktop through the top-level browser and its
// active shell view to a folder view backed by the stand-in's list view. Each SelectAndPositionItems
// and SetCurrentFolderFlags call is recorded, so that a test can read them back.
#pragma once

#include <windows.h>

#include <memory>

namespace desktophost {

// The steps from the shell windows class to the folder view; a test makes one of them fail.
enum class ShellStep : int {
    None = 0,
    CreateInstance,     // the class object makes no shell windows object
    FindWindow,         // FindWindowSW finds no desktop
    ServiceProvider,    // the desktop's dispatch object has no IServiceProvider
    TopLevelBrowser,    // QueryService(SID_STopLevelBrowser) fails
    ActiveView,         // QueryActiveShellView fails
    ViewWindow,         // the view's GetWindow fails
    FolderView,         // the view has no IFolderView
    FolderView2,        // the view has no IFolderView2
    Item,               // IFolderView::Item fails
    SelectAndPosition,  // SelectAndPositionItems fails and moves nothing
    FolderFlags,        // SetCurrentFolderFlags fails and changes nothing
    Count
};

// Sent to "Progman": from now on the step in wParam fails (ShellStep::None: none). Returns TRUE.
inline constexpr UINT kShellStepFailMessage = WM_APP + 0x140;
// WM_COPYDATA request to "Progman", lpData the path of the file to write the record to: one line
// "references <n>" (references that callers took and have not given back), then per call in order
// "flags <mask hex> <flags hex>" or "position <count>" followed by "x<TAB>y<TAB>label" per item.
inline constexpr ULONG_PTR kRequestShellRecord = 0x44524353;  // 'SCRD'

class ShellWindowsStandIn {
public:
    ShellWindowsStandIn();
    ~ShellWindowsStandIn();
    ShellWindowsStandIn(const ShellWindowsStandIn&) = delete;
    ShellWindowsStandIn& operator=(const ShellWindowsStandIn&) = delete;

    // Registers the class object on this thread, whose apartment must be initialised.
    bool Register(HWND viewWindow, HWND listView);
    // Handles the two requests above; true when msg was one of them.
    bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

private:
    struct Objects;
    std::unique_ptr<Objects> objects_;
    DWORD cookie_ = 0;
};

}  // namespace desktophost

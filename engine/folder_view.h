// The shell's folder view of the desktop. Since Windows 10 version 1809 the shell keeps the desktop
// icons' places in its folder view: a place set on the list view alone is shown, but lost at the shell's
// next refresh or when it saves the layout at logoff. A restore tells the folder view as well.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <vector>

#include "win32/unique.h"

namespace plx {

// One icon that a restore moved: its index in the desktop list view and its place there.
struct FolderViewMove {
    int index;
    POINT position;
};

// Initialises COM on this thread, apartment-threaded, when asked to and the thread has not yet; gives
// back what it took at the end. A thread already in an apartment keeps it.
class ApartmentScope {
public:
    explicit ApartmentScope(bool enter) noexcept
        : entered_(enter && SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ApartmentScope() {
        if (entered_) CoUninitialize();
    }
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;

private:
    bool entered_;
};

// The folder view that shows listView, found through the shell windows object of this process (the
// shell's own, since a restore runs in the shell's process). Absent where the shell offers none (older
// Windows, a stand-in desktop) and when any step fails; then every call does nothing. Nothing here
// shows a message or waits for anything but the calls themselves, which the shell answers on its own
// thread.
class DesktopFolderView {
public:
    explicit DesktopFolderView(HWND listView) noexcept;
    DesktopFolderView(const DesktopFolderView&) = delete;
    DesktopFolderView& operator=(const DesktopFolderView&) = delete;

    bool Present() const noexcept { return static_cast<bool>(view_); }
    // Switches the folder view's auto-arrange and snap-to-grid off.
    void StopArranging() const noexcept;
    // Places the icons at the given points in one call; the items are named by their list view index.
    void PositionItems(const std::vector<FolderViewMove>& moves) const noexcept;

private:
    bool shellView_;            // the list view is the shell's: only then is COM needed
    ApartmentScope apartment_;  // before the interfaces, so that it ends after them
    ComPtr<IFolderView> view_;
};

}  // namespace plx

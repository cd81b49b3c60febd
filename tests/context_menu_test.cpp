// The desktop menu as the shell shows it: which folders get it, the items and their ids, the top
// item measured and drawn on the desktop's window, and context help on its items.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/help.h"
#include "tests/menu_fixture.h"
#include "tests/support/message_boxes.h"

namespace {

using menutest::kFirstId;
using menutest::kLastId;

// One line per item: "-" for a separator, else the text, "->" for a submenu or the id less the first
// id, and the states.
std::vector<std::string> Describe(HMENU menu) {
    std::vector<std::string> lines;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        const UINT state = GetMenuState(menu, i, MF_BYPOSITION);
        if (!GetSubMenu(menu, i) && (state & MF_SEPARATOR)) {
            lines.push_back("-");
            continue;
        }
        wchar_t text[300] = {};
        GetMenuStringW(menu, i, text, ARRAYSIZE(text), MF_BYPOSITION);
        std::string line = plx::ToUtf8(text);
        if (GetSubMenu(menu, i))
            line += " ->";
        else
            line +=
                " " + std::to_string(static_cast<int>(GetMenuItemID(menu, i)) - static_cast<int>(kFirstId));
        if (state & MF_GRAYED) line += " grayed";
        if (state & MF_CHECKED) line += " checked";
        if ((state & MF_DISABLED) && !(state & MF_GRAYED)) line += " disabled";
        lines.push_back(line);
    }
    return lines;
}

plx::unique_cotaskmem FolderIdList(int csidl) {
    LPITEMIDLIST raw = nullptr;
    SHGetSpecialFolderLocation(nullptr, csidl, &raw);
    return plx::unique_cotaskmem(raw);
}

class ContextMenuTest : public menutest::MenuTest {};

TEST_F(ContextMenuTest, InitializeTakesOnlyTheDesktopOnItsOwnThread) {
    plx::DesktopMenu menu;
    plx::unique_cotaskmem desktop = FolderIdList(CSIDL_DESKTOP);
    plx::unique_cotaskmem other = FolderIdList(CSIDL_PERSONAL);
    ASSERT_TRUE(desktop && other);
    auto idList = [](const plx::unique_cotaskmem& list) {
        return static_cast<PCIDLIST_ABSOLUTE>(list.get());
    };
    EXPECT_EQ(menu.Initialize(idList(desktop), nullptr, nullptr), S_OK);
    EXPECT_EQ(menu.Initialize(idList(other), nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(menu.Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
    HRESULT fromAnotherThread = S_OK;
    std::thread([&] { fromAnotherThread = menu.Initialize(idList(desktop), nullptr, nullptr); }).join();
    EXPECT_EQ(fromAnotherThread, E_INVALIDARG);
}

TEST_F(ContextMenuTest, TheFirstMenuShowsTheDefaultProfileAndEveryCommand) {
    // An empty tree: the menu's first set-up saves the desktop as "Default", with no logon slot.
    plx::DesktopMenu menu;
    plx::unique_hmenu shell = ShellMenu();
    EXPECT_EQ(menu.QueryContextMenu(shell.get(), 0xFFFFFFFF, kFirstId, kLastId, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 10));
    ASSERT_EQ(GetMenuItemCount(shell.get()), 6);
    for (int i : {0, 1, 2, 3, 5})
        EXPECT_EQ(GetMenuItemID(shell.get(), i), static_cast<UINT>(i < 4 ? i + 1 : 5));
    MENUITEMINFOA top = {sizeof(top), MIIM_FTYPE | MIIM_DATA | MIIM_SUBMENU | MIIM_ID};
    ASSERT_TRUE(GetMenuItemInfoA(shell.get(), 4, TRUE, &top));
    EXPECT_TRUE(top.fType & MFT_OWNERDRAW);
    EXPECT_EQ(top.dwItemData, plx::kTopItemData);
    EXPECT_EQ(top.wID, 0u);
    HMENU popup = top.hSubMenu;
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(Describe(popup), (std::vector<std::string>{
                                   "Select Active Profile ->",
                                   "-",
                                   "Create Profile... 1",
                                   "Edit Active Profile... 2",
                                   "Delete Active Profile 3 grayed",
                                   "-",
                                   "Save Active Profile 4",
                                   "Save Active Profile As... 5",
                                   "-",
                                   "Restore Icon Positions 6",
                                   "Restore Startup Icon Positions 7 grayed",
                                   "-",
                                   "Help 8",
                                   "About Orvane... 9",
                               }));
    EXPECT_EQ(Describe(GetSubMenu(popup, 0)), (std::vector<std::string>{"Default 0 checked disabled"}));

    // Into an empty menu the item goes first; asked for the default command only, nothing is added.
    plx::unique_hmenu empty(CreatePopupMenu());
    EXPECT_EQ(menu.QueryContextMenu(empty.get(), 0xFFFFFFFF, kFirstId, kLastId, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 10));
    EXPECT_EQ(GetMenuItemCount(empty.get()), 1);
    EXPECT_NE(CommandPopup(empty.get()), nullptr);
    plx::unique_hmenu defaultOnly = ShellMenu();
    EXPECT_EQ(menu.QueryContextMenu(defaultOnly.get(), 0, kFirstId, kLastId, CMF_DEFAULTONLY), S_OK);
    EXPECT_EQ(GetMenuItemCount(defaultOnly.get()), 5);
}

TEST_F(ContextMenuTest, ProfilesAreListedInOrderAndWithinTheShellsRange) {
    for (const char* name : {"b", "A", "c"}) MakeProfile(name);
    SetCurrentProfile("b");
    plx::DesktopMenu menu;
    {
        plx::unique_hmenu shell = ShellMenu();
        EXPECT_EQ(menu.QueryContextMenu(shell.get(), 2, kFirstId, kLastId, CMF_NORMAL),
                  MAKE_HRESULT(SEVERITY_SUCCESS, 0, 12));
        EXPECT_EQ(CommandPopup(shell.get()), GetSubMenu(shell.get(), 2));
        HMENU popup = CommandPopup(shell.get());
        EXPECT_EQ(Describe(GetSubMenu(popup, 0)),
                  (std::vector<std::string>{"A 0", "b 1 checked disabled", "c 2"}));
        EXPECT_EQ(ItemText(popup, 2) + " " + std::to_string(GetMenuItemID(popup, 2) - kFirstId),
                  "Create Profile... 3");
        EXPECT_EQ(GetMenuState(popup, 4, MF_BYPOSITION) & MF_GRAYED, 0u);
        EXPECT_EQ(GetMenuState(popup, 9, MF_BYPOSITION) & MF_GRAYED, 0u);
        EXPECT_NE(GetMenuState(popup, 10, MF_BYPOSITION) & MF_GRAYED, 0u);
    }
    {
        // Room for the fixed items and two profiles: the list is cut.
        plx::unique_hmenu shell = ShellMenu();
        EXPECT_EQ(menu.QueryContextMenu(shell.get(), 0, kFirstId, kFirstId + 10, CMF_NORMAL),
                  MAKE_HRESULT(SEVERITY_SUCCESS, 0, 11));
        HMENU popup = CommandPopup(shell.get());
        EXPECT_EQ(Describe(GetSubMenu(popup, 0)), (std::vector<std::string>{"A 0", "b 1 checked disabled"}));
        EXPECT_EQ(GetMenuItemID(popup, GetMenuItemCount(popup) - 1), kFirstId + 10);
    }
    {
        // No room for the fixed items: nothing at all.
        plx::unique_hmenu shell = ShellMenu();
        EXPECT_EQ(menu.QueryContextMenu(shell.get(), 0, kFirstId, kFirstId + 7, CMF_NORMAL), S_OK);
        EXPECT_EQ(GetMenuItemCount(shell.get()), 5);
    }

    // More profiles than codes: the first 101 in lstrcmpA order, and the fixed items after them.
    for (int i = 0; i < 105; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "P%03d", i);
        MakeProfile(name, false);
    }
    plx::unique_hmenu shell = ShellMenu();
    EXPECT_EQ(menu.QueryContextMenu(shell.get(), 0, kFirstId, kLastId, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 110));
    HMENU popup = CommandPopup(shell.get());
    const std::vector<std::string> profiles = Describe(GetSubMenu(popup, 0));
    ASSERT_EQ(profiles.size(), 101u);
    EXPECT_EQ(profiles[0], "A 0");
    EXPECT_EQ(profiles[1], "b 1 checked disabled");
    EXPECT_EQ(profiles[2], "c 2");
    EXPECT_EQ(profiles[3], "P000 3");
    EXPECT_EQ(profiles[100], "P097 100");
    EXPECT_EQ(GetMenuItemID(popup, 2), kFirstId + 101);
}

// Another extension that subclasses the desktop's window after the menu did.
int foreignSeen = 0;
LRESULT CALLBACK ForeignProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_NULL) ++foreignSeen;
    return DefSubclassProc(window, message, wParam, lParam);
}

// Whether the window answers for the menu's top item, as the shell's menu asks it.
bool MeasuresTopItem(HWND view) {
    MEASUREITEMSTRUCT item = {ODT_MENU};
    item.itemData = plx::kTopItemData;
    return SendMessageA(view, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&item)) == TRUE &&
           item.itemHeight >= 22;
}

TEST_F(ContextMenuTest, TheSubclassIsOneLinkOfTheWindowsChainThatOnlyTheDesktopsThreadTakesOut) {
    auto procedure = [&] { return GetWindowLongPtrA(view_, GWLP_WNDPROC); };
    {
        plx::DesktopMenu menu;
        plx::unique_hmenu first = ShellMenu();
        plx::unique_hmenu second = ShellMenu();
        menu.QueryContextMenu(first.get(), 0, kFirstId, kLastId, CMF_NORMAL);
        const LONG_PTR subclassed = procedure();
        EXPECT_NE(subclassed, viewProc_);
        menu.QueryContextMenu(second.get(), 0, kFirstId, kLastId, CMF_NORMAL);
        EXPECT_EQ(procedure(), subclassed);

        // A folder window's thread builds and drops a handler object while the desktop menu is up.
        std::thread([] { plx::DesktopMenu other; }).join();
        EXPECT_EQ(procedure(), subclassed);
        EXPECT_TRUE(MeasuresTopItem(view_));

        // Another extension subclasses after the menu and stays while the menu goes: it keeps its
        // place, and the window's own procedure is behind it. (Windows also keeps the place of one that
        // replaced the procedure itself; Wine's common controls put their first procedure back when
        // their last link goes, whatever was set since, so such a one cannot be shown here.)
        ASSERT_TRUE(SetWindowSubclass(view_, &ForeignProc, 1, 0));
        EXPECT_TRUE(MeasuresTopItem(view_));
        plx::RemoveMenuSubclass();
        SendMessageA(view_, WM_NULL, 0, 0);
        EXPECT_EQ(foreignSeen, 1);
        EXPECT_FALSE(MeasuresTopItem(view_));
        ASSERT_TRUE(RemoveWindowSubclass(view_, &ForeignProc, 1));
        EXPECT_EQ(procedure(), viewProc_);

        menu.QueryContextMenu(second.get(), 0, kFirstId, kLastId, CMF_NORMAL);
        EXPECT_TRUE(MeasuresTopItem(view_));
    }
    // The handler going away takes the subclass with it.
    EXPECT_EQ(procedure(), viewProc_);
}

// What the screen shows of the shell's menu while it is open with the top item in it.
struct ShownItem {
    RECT rect = {};
    std::vector<DWORD> pixels;  // the item's rectangle, row by row
    COLORREF At(int x, int y) const {
        const DWORD p = pixels[static_cast<size_t>(y) * (rect.right - rect.left) + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

// What the timer inside the menu's loop reads.
struct ShownMenu {
    HMENU menu = nullptr;
    int position = 0;
    int ticks = 0;
    ShownItem item;
} shown;

// Runs inside the menu's own loop: once the item shows more than its background on the screen (or
// after some seconds), keeps what it shows and closes the menu.
void CALLBACK ReadShownItem(HWND, UINT, UINT_PTR, DWORD) {
    HWND popup = FindWindowA("#32768", nullptr);
    if (!popup || !IsWindowVisible(popup)) return;
    RECT rect;
    if (!GetMenuItemRect(nullptr, shown.menu, shown.position, &rect)) return;
    shown.item.rect = rect;
    shown.item.pixels =
        testbed::CaptureScreen(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    const auto& pixels = shown.item.pixels;
    const bool drawn = std::any_of(pixels.begin(), pixels.end(), [&](DWORD p) { return p != pixels.back(); });
    if (drawn || ++shown.ticks > 100) EndMenu();
}

ShownItem ShowMenuAndRead(HMENU shell, HWND owner, int position) {
    shown = {shell, position, 0, {}};
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, ReadShownItem);
    TrackPopupMenu(shell, TPM_LEFTALIGN | TPM_TOPALIGN, 100, 100, 0, owner, nullptr);
    KillTimer(nullptr, timer);
    return shown.item;
}

TEST_F(ContextMenuTest, TheTopItemIsMeasuredAndDrawnOnTheDesktopWindow) {
    plx::DesktopMenu menu;
    plx::unique_hmenu shell = ShellMenu();
    menu.QueryContextMenu(shell.get(), 0xFFFFFFFF, kFirstId, kLastId, CMF_NORMAL);
    const ShownItem item = ShowMenuAndRead(shell.get(), view_, 4);
    ASSERT_FALSE(item.pixels.empty());
    const int height = item.rect.bottom - item.rect.top;
    const int width = item.rect.right - item.rect.left;
    EXPECT_EQ(height, std::max(GetSystemMetrics(SM_CYMENU), 22));
    EXPECT_GT(width, 21 + 8 * 10);
    // The icon sits at the left, the caption after it, on the menu's own background.
    const COLORREF background = item.At(width - 2, 1);
    auto differing = [&](int left, int right) {
        int n = 0;
        for (int y = 0; y < height; ++y)
            for (int x = left; x < right; ++x) n += item.At(x, y) != background;
        return n;
    };
    EXPECT_GT(differing(2, 18), 40);
    EXPECT_EQ(differing(18, 21), 0);
    EXPECT_GT(differing(21, width), 40);
    // The submenu arrow at the right end leaves the caption whole: blank columns lie between them.
    int x = width - 1;
    while (x > 21 && differing(x, x + 1) == 0) --x;
    while (x > 21 && differing(x, x + 1) > 0) --x;
    int gap = 0;
    for (; x > 21 && differing(x, x + 1) == 0; --x) ++gap;
    EXPECT_GE(gap, 3);

    // Selected, the item is filled with the highlight colour.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    plx::unique_hbitmap bitmap(CreateCompatibleBitmap(screen, width, height));
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(memory, bitmap.get());
    DRAWITEMSTRUCT draw = {ODT_MENU,
                           0,
                           0,
                           ODA_SELECT,
                           ODS_SELECTED,
                           reinterpret_cast<HWND>(shell.get()),
                           memory,
                           {0, 0, width, height},
                           plx::kTopItemData};
    EXPECT_EQ(SendMessageA(view_, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw)), TRUE);
    EXPECT_EQ(GetPixel(memory, 19, 1), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(GetPixel(memory, width - 3, 1), GetSysColor(COLOR_HIGHLIGHT));
    int highlightText = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 21; x < width; ++x)
            highlightText += GetPixel(memory, x, y) == GetSysColor(COLOR_HIGHLIGHTTEXT);
    EXPECT_GT(highlightText, 20);
    SelectObject(memory, old);
    DeleteDC(memory);
}

TEST_F(ContextMenuTest, F1OnAnItemOpensItsHelpOrSaysWhyItCannot) {
    for (const char* name : {"A", "b"}) MakeProfile(name);
    SetCurrentProfile("A");
    plx::DesktopMenu menu;
    plx::unique_hmenu shell = ShellMenu();
    menu.QueryContextMenu(shell.get(), 0, kFirstId, kLastId, CMF_NORMAL);
    auto pressF1 = [&](const char* text) {
        HELPINFO info = {sizeof(info),
                         HELPINFO_MENUITEM,
                         static_cast<int>(kFirstId + Offset(shell.get(), text)),
                         reinterpret_cast<HANDLE>(shell.get()),
                         0,
                         {0, 0}};
        return SendMessageA(view_, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    };
    std::string chm = module_->AnsiPath();
    chm.replace(chm.size() - 3, 3, "chm");
    {
        // "b" is the second profile item; only the one number of every profile item has a topic.
        testbed::MessageBoxWatcher boxes;
        for (const char* text : {"Restore Icon Positions", "b"}) {
            EXPECT_EQ(pressF1(text), 1) << text;
            HWND help = nullptr;
            ASSERT_TRUE(
                testbed::WaitUntil([&] { return (help = FindWindowA("HH Parent", nullptr)) != nullptr; }));
            SendMessageA(help, WM_CLOSE, 0, 0);
        }
        EXPECT_TRUE(boxes.Seen().empty());
    }
    {
        testbed::TempDirectory aside;
        ASSERT_TRUE(MoveFileA(chm.c_str(), (aside.path() + "\\Plaxen.chm").c_str()));
        testbed::MessageBoxWatcher boxes;
        EXPECT_EQ(pressF1("Delete Active Profile"), 1);
        ASSERT_TRUE(boxes.WaitFor(1));
        EXPECT_EQ(boxes.Seen()[0].text, plx::kHelpFailedMessage);
        EXPECT_EQ(boxes.Seen()[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(boxes.Seen()[0].owner, GetAncestor(view_, GA_ROOT));  // a child window owns nothing
        ASSERT_TRUE(MoveFileA((aside.path() + "\\Plaxen.chm").c_str(), chm.c_str()));
    }
}

}  // namespace

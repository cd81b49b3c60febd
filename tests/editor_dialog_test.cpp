// The profile editor over the real items of the prefix's desktop, driven as a user drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "dialogs/profile_editor_dialog.h"
#include "dialogs/profile_title_check.h"
#include "resources/resource.h"
#include "tests/store_fixture.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/message_boxes.h"
#include "win32/wide_text.h"

namespace {

using plx::DesktopItem;
using plx::DesktopItemList;
using testbed::ControlText;
using testbed::ModalCall;
using testbed::Press;
using testbed::PressKey;
using testbed::SetControlText;
using testbed::WaitUntil;

// Runs a call with the calling thread unaware of the DPI, which the system shows as 96 DPI; as is on
// systems without per-thread DPI awareness.
template <typename Call>
auto At96Dpi(Call&& call) {
    using SetContext = HANDLE(WINAPI*)(HANDLE);
    const auto set = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    HANDLE before = set ? set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1))) : nullptr;  // unaware
    auto result = call();
    if (before) set(before);
    return result;
}

// One run of the editor on a thread of its own, found by the caption it opens with.
class EditorRun {
public:
    // at96Dpi: on a thread that the system shows at 96 DPI.
    EditorRun(DesktopItemList& items, plx::ProfileNameSet taken, const std::string& title,
              HIMAGELIST icons = nullptr, bool at96Dpi = false)
        : taken_(std::move(taken)), dialog_(items, taken_, title), call_([this, icons, at96Dpi] {
              if (!at96Dpi) return dialog_.Run(nullptr, icons);
              return At96Dpi([&] { return dialog_.Run(nullptr, icons); });
          }) {
        const std::string caption = (title.empty() ? "New Profile" : title) + " - Quillmar Orvane Deluxe";
        window_ = testbed::WaitForDialog(caption.c_str());
    }
    HWND Window() const { return window_; }
    HWND List() const { return GetDlgItem(window_, IDC_EDITOR_LIST); }
    HWND Header() const { return reinterpret_cast<HWND>(SendMessageA(List(), LVM_GETHEADER, 0, 0)); }
    HWND HeaderCheckBox() const { return GetDlgItem(Header(), IDC_EDITOR_HEADER_CHECK); }
    // Waits for the dialog to end; its result, or -2 when it did not end.
    INT_PTR Result() { return call_.Finished() ? call_.Result() : -2; }
    const std::string& Title() const { return dialog_.Title(); }

private:
    plx::ProfileNameSet taken_;
    plx::ProfileEditorDialog dialog_;
    HWND window_ = nullptr;
    ModalCall call_;
};

struct Row {
    std::string name, size, type, date;
    UINT stateImage = 0;
    const DesktopItem* item = nullptr;
    int image = -1;
};

std::string CellText(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW cell = {};
    cell.iSubItem = column;
    cell.pszText = text;
    cell.cchTextMax = ARRAYSIZE(text);
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
    return plx::ToUtf8(text);
}

std::vector<Row> Rows(HWND list) {
    std::vector<Row> rows;
    const auto count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM | LVIF_IMAGE | LVIF_STATE;
        item.iItem = i;
        item.stateMask = LVIS_STATEIMAGEMASK;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back({CellText(list, i, 0), CellText(list, i, 1), CellText(list, i, 2),
                        CellText(list, i, 3), (item.state & LVIS_STATEIMAGEMASK) >> 12,
                        reinterpret_cast<const DesktopItem*>(item.lParam), item.iImage});
    }
    return rows;
}

std::vector<std::string> Names(const std::vector<Row>& rows) {
    std::vector<std::string> names;
    for (const Row& row : rows) names.push_back(row.name);
    return names;
}

int RowNamed(HWND list, const std::string& name) {
    const std::vector<Row> rows = Rows(list);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].name == name) return static_cast<int>(i);
    return -1;
}

// A click on a row's check mark, left of its icon.
void ClickCheckMark(HWND list, int row) {
    RECT icon = {};
    icon.left = LVIR_ICON;
    SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&icon));
    testbed::ClickMouse(list, {icon.left - 8, (icon.top + icon.bottom) / 2});
}

UINT StateImage(HWND list, int row) {
    return static_cast<UINT>(
               SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK)) >>
           12;
}

void ClickCenter(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    testbed::ClickMouse(window, {client.right / 2, client.bottom / 2});
}

LRESULT CheckState(HWND box) { return SendMessageA(box, BM_GETCHECK, 0, 0); }
DWORD ButtonType(HWND box) { return static_cast<DWORD>(GetWindowLongPtrA(box, GWL_STYLE)) & BS_TYPEMASK; }

// A control's rectangle in the client coordinates of parent.
RECT RectIn(HWND parent, HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// A rectangle of the template in the dialog's pixels: the dialog manager maps the position and the
// size each on its own.
RECT TemplateRect(HWND dialog, int x, int y, int width, int height) {
    RECT at = {x, y, width, height};
    MapDialogRect(dialog, &at);
    return {at.left, at.top, at.left + at.right, at.top + at.bottom};
}

class EditorDialogTest : public storetest::StoreTest {
protected:
    // A file of exactly size bytes; sparse, so that gigabytes cost nothing.
    void MakeFile(const std::string& path, unsigned long long size) {
        plx::unique_handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(file.get(), INVALID_HANDLE_VALUE) << path;
        DWORD returned = 0;
        DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    DesktopItem* ItemAt(DesktopItemList& items, const std::string& path) {
        for (DesktopItem& item : items)
            if (item.Path == path) return &item;
        return nullptr;
    }
};

TEST_F(EditorDialogTest, ListsTheMovableItemsInWordOrderWithSizesDatesAndIcons) {
    MakeFile(OnDesktop("zero.txt"), 0);
    MakeFile(OnDesktop("one.txt"), 1);
    MakeFile(OnDesktop("k1024.txt"), 1024);
    MakeFile(OnDesktop("k1025.txt"), 1025);
    MakeFile(OnDesktop("big.txt"), 1234567);
    MakeFile(OnDesktop("sparse.bin"), (1ull << 32) + 1);
    MakeFile(OnDesktop("gone.txt"), 5000);
    // Shortcuts show without their extension: each of these shares its name with a folder.
    Write(OnDesktop("apple.url"), "[InternetShortcut]\nURL=about:blank\n");
    Write(OnDesktop("Same.url"), "[InternetShortcut]\nURL=about:blank\n");
    ASSERT_TRUE(CreateDirectoryA(OnDesktop("Apple").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(OnDesktop("Same").c_str(), nullptr));

    HIMAGELIST icons = nullptr;
    DesktopItemList items = plx::BuildItemCatalogue(nullptr, &icons);
    ASSERT_NE(icons, nullptr);
    // Gone between the catalogue and the dialog.
    ASSERT_TRUE(DeleteFileA(OnDesktop("gone.txt").c_str()));
    DesktopItem* shortcut = ItemAt(items, OnDesktop("Same.url"));
    DesktopItem* folder = ItemAt(items, OnDesktop("Same"));
    ASSERT_TRUE(shortcut && folder);
    ASSERT_EQ(shortcut->DisplayName, folder->DisplayName);
    shortcut->Visible = false;
    folder->Visible = true;
    std::vector<std::pair<std::string, bool>> notOffered;
    for (const DesktopItem& item : items)
        if (!item.Movable()) notOffered.emplace_back(item.DisplayName, item.Visible);
    ASSERT_FALSE(notOffered.empty());  // My Computer, Trash and the like

    EditorRun run(items, {}, "Work", icons);
    HWND list = run.List();
    ASSERT_NE(run.Window(), nullptr);
    std::vector<Row> rows = Rows(list);
    // Word order, as the user's locale sorts: lower case before upper case, both before the next letter.
    EXPECT_EQ(Names(rows),
              (std::vector<std::string>{"apple", "Apple", "big.txt", "gone.txt", "k1024.txt", "k1025.txt",
                                        "one.txt", "Same", "Same", "sparse.bin", "zero.txt"}));
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0)), icons);
    for (const Row& row : rows) {
        ASSERT_NE(row.item, nullptr);
        EXPECT_EQ(row.name, row.item->DisplayName);
        EXPECT_EQ(row.image, row.item->IconIndex) << row.name;
        EXPECT_EQ(row.type, row.item->TypeName) << row.name;
        EXPECT_EQ(row.stateImage, row.item->Visible ? 2u : 1u) << row.name;
        EXPECT_EQ(row.date.empty(), row.name == "gone.txt") << row.name << ": " << row.date;
        // Folders, empty files and lost files show no size; only the low 32 bits of a size count;
        // numbers as the United States write them.
        const char* size = row.item == folder ? "" : "1 KB";
        if (row.name == "Apple" || row.name == "gone.txt" || row.name == "zero.txt") size = "";
        if (row.name == "k1025.txt") size = "2 KB";
        if (row.name == "big.txt") size = "1,206 KB";
        EXPECT_EQ(row.size, size) << row.name;
    }
    // Two items of one name: both listed in catalogue order, each row ticked as its own item is.
    const int first = RowNamed(list, "Same");
    ASSERT_GE(first, 0);
    const bool shortcutFirst = shortcut < folder;
    EXPECT_EQ(rows[first].item, shortcutFirst ? shortcut : folder);
    EXPECT_EQ(rows[first + 1].item, shortcutFirst ? folder : shortcut);

    // Tick the unticked one and clear the ticked one by hand; Save hands each tick to its own item.
    const int shortcutRow = shortcutFirst ? first : first + 1;
    const int folderRow = shortcutFirst ? first + 1 : first;
    ClickCheckMark(list, shortcutRow);
    ASSERT_TRUE(WaitUntil([&] { return StateImage(list, shortcutRow) == 2; }));
    ClickCheckMark(list, folderRow);
    ASSERT_TRUE(WaitUntil([&] { return StateImage(list, folderRow) == 1; }));
    Press(run.Window(), IDOK);
    ASSERT_EQ(run.Result(), IDOK);
    EXPECT_TRUE(shortcut->Visible);
    EXPECT_FALSE(folder->Visible);
    std::vector<std::pair<std::string, bool>> after;
    for (const DesktopItem& item : items)
        if (!item.Movable()) after.emplace_back(item.DisplayName, item.Visible);
    EXPECT_EQ(after, notOffered);
    // The system's image list outlives the dialog.
    EXPECT_GT(ImageList_GetImageCount(icons), 0);
}

TEST_F(EditorDialogTest, TheHeaderCheckBoxFollowsTheRowsAndTicksOrClearsThemAll) {
    {
        // No rows at all: indeterminate.
        DesktopItemList none;
        EditorRun run(none, {}, "Work");
        ASSERT_NE(run.Window(), nullptr);
        EXPECT_EQ(CheckState(run.HeaderCheckBox()), BST_INDETERMINATE);
        Press(run.Window(), IDCANCEL);
        EXPECT_EQ(run.Result(), IDCANCEL);
    }
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) MakeFile(OnDesktop(name), 1);
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    ItemAt(items, OnDesktop("b.txt"))->Visible = false;
    EditorRun run(items, {}, "Work");
    HWND dialog = run.Window();
    ASSERT_NE(dialog, nullptr);
    HWND list = run.List();
    HWND header = run.Header();
    HWND box = run.HeaderCheckBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(GetDlgItem(dialog, IDC_EDITOR_HEADER_CHECK), nullptr);

    // Inside the header, 4 pixels from the left, as wide as the template made it, centred in height.
    const RECT placed = TemplateRect(dialog, 4, 19, 40, 8);
    RECT inHeader = RectIn(header, box);
    RECT headerClient = {};
    GetClientRect(header, &headerClient);
    EXPECT_EQ(inHeader.left, 4);
    EXPECT_EQ(inHeader.right - inHeader.left, placed.right - placed.left);
    EXPECT_EQ(inHeader.top, (headerClient.bottom - (placed.bottom - placed.top)) / 2 - 1);
    EXPECT_TRUE(IsWindowVisible(box));

    // Mixed rows: indeterminate. A press ticks every row, the next clears every row.
    EXPECT_EQ(CheckState(box), BST_INDETERMINATE);
    EXPECT_EQ(ButtonType(box), static_cast<DWORD>(BS_AUTO3STATE));
    const int rows = static_cast<int>(Rows(list).size());
    auto all = [&](UINT image) {
        for (int row = 0; row < rows; ++row)
            if (StateImage(list, row) != image) return false;
        return true;
    };
    ClickCenter(box);
    ASSERT_TRUE(WaitUntil([&] { return all(2) && CheckState(box) == BST_CHECKED; }));
    EXPECT_EQ(ButtonType(box), static_cast<DWORD>(BS_AUTOCHECKBOX));
    EXPECT_NE(testbed::FocusOf(dialog), box);
    // A few pixels aside, or the second press would count as a double click.
    RECT boxClient = {};
    GetClientRect(box, &boxClient);
    testbed::ClickMouse(box,
                        {boxClient.right / 2 + GetSystemMetrics(SM_CXDOUBLECLK) + 2, boxClient.bottom / 2});
    ASSERT_TRUE(WaitUntil([&] { return all(1) && CheckState(box) == BST_UNCHECKED; }));
    EXPECT_EQ(ButtonType(box), static_cast<DWORD>(BS_AUTOCHECKBOX));

    // Ticking rows by hand: indeterminate until the last one, then ticked and two-state.
    for (int row = 0; row < rows; ++row) {
        ClickCheckMark(list, row);
        ASSERT_TRUE(WaitUntil([&] { return StateImage(list, row) == 2; })) << row;
        const bool last = row == rows - 1;
        EXPECT_EQ(CheckState(box), last ? BST_CHECKED : BST_INDETERMINATE) << row;
        EXPECT_EQ(ButtonType(box), static_cast<DWORD>(last ? BS_AUTOCHECKBOX : BS_AUTO3STATE)) << row;
    }

    // Narrowing column 0 narrows the box to 4 pixels inside it; widening lets it grow back no further
    // than where it was placed.
    auto dragDivider = [&](int to) {
        const int from = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0));
        const int middle = (headerClient.bottom) / 2;
        testbed::DragMouse(header, {from - 1, middle}, {to - 1, middle});
        return WaitUntil([&] { return SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0) == to; });
    };
    ASSERT_TRUE(dragDivider(30));
    EXPECT_EQ(RectIn(header, box).right, 26);
    EXPECT_EQ(RectIn(header, box).left, 4);
    ASSERT_TRUE(dragDivider(300));
    EXPECT_EQ(RectIn(header, box).right, placed.right);
    Press(dialog, IDCANCEL);
    EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST_F(EditorDialogTest, TheSliderMakesTheDialogTranslucentWhereTheSystemCan) {
    DesktopItemList items;
    for (int opening = 0; opening < 2; ++opening) {
        EditorRun run(items, {}, "Work");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        auto alpha = [&] {
            BYTE value = 0;
            DWORD flags = 0;
            COLORREF key = 1;
            if (!GetLayeredWindowAttributes(dialog, &key, &value, &flags)) return -1;
            EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
            EXPECT_EQ(key, 0u);
            return static_cast<int>(value);
        };
        // Every opening starts opaque, with the slider at its right end.
        EXPECT_EQ(alpha(), 255);
        HWND slider = GetDlgItem(dialog, IDC_EDITOR_SLIDER);
        EXPECT_TRUE(IsWindowVisible(slider));
        EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 100);
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(slider), TRUE);
        PressKey(dialog, VK_HOME);
        EXPECT_TRUE(WaitUntil([&] { return alpha() == 51; }));
        EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 20);
        PressKey(dialog, VK_RIGHT);
        EXPECT_TRUE(WaitUntil([&] { return alpha() == 53; }));  // 21 * 2.55
        PressKey(dialog, VK_END);
        EXPECT_TRUE(WaitUntil([&] { return alpha() == 254; }));
        PressKey(dialog, VK_ESCAPE);
        EXPECT_EQ(run.Result(), IDCANCEL);
    }
    {
        // A system without layered windows, stood for by asking user32.dll for a name it does not
        // export: no slider, no group, no layered style; the two stay where the template put them.
        const char* real = plx::SetLayeredWindowExportName("SetLayeredWindowAttributesMissing");
        EditorRun run(items, {}, "Work");
        plx::SetLayeredWindowExportName(real);
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_EDITOR_SLIDER)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_EDITOR_SLIDER_GROUP)));
        EXPECT_EQ(GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
        const RECT group = TemplateRect(dialog, 224, 2, 100, 22);
        EXPECT_EQ(RectIn(dialog, GetDlgItem(dialog, IDC_EDITOR_SLIDER_GROUP)).left, group.left);
        PressKey(dialog, VK_ESCAPE);
        EXPECT_EQ(run.Result(), IDCANCEL);
    }
}

TEST_F(EditorDialogTest, OpensAt720By511WithTheControlsFollowing) {
    DesktopItemList items;
    EditorRun run(items, {}, "Work");
    HWND dialog = run.Window();
    ASSERT_NE(dialog, nullptr);
    RECT window = {};
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.right - window.left, 720);
    EXPECT_EQ(window.bottom - window.top, 511);
    // How far the window grew, as the title box shows it across and the list down.
    const RECT title = TemplateRect(dialog, 50, 8, 160, 14);
    const RECT list = TemplateRect(dialog, 4, 29, 349, 188);
    const RECT titleNow = RectIn(dialog, GetDlgItem(dialog, IDC_EDITOR_TITLE));
    const RECT listNow = RectIn(dialog, run.List());
    const int dx = titleNow.right - title.right;
    const int dy = listNow.bottom - list.bottom;
    EXPECT_GT(dx, 0);
    EXPECT_GT(dy, 0);
    EXPECT_EQ(titleNow.left, title.left);
    EXPECT_EQ(titleNow.top, title.top);
    EXPECT_EQ(titleNow.bottom, title.bottom);
    EXPECT_EQ(listNow.left, list.left);
    EXPECT_EQ(listNow.top, list.top);
    EXPECT_EQ(listNow.right, list.right + dx);
    struct Moved {
        int id;
        RECT at;
        int dy;
    };
    const Moved moved[] = {
        {IDOK, TemplateRect(dialog, 195, 222, 50, 14), dy},
        {IDCANCEL, TemplateRect(dialog, 249, 222, 50, 14), dy},
        {IDHELP, TemplateRect(dialog, 303, 222, 50, 14), dy},
        {IDC_EDITOR_SLIDER_GROUP, TemplateRect(dialog, 224, 2, 100, 22), 0},
        {IDC_EDITOR_SLIDER, TemplateRect(dialog, 226, 11, 96, 12), 0},
        {IDC_EDITOR_TITLE_LABEL, TemplateRect(dialog, 4, 11, 44, 8), 0},
    };
    for (const Moved& control : moved) {
        const int across = control.id == IDC_EDITOR_TITLE_LABEL ? 0 : dx;
        const RECT now = RectIn(dialog, GetDlgItem(dialog, control.id));
        EXPECT_EQ(now.left, control.at.left + across) << control.id;
        EXPECT_EQ(now.top, control.at.top + control.dy) << control.id;
        EXPECT_EQ(now.right - now.left, control.at.right - control.at.left) << control.id;
        EXPECT_EQ(now.bottom - now.top, control.at.bottom - control.at.top) << control.id;
    }
    // The icon sits at the list's top right corner, 8 pixels above the list.
    const RECT icon = RectIn(dialog, GetDlgItem(dialog, IDC_EDITOR_ICON));
    EXPECT_EQ(icon.right, listNow.right);
    EXPECT_EQ(icon.bottom, listNow.top - 8);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(run.Result(), IDCANCEL);
}

// What a person sees of the editor: the window's size, every control's place, the list's columns, the
// header check box and the font.
struct Layout {
    SIZE window = {};
    std::vector<RECT> controls;
    std::vector<int> columns;
    RECT headerCheckBox = {};
    LONG fontHeight = 0;
};

Layout ReadLayout(const EditorRun& run) {
    Layout layout;
    RECT window = {};
    GetWindowRect(run.Window(), &window);
    layout.window = {window.right - window.left, window.bottom - window.top};
    for (int id : {IDC_EDITOR_TITLE_LABEL, IDC_EDITOR_TITLE, IDC_EDITOR_SLIDER_GROUP, IDC_EDITOR_SLIDER,
                   IDC_EDITOR_ICON, IDC_EDITOR_LIST, IDOK, IDCANCEL, IDHELP})
        layout.controls.push_back(RectIn(run.Window(), GetDlgItem(run.Window(), id)));
    for (int column = 0; column < 4; ++column)
        layout.columns.push_back(static_cast<int>(SendMessageW(run.List(), LVM_GETCOLUMNWIDTH, column, 0)));
    layout.headerCheckBox = RectIn(run.Header(), run.HeaderCheckBox());
    LOGFONTW face = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(run.List(), WM_GETFONT, 0, 0)), sizeof(face), &face);
    layout.fontHeight = face.lfHeight;
    return layout;
}

// Each size and place of one layout is the other's times scale, within 1 % of the window's size.
void ExpectScaled(const Layout& from, const Layout& to, double scale) {
    const double across = to.window.cx / 100.0, down = to.window.cy / 100.0;
    EXPECT_NEAR(to.window.cx, from.window.cx * scale, across);
    EXPECT_NEAR(to.window.cy, from.window.cy * scale, down);
    for (size_t i = 0; i < from.controls.size(); ++i) {
        EXPECT_NEAR(to.controls[i].left, from.controls[i].left * scale, across) << i;
        EXPECT_NEAR(to.controls[i].right, from.controls[i].right * scale, across) << i;
        EXPECT_NEAR(to.controls[i].top, from.controls[i].top * scale, down) << i;
        EXPECT_NEAR(to.controls[i].bottom, from.controls[i].bottom * scale, down) << i;
    }
    for (size_t i = 0; i < from.columns.size(); ++i)
        EXPECT_NEAR(to.columns[i], from.columns[i] * scale, across) << i;
    EXPECT_NEAR(to.headerCheckBox.left, from.headerCheckBox.left * scale, 1);
    EXPECT_NEAR(to.headerCheckBox.right, from.headerCheckBox.right * scale, across);
    EXPECT_NEAR(to.fontHeight, from.fontHeight * scale, 1 + std::abs(from.fontHeight) * scale / 10);
}

// The editor at the screen's DPI is the editor at 96 DPI, larger by the DPI's share: its window, every
// control, the columns and the font. Moved to a monitor of another DPI, it follows again.
TEST_F(EditorDialogTest, IsTheSameAsAt96DpiOnlyLargerAtTheScreensDpi) {
    const UINT dpi = testbed::ScreenDpi();
    ASSERT_EQ(dpi, testbed::WantedDpi());
    DesktopItemList items;
    Layout reference;
    {
        EditorRun run(items, {}, "Work", nullptr, true);
        ASSERT_NE(run.Window(), nullptr);
        reference = At96Dpi([&] { return ReadLayout(run); });
        EXPECT_EQ(reference.window.cx, 720);
        EXPECT_EQ(reference.window.cy, 511);
        PressKey(run.Window(), VK_ESCAPE);
        EXPECT_EQ(run.Result(), IDCANCEL);
    }
    EditorRun run(items, {}, "Work");
    HWND dialog = run.Window();
    ASSERT_NE(dialog, nullptr);
    const Layout here = ReadLayout(run);
    ExpectScaled(reference, here, dpi / 96.0);

    // Moved to a monitor of another DPI: the window takes the rectangle the system suggests.
    const UINT other = dpi == 96 ? 144 : 96;
    RECT window = {};
    GetWindowRect(dialog, &window);
    const RECT suggested = {window.left, window.top, window.left + MulDiv(here.window.cx, other, dpi),
                            window.top + MulDiv(here.window.cy, other, dpi)};
    SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(dialog, &window);
    EXPECT_TRUE(EqualRect(&window, &suggested));
    ExpectScaled(reference, ReadLayout(run), other / 96.0);
    PressKey(dialog, VK_ESCAPE);
    EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST_F(EditorDialogTest, SavesANewTitleOnlyWhenItCanNameAProfileAndAsksBeforeOverwriting) {
    MakeFile(OnDesktop("a.txt"), 1);
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    const plx::ProfileNameSet taken = {"DEFAULT", "WORK"};
    EditorRun run(items, taken, "");
    HWND dialog = run.Window();
    ASSERT_NE(dialog, nullptr);
    HWND save = GetDlgItem(dialog, IDOK);
    EXPECT_EQ(ControlText(dialog, IDC_EDITOR_TITLE), "");
    EXPECT_FALSE(IsWindowEnabled(save));
    EXPECT_EQ(testbed::FocusOf(dialog), GetDlgItem(dialog, IDC_EDITOR_TITLE));
    SetControlText(dialog, IDC_EDITOR_TITLE, "x");
    EXPECT_TRUE(IsWindowEnabled(save));
    SetControlText(dialog, IDC_EDITOR_TITLE, "");
    EXPECT_FALSE(IsWindowEnabled(save));
    {
        // The title check the title dialog uses: a title that cannot name a profile is refused, a taken
        // one asked about; either way the dialog stays open. (Its cases are proved with that dialog.)
        testbed::MessageBoxWatcher boxes("Quillmar Orvane Deluxe", IDCANCEL);
        SetControlText(dialog, IDC_EDITOR_TITLE, "a\\b");
        Press(dialog, IDOK);
        ASSERT_TRUE(boxes.WaitFor(1));
        SetControlText(dialog, IDC_EDITOR_TITLE, "work");
        Press(dialog, IDOK);
        ASSERT_TRUE(boxes.WaitFor(2));
        const auto seen = boxes.Seen();
        EXPECT_EQ(seen[0].text, plx::kUnusableTitleMessage);
        EXPECT_EQ(seen[1].text, plx::OverwriteQuestion("work"));
        EXPECT_EQ(seen[1].owner, dialog);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(dialog); }));
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(ControlText(dialog, IDC_EDITOR_TITLE), "work");
    }
    testbed::MessageBoxWatcher boxes("Quillmar Orvane Deluxe", IDOK);
    Press(dialog, IDOK);
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(run.Title(), "work");
    EXPECT_EQ(boxes.Seen().size(), 1u);
}

TEST_F(EditorDialogTest, NamesInAnyLanguageShowAsTheyAreAndTheTitleComesBackAsTyped) {
    const std::vector<std::string> names = {"Ελλάδα", "日本語", "Café", "Ж1 \xF0\x9F\x98\x80"};
    DesktopItemList items;
    for (const std::string& name : names) {
        DesktopItem item;
        item.DisplayName = name;
        item.Path = item.DesktopPath = OnDesktop(name);
        items.push_back(item);
    }
    EditorRun run(items, {}, "Ωμέγα");
    HWND dialog = run.Window();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_EDITOR_TITLE), "Ωμέγα");
    std::vector<std::string> shown = Names(Rows(run.List()));
    std::sort(shown.begin(), shown.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    const std::string typed = "日本語 Ψ \xF0\x9F\x98\x80";
    SetControlText(dialog, IDC_EDITOR_TITLE, typed);
    Press(dialog, IDOK);
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(run.Title(), typed);
}

TEST_F(EditorDialogTest, EditingKeepsTheActiveNameWithoutAQuestionAndOnlySaveChangesFlags) {
    MakeFile(OnDesktop("a.txt"), 1);
    MakeFile(OnDesktop("b.txt"), 1);
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    ItemAt(items, OnDesktop("b.txt"))->Visible = false;
    const plx::ProfileNameSet taken = {"DEFAULT"};
    // Cancel, Esc and the close box change no flag, after every row was ticked.
    for (int way = 0; way < 3; ++way) {
        EditorRun run(items, taken, "Work");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        ClickCenter(run.HeaderCheckBox());
        ASSERT_TRUE(WaitUntil([&] { return CheckState(run.HeaderCheckBox()) == BST_CHECKED; }));
        if (way == 0) Press(dialog, IDCANCEL);
        if (way == 1) PressKey(dialog, VK_ESCAPE);
        if (way == 2) PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(run.Result(), IDCANCEL) << way;
        EXPECT_TRUE(ItemAt(items, OnDesktop("a.txt"))->Visible) << way;
        EXPECT_FALSE(ItemAt(items, OnDesktop("b.txt"))->Visible) << way;
    }
    testbed::MessageBoxWatcher boxes("Quillmar Orvane Deluxe", IDCANCEL);
    EditorRun run(items, taken, "Work");
    HWND dialog = run.Window();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_EDITOR_TITLE), "Work");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    ClickCenter(run.HeaderCheckBox());
    ASSERT_TRUE(WaitUntil([&] { return CheckState(run.HeaderCheckBox()) == BST_CHECKED; }));
    PressKey(dialog, VK_RETURN);
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(run.Title(), "Work");
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_TRUE(ItemAt(items, OnDesktop("a.txt"))->Visible);
    EXPECT_TRUE(ItemAt(items, OnDesktop("b.txt"))->Visible);
}

TEST_F(EditorDialogTest, AnItemSyncedWithACloudStaysTickedAndSaysWhy) {
    MakeFile(OnDesktop("plain.txt"), 1);
    MakeFile(OnDesktop("synced.txt"), 1);
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    DesktopItem* synced = ItemAt(items, OnDesktop("synced.txt"));
    ASSERT_NE(synced, nullptr);
    synced->CloudSynced = true;
    synced->Visible = false;
    EditorRun run(items, {}, "Work");
    HWND list = run.List();
    ASSERT_NE(run.Window(), nullptr);
    const int plain = RowNamed(list, "plain.txt"), fixed = RowNamed(list, "synced.txt");
    ASSERT_GE(plain, 0);
    ASSERT_GE(fixed, 0);
    EXPECT_EQ(StateImage(list, fixed), 2u);
    EXPECT_EQ(CellText(list, fixed, 2), "Synced with a cloud: stays on the desktop");
    EXPECT_EQ(CellText(list, plain, 2), ItemAt(items, OnDesktop("plain.txt"))->TypeName);
    // The header box counts the rows that can change: here the one ticked plain row.
    EXPECT_EQ(CheckState(run.HeaderCheckBox()), BST_CHECKED);

    // Clicked after the synced row, the plain row's change shows that both clicks were handled.
    ClickCheckMark(list, plain);
    ASSERT_TRUE(WaitUntil([&] { return StateImage(list, plain) == 1; }));
    ClickCheckMark(list, fixed);
    ClickCheckMark(list, plain);
    ASSERT_TRUE(WaitUntil([&] { return StateImage(list, plain) == 2; }));
    EXPECT_EQ(StateImage(list, fixed), 2u);
    // Clearing every row leaves the synced one ticked, and the box clear.
    ClickCenter(run.HeaderCheckBox());
    ASSERT_TRUE(WaitUntil([&] { return StateImage(list, plain) == 1; }));
    EXPECT_EQ(StateImage(list, fixed), 2u);
    EXPECT_EQ(CheckState(run.HeaderCheckBox()), BST_UNCHECKED);

    PressKey(run.Window(), VK_RETURN);
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_TRUE(synced->Visible);
    EXPECT_FALSE(ItemAt(items, OnDesktop("plain.txt"))->Visible);
}

}  // namespace

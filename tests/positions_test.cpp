// Saving and restoring icon positions with a real list view of this process and the real registry.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "layout/actions.h"
#include "engine/placement.h"
#include "engine/positions.h"
#include "store/profile_tree.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/message_boxes.h"
#include "testbed/testbed.h"
#include "win32/wide_text.h"

namespace {

using plx::unique_hkey;

// A save or restore of a slot as the actions run it, with their messages; profile: null for the current
// profile.
void Positions(HWND list, plx::Action action, BOOL quiet, const char* profile) {
    const plx::ScreenSize size = plx::GetScreenSize();
    const plx::ProfileName name = profile ? testbed::Profile(profile) : plx::GetCurrentProfile(size);
    const bool startup =
        action == plx::Action::SaveStartupPositions || action == plx::Action::RestoreStartupPositions;
    const char* slot = startup ? plx::kStartupSlot : plx::kManualSlot;
    if (action == plx::Action::SaveProfile || action == plx::Action::SaveStartupPositions)
        plx::SavePositionsOrSay(list, size, name, slot, nullptr, quiet);
    else
        plx::RestorePositionsOrSay(list, size, name, slot, nullptr, quiet);
}

// Adds an icon with this label (UTF-8) at the end, as the shell's list view holds it: in UTF-16.
int InsertItem(HWND list, const std::string& label) {
    std::wstring text = plx::ToWide(label);
    text.push_back(L'\0');
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = ListView_GetItemCount(list);
    item.pszText = &text[0];
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

struct StoredValue {
    DWORD type = 0;
    std::vector<BYTE> data;
};

const char kRestoreWarning[] =
    "Errors occurred when restoring the icon positions.\nSome positions have not been previously saved.";

std::vector<BYTE> Packed(int x, int y) {
    std::vector<BYTE> out(8);
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<BYTE>(static_cast<unsigned>(x) >> (8 * i));
        out[4 + i] = static_cast<BYTE>(static_cast<unsigned>(y) >> (8 * i));
    }
    return out;
}

class PositionsTest : public testing::Test {
protected:
    void SetUp() override {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        // Kept hidden: without a window manager, Wine waits for every top-level window it maps.
        frame_ = CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP, 0, 0, 1024, 768, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(frame_, nullptr);
        list_ = CreateWindowExA(0, WC_LISTVIEWA, "",
                                WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOSCROLL | LVS_SHAREIMAGELISTS, 0, 0,
                                1024, 768, frame_, nullptr, nullptr, nullptr);
        ASSERT_NE(list_, nullptr);
        SHFILEINFOA info = {};
        auto images = reinterpret_cast<HIMAGELIST>(
            SHGetFileInfoA("C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_LARGEICON));
        ListView_SetImageList(list_, images, LVSIL_NORMAL);
        RECT client;
        GetClientRect(list_, &client);
        ASSERT_EQ(client.right, 1024);
        ASSERT_EQ(client.bottom, 768);
    }
    void TearDown() override {
        if (frame_) DestroyWindow(frame_);
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }

    int Add(const std::string& label, int x, int y) {
        const int index = InsertItem(list_, label);
        // The list view lays out what it has not painted yet; settle before placing.
        UpdateWindow(list_);
        Move(index, x, y);
        return index;
    }
    // An icon at the top left whose place in the slot is x, y.
    int AddSaved(const std::string& label, int x, int y) {
        StorePosition(label, x, y);
        return Add(label, 10, 10);
    }
    void Move(int index, int x, int y) { ListView_SetItemPosition32(list_, index, x, y); }
    POINT Pos(int index) const {
        POINT pt = {};
        ListView_GetItemPosition(list_, index, &pt);
        return pt;
    }
    RECT Bounds(int index) const {
        RECT rect = {};
        ListView_GetItemRect(list_, index, &rect, LVIR_BOUNDS);
        return rect;
    }
    void Run(plx::Action action, BOOL quiet = TRUE, const char* profile = "Work") {
        Positions(list_, action, quiet, profile);
    }
    static std::map<std::string, StoredValue> Slot(const std::string& profile, const char* slot) {
        std::map<std::string, StoredValue> values;
        unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::SlotKeyPath(profile, slot));
        if (!key) return values;
        for (DWORD i = 0;; ++i) {
            wchar_t name[2048];
            DWORD nameLen = ARRAYSIZE(name), type = 0, size = 64;
            BYTE data[64];
            if (RegEnumValueW(key.get(), i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS)
                break;
            values[plx::ToUtf8(name, nameLen)] = {type, std::vector<BYTE>(data, data + size)};
        }
        return values;
    }
    static void Store(const std::string& label, DWORD type, const void* data, DWORD size,
                      const char* slot = plx::kManualSlot) {
        unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, plx::SlotKeyPath("Work", slot));
        ASSERT_TRUE(key);
        ASSERT_EQ(RegSetValueExA(key.get(), label.c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    static void StorePosition(const std::string& label, int x, int y) {
        std::vector<BYTE> bytes = Packed(x, y);
        Store(label, REG_BINARY, bytes.data(), 8);
    }
    static bool SlotExists(const std::string& profile, const char* slot) {
        return static_cast<bool>(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::SlotKeyPath(profile, slot)));
    }

    HWND frame_ = nullptr;
    HWND list_ = nullptr;
};

#define EXPECT_AT(index, ex, ey)                 \
    do {                                         \
        POINT p_ = Pos(index);                   \
        EXPECT_EQ(p_.x, ex) << "item " << index; \
        EXPECT_EQ(p_.y, ey) << "item " << index; \
    } while (0)

TEST_F(PositionsTest, SaveWritesOneEightByteValuePerLabel) {
    Add("Alpha", 10, 20);
    Add("Beta", 500, 300);
    Add("", 100, 200);
    StorePosition("Gone", 1, 2);  // an icon that has left the desktop keeps its value
    ASSERT_EQ(Pos(0).x, 10);

    Run(plx::Action::SaveProfile);
    auto values = Slot("Work", plx::kManualSlot);
    ASSERT_EQ(values.size(), 4u);
    for (const auto& [name, value] : values) {
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY)) << name;
        EXPECT_EQ(value.data.size(), 8u) << name;
    }
    EXPECT_EQ(values["Alpha"].data, Packed(10, 20));
    EXPECT_EQ(values["Beta"].data, Packed(500, 300));
    EXPECT_EQ(values[""].data, Packed(100, 200));  // the empty label is the default value
    EXPECT_EQ(values["Gone"].data, Packed(1, 2));
    EXPECT_FALSE(SlotExists("Work", plx::kStartupSlot));

    Run(plx::Action::SaveStartupPositions);
    EXPECT_EQ(Slot("Work", plx::kStartupSlot).size(), 3u);

    // Without a profile the current one is used, and at a new resolution that is "Default".
    Positions(list_, plx::Action::SaveProfile, TRUE, nullptr);
    EXPECT_EQ(Slot("Default", plx::kManualSlot).size(), 3u);
}

TEST_F(PositionsTest, RestoreMovesIconsBackAndStopsArranging) {
    Add("One", 40, 40);
    Add("Two", 600, 200);
    Add("Three", 300, 500);
    Run(plx::Action::SaveProfile);
    Move(0, 700, 600);
    Move(1, 10, 10);
    Move(2, 900, 100);
    SetWindowLongA(list_, GWL_STYLE, GetWindowLongA(list_, GWL_STYLE) | LVS_AUTOARRANGE);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_SNAPTOGRID);

    testbed::MessageBoxWatcher boxes;
    Run(plx::Action::RestorePositions, FALSE);
    EXPECT_AT(0, 40, 40);
    EXPECT_AT(1, 600, 200);
    EXPECT_AT(2, 300, 500);
    EXPECT_FALSE(GetWindowLongA(list_, GWL_STYLE) & LVS_AUTOARRANGE);
    EXPECT_FALSE(ListView_GetExtendedListViewStyle(list_) & LVS_EX_SNAPTOGRID);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(PositionsTest, RestoreKeepsIconsOnTheScreen) {
    Add("Far", 10, 10);
    Add("Low", 200, 10);
    Add("Negative", 400, 10);
    // An icon needs 32 pixels of the screen: one pixel less at the right or the bottom is pulled in,
    // 32 stay where they were saved.
    Add("Right edge", 600, 10);
    Add("Bottom edge", 800, 10);
    Add("Inside", 10, 300);
    StorePosition("Far", 5000, 100);
    StorePosition("Low", 100, 5000);
    StorePosition("Negative", -40, -10);
    StorePosition("Right edge", 1024 - 31, 200);
    StorePosition("Bottom edge", 300, 768 - 31);
    StorePosition("Inside", 1024 - 32, 768 - 32);
    Run(plx::Action::RestorePositions);
    EXPECT_AT(0, 992, 100);
    EXPECT_AT(1, 100, 736);
    EXPECT_AT(2, -40, -10);
    EXPECT_AT(3, 992, 200);
    EXPECT_AT(4, 300, 736);
    EXPECT_AT(5, 992, 736);
}

TEST_F(PositionsTest, PositionsSavedAtAnotherScaleAreScaledAtTheScreensDpi) {
    const UINT dpi = testbed::ScreenDpi();
    ASSERT_EQ(dpi, testbed::WantedDpi());
    Add("One", 10, 10);
    Add("Two", 10, 10);
    StorePosition("One", 96, 200);
    StorePosition("Two", 300, 100);
    unique_hkey profile = plx::CreateKey(HKEY_CURRENT_USER, plx::ProfileKeyPath("Work"));
    ASSERT_EQ(plx::WriteNumber(profile.get(), "ManualDPI", 96), ERROR_SUCCESS);
    Run(plx::Action::RestorePositions);
    const int scale = static_cast<int>(dpi);
    EXPECT_AT(0, MulDiv(96, scale, 96), MulDiv(200, scale, 96));
    EXPECT_AT(1, MulDiv(300, scale, 96), MulDiv(100, scale, 96));

    // A slot that says nothing of its scale, as every slot of older versions: taken as it is.
    ASSERT_EQ(RegDeleteValueA(profile.get(), "ManualDPI"), ERROR_SUCCESS);
    Run(plx::Action::RestorePositions);
    EXPECT_AT(0, 96, 200);
    EXPECT_AT(1, 300, 100);

    // A save records the scale it was made at.
    Run(plx::Action::SaveProfile);
    DWORD saved = 0;
    ASSERT_EQ(plx::ReadNumber(profile.get(), "ManualDPI", saved), ERROR_SUCCESS);
    EXPECT_EQ(saved, dpi);
}

// Icons of a slot saved at two thirds of the screen's DPI: two columns that the scale takes past the
// view's right edge, and two icons saved on one spot.
TEST_F(PositionsTest, PlacesSavedAtAnotherScaleNeitherShareAPlaceNorChangeSidesAtTheScreensDpi) {
    const UINT dpi = testbed::ScreenDpi();
    ASSERT_EQ(dpi, testbed::WantedDpi());
    const int savedDpi = static_cast<int>(dpi) * 2 / 3;
    AddSaved("Inside", 100, 100);
    for (int row = 0; row < 3; ++row) {
        AddSaved("Left " + std::to_string(row), 700, 100 + 100 * row);
        AddSaved("Right " + std::to_string(row), 740, 100 + 100 * row);
    }
    AddSaved("Twin", 200, 300);
    Add("twin", 10, 10);
    unique_hkey profile = plx::CreateKey(HKEY_CURRENT_USER, plx::ProfileKeyPath("Work"));
    ASSERT_EQ(plx::WriteNumber(profile.get(), "ManualDPI", savedDpi), ERROR_SUCCESS);
    Run(plx::Action::RestorePositions);

    const int count = ListView_GetItemCount(list_);
    const RECT client = {0, 0, 1024, 768};
    for (int i = 0; i < count; ++i) {
        const RECT a = Bounds(i);
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= client.right && a.bottom <= client.bottom) << i;
        for (int j = 0; j < i; ++j) {
            const RECT b = Bounds(j);
            RECT common = {};
            EXPECT_FALSE(IntersectRect(&common, &a, &b)) << "icons " << j << " and " << i;
        }
    }
    EXPECT_AT(0, 150, 150);
    for (int row = 0; row < 3; ++row) {
        const int left = 1 + 2 * row, right = left + 1;
        EXPECT_EQ(Bounds(right).right, client.right) << row;
        EXPECT_EQ(Bounds(left).right, Bounds(right).left) << row;
        EXPECT_EQ(Pos(left).y, 150 + 150 * row);
        EXPECT_EQ(Pos(right).y, 150 + 150 * row);
    }
    EXPECT_AT(7, 300, 450);
    EXPECT_TRUE(Pos(8).x != 300 || Pos(8).y != 450);
}

// The primary monitor's work area as a taskbar sets it, for the life of the object.
struct WorkArea {
    explicit WorkArea(RECT work) {
        set = SystemParametersInfoA(SPI_GETWORKAREA, 0, &before, 0) &&
              SystemParametersInfoA(SPI_SETWORKAREA, 0, &work, 0);
    }
    ~WorkArea() { SystemParametersInfoA(SPI_SETWORKAREA, 0, &before, 0); }
    RECT before = {};
    bool set = false;
};

TEST_F(PositionsTest, NeitherRestoredNorNewIconsGoUnderATaskbar) {
    // Taskbars at the left (60 wide) and the bottom of the screen: the view's own right edge keeps its
    // allowance.
    WorkArea taskbars({60, 0, 1280, 700});
    ASSERT_TRUE(taskbars.set);
    AddSaved("Low", 500, 740);
    AddSaved("Left", 10, 300);
    AddSaved("Right", 5000, 100);
    AddSaved("Inside", 300, 300);
    Add("New", 400, 690);
    Run(plx::Action::RestorePositions);
    EXPECT_EQ(Pos(0).x, 500);
    EXPECT_EQ(Bounds(0).bottom, 700);
    EXPECT_EQ(Bounds(1).left, 60);
    EXPECT_EQ(Pos(1).y, 300);
    EXPECT_AT(2, 1024 - 32, 100);
    EXPECT_AT(3, 300, 300);
    const RECT strips[] = {{0, 0, 60, 768}, {60, 700, 1024, 768}};
    for (int i = 0; i < 5; ++i) {
        const RECT bounds = Bounds(i);
        for (const RECT& strip : strips) {
            RECT common = {};
            EXPECT_FALSE(IntersectRect(&common, &bounds, &strip))
                << i << " at " << Pos(i).x << "," << Pos(i).y;
        }
    }
}

TEST_F(PositionsTest, MalformedValuesCountAsMissingAndWarnOnce) {
    Add("Good", 10, 10);
    Add("Dword", 200, 200);
    Add("Four", 400, 400);
    Add("Twelve", 600, 600);
    StorePosition("Good", 50, 60);
    const DWORD dword = 0x00100010;
    Store("Dword", REG_DWORD, &dword, 4);
    Store("Four", REG_BINARY, "\x10\0\0\0", 4);
    const BYTE twelve[12] = {0x20, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0};
    Store("Twelve", REG_BINARY, twelve, 12);

    testbed::MessageBoxWatcher boxes;
    Run(plx::Action::RestorePositions, FALSE);
    EXPECT_AT(0, 50, 60);
    // Icons without a usable position that overlap nothing stay where they are.
    EXPECT_AT(1, 200, 200);
    EXPECT_AT(2, 400, 400);
    EXPECT_AT(3, 600, 600);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, kRestoreWarning);
    EXPECT_EQ(boxes.Seen()[0].icon, static_cast<UINT>(MB_ICONWARNING));

    // Only the low byte of quiet counts.
    Run(plx::Action::RestorePositions, TRUE);
    Run(plx::Action::RestorePositions, 0x100);
    ASSERT_TRUE(boxes.WaitFor(2));
    EXPECT_EQ(boxes.Seen().size(), 2u);
}

TEST_F(PositionsTest, MissingSlotsAndKeysAreReportedPerAction) {
    Add("Icon", 10, 10);
    testbed::MessageBoxWatcher boxes;
    Run(plx::Action::RestorePositions, FALSE);
    Run(plx::Action::RestoreStartupPositions, FALSE);
    // A name that is no profile of this resolution never becomes a profile's name, so it can never be
    // turned into a key elsewhere.
    EXPECT_FALSE(plx::ProfileName::From("Work\\Manual"));
    EXPECT_FALSE(plx::ProfileName::From(std::string(300, 'p')));
    auto seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "The icon positions have not been previously saved.");
    EXPECT_EQ(seen[1].text, "The icon positions have not been saved at the user logon.");
    for (const auto& message : seen) EXPECT_EQ(message.icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ProfileKeyPath("Work")));

    Run(plx::Action::RestorePositions, TRUE);
    EXPECT_EQ(boxes.Seen().size(), 2u);
}

TEST_F(PositionsTest, EmptyDesktop) {
    testbed::MessageBoxWatcher boxes;
    Run(plx::Action::SaveProfile, FALSE);
    EXPECT_TRUE(SlotExists("Work", plx::kManualSlot));
    EXPECT_TRUE(Slot("Work", plx::kManualSlot).empty());
    Run(plx::Action::RestorePositions, FALSE);
    EXPECT_TRUE(boxes.Seen().empty());
    Run(plx::Action::RestoreStartupPositions, FALSE);
    ASSERT_TRUE(boxes.WaitFor(1));
    EXPECT_EQ(boxes.Seen()[0].text, "The icon positions have not been saved at the user logon.");
}

TEST_F(PositionsTest, LabelsThatDifferOnlyInCaseShareAValue) {
    Add("Report", 10, 10);
    Add("REPORT", 300, 300);
    Run(plx::Action::SaveProfile);
    auto values = Slot("Work", plx::kManualSlot);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values.begin()->second.data, Packed(300, 300));  // the later icon wins

    Move(0, 500, 100);
    testbed::MessageBoxWatcher boxes;
    Run(plx::Action::RestorePositions, FALSE);
    EXPECT_AT(0, 300, 300);
    EXPECT_AT(1, 300, 300);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(PositionsTest, LabelsInAnyLanguageKeepPlacesOfTheirOwn) {
    // Through a code page, "Ψ1" and "Ж1" would both be "?1", and "Ω1" the "O1" of another icon.
    const std::vector<std::string> labels = {"Ω1",  "O1", "Ψ1", "Ж1", "日本語", "Ελλάδα", "\xF0\x9F\x98\x80",
                                             "Café"};
    for (size_t i = 0; i < labels.size(); ++i) Add(labels[i], 20 + 70 * static_cast<int>(i), 30);
    Run(plx::Action::SaveProfile);
    auto values = Slot("Work", plx::kManualSlot);
    EXPECT_EQ(values.size(), labels.size());
    for (size_t i = 0; i < labels.size(); ++i)
        EXPECT_EQ(values[labels[i]].data, Packed(20 + 70 * static_cast<int>(i), 30)) << labels[i];
    for (size_t i = 0; i < labels.size(); ++i) Move(static_cast<int>(i), 600 - 60 * static_cast<int>(i), 300);
    Run(plx::Action::RestorePositions);
    for (size_t i = 0; i < labels.size(); ++i)
        EXPECT_AT(static_cast<int>(i), 20 + 70 * static_cast<int>(i), 30);

    // A value written through the ANSI functions, as earlier versions stored it, names the same icon.
    const std::string ansi = testbed::InCodePage(L"Caf\u00e9");
    ASSERT_FALSE(ansi.empty()) << "the test bed's code page spells the name";
    StorePosition(ansi, 400, 200);
    Run(plx::Action::RestorePositions);
    EXPECT_AT(static_cast<int>(labels.size()) - 1, 400, 200);
}

// Earlier versions saved labels through the code page, whose best fit made "Łāka" into "Laka": such a
// position still belongs to its icon, and is kept under the label itself once found. A label saved in
// its own spelling wins over an older one, and a spelling in which a character became "?" is taken for
// nobody's.
TEST_F(PositionsTest, PositionsSavedInTheBestFitSpellingOfEarlierVersionsAreFoundAndKept) {
    const std::vector<std::wstring> labels = {L"Łāka", L"Żagiel", L"Bār", L"Жuk"};
    for (size_t i = 0; i < labels.size(); ++i) Add(plx::ToUtf8(labels[i]), 20 + 90 * static_cast<int>(i), 30);
    StorePosition(testbed::InCodePageBestFit(labels[0]), 400, 200);
    StorePosition(testbed::InCodePageBestFit(labels[1]), 500, 300);
    StorePosition(testbed::InCodePageBestFit(labels[2]), 600, 400);
    {
        // Saved by this version, through the wide functions.
        unique_hkey slot = plx::CreateKey(HKEY_CURRENT_USER, plx::SlotKeyPath("Work", plx::kManualSlot));
        const std::vector<BYTE> position = Packed(300, 500);
        ASSERT_EQ(plx::WriteBytes(slot.get(), plx::ToUtf8(labels[2]).c_str(), position.data(), 8),
                  ERROR_SUCCESS);
    }
    ASSERT_EQ(testbed::InCodePageBestFit(labels[3]), "?uk");
    StorePosition("?uk", 700, 100);
    Run(plx::Action::RestorePositions);
    EXPECT_AT(0, 400, 200);
    EXPECT_AT(1, 500, 300);
    EXPECT_AT(2, 300, 500);
    EXPECT_NE(Pos(3).x, 700);

    auto values = Slot("Work", plx::kManualSlot);
    EXPECT_EQ(values[plx::ToUtf8(labels[0])].data, Packed(400, 200));
    EXPECT_EQ(values[plx::ToUtf8(labels[1])].data, Packed(500, 300));
    EXPECT_EQ(values[plx::ToUtf8(labels[2])].data, Packed(300, 500));
    EXPECT_EQ(values.count(plx::ToUtf8(labels[3])), 0u);
    EXPECT_EQ(values["Laka"].data, Packed(400, 200)) << "a restore removes nothing";
}

TEST_F(PositionsTest, LongLabelsAreCutAtTheirBuffer) {
    const std::string longest(1023, 'L');
    Add(longest, 10, 10);
    Add(longest + "tail one", 300, 300);
    Add(longest + "tail two", 600, 300);
    Run(plx::Action::SaveProfile);
    auto values = Slot("Work", plx::kManualSlot);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values.begin()->first, longest);
    Move(0, 100, 600);
    Run(plx::Action::RestorePositions);
    EXPECT_AT(0, 600, 300);
}

TEST_F(PositionsTest, NewIconsWalkOffRestoredOnes) {
    Add("Saved", 100, 100);
    Add("New", 110, 100);
    Add("Elsewhere", 700, 500);
    StorePosition("Saved", 100, 100);
    const RECT saved = Bounds(0);
    Run(plx::Action::RestorePositions);
    EXPECT_AT(0, 100, 100);
    // Along its row to the first spot that only touches the restored icon.
    const RECT moved = Bounds(1);
    EXPECT_EQ(moved.left, saved.right);
    EXPECT_EQ(Pos(1).y, 100);
    EXPECT_AT(2, 700, 500);
}

// A list view on the screen, so that what it paints can be read back.
class ShownList {
public:
    ShownList() {
        frame_.reset(CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "Static", "", WS_POPUP | WS_VISIBLE, 0,
                                     0, kWidth, kHeight, nullptr, nullptr, nullptr, nullptr));
        list_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOSCROLL, 0, 0,
                                kWidth, kHeight, frame_.get(), nullptr, nullptr, nullptr);
        SHFILEINFOA info = {};
        ListView_SetImageList(list_,
                              reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
                                  "C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_LARGEICON)),
                              LVSIL_NORMAL);
        ListView_SetBkColor(list_, kBackground);
        ListView_SetTextBkColor(list_, kBackground);
        UpdateWindow(list_);
    }
    HWND list() const { return list_; }

    void Add(const std::string& label, int x, int y) const {
        const int index = InsertItem(list_, label);
        ListView_SetItemPosition32(list_, index, x, y);
    }

    // Whether the view still paints what changes in it: every icon taken away and one put elsewhere
    // must show on the screen as that one icon and an empty stretch where the others were. May be
    // called from another thread while this one waits in a message box.
    bool Paints(POINT emptied, POINT added) const {
        ListView_DeleteAllItems(list_);
        Add("Painted", added.x, added.y);
        RECT bounds = {};
        ListView_GetItemRect(list_, 0, &bounds, LVIR_ICON);
        const DWORD background =
            GetRValue(kBackground) << 16 | GetGValue(kBackground) << 8 | GetBValue(kBackground);
        return testbed::WaitUntil(
            [&] {
                const std::vector<DWORD> icon =
                    testbed::CaptureScreen(bounds.left, bounds.top, bounds.right - bounds.left, 32);
                const std::vector<DWORD> empty = testbed::CaptureScreen(emptied.x, emptied.y, 40, 40);
                const auto drawn = std::count_if(icon.begin(), icon.end(),
                                                 [&](DWORD p) { return (p & 0xFFFFFF) != background; });
                const bool cleared = std::all_of(empty.begin(), empty.end(),
                                                 [&](DWORD p) { return (p & 0xFFFFFF) == background; });
                return drawn > 100 && cleared && IsWindowVisible(list_);
            },
            5000);
    }

    static constexpr int kWidth = 400;
    static constexpr int kHeight = 300;

private:
    static constexpr COLORREF kBackground = RGB(0, 96, 128);
    plx::unique_hwnd frame_;
    HWND list_ = nullptr;
};

// Restores that end in a message box: the view must paint while the box is up, so the check runs on a
// second thread, which then answers the box.
bool PaintsWhileTheBoxIsUp(const ShownList& view, POINT emptied, POINT added,
                           const std::function<void()>& restore) {
    bool painted = false, boxSeen = false;
    std::thread checker([&] {
        HWND box = nullptr;
        boxSeen = testbed::WaitUntil(
            [&] { return (box = FindWindowA("#32770", plx::kMessageCaption)) != nullptr; });
        if (!boxSeen) return;
        painted = view.Paints(emptied, added);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    restore();
    checker.join();
    return boxSeen && painted;
}

// The restore moves the icons with the view's redraw off; on every way out the view paints again.
TEST(RestoreRedrawTest, TheViewPaintsAgainOnEveryWayOutOfARestore) {
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    ShownList view;
    HWND list = view.list();
    const auto restore = [list](BOOL quiet, const char* profile = "Work") {
        return [=] { Positions(list, plx::Action::RestorePositions, quiet, profile); };
    };

    // A saved slot, every icon in it, quiet.
    view.Add("One", 10, 10);
    view.Add("Two", 200, 150);
    Positions(list, plx::Action::SaveProfile, TRUE, "Work");
    ListView_SetItemPosition32(list, 0, 300, 200);
    restore(TRUE)();
    EXPECT_TRUE(view.Paints({10, 10}, {250, 40})) << "saved slot";

    // An icon without a saved spot: the warning is shown with the view painting already.
    view.Add("One", 10, 10);
    view.Add("Two", 200, 150);
    view.Add("New", 20, 20);
    EXPECT_TRUE(PaintsWhileTheBoxIsUp(view, {10, 10}, {120, 200}, restore(FALSE))) << "warning";
    restore(TRUE)();
    EXPECT_TRUE(view.Paints({120, 200}, {10, 10})) << "warning, quiet";

    // No slot, and an empty view.
    EXPECT_TRUE(PaintsWhileTheBoxIsUp(view, {10, 10}, {200, 150}, restore(FALSE, "Nowhere"))) << "no slot";
    ListView_DeleteAllItems(list);
    restore(TRUE)();
    EXPECT_TRUE(view.Paints({200, 150}, {20, 220})) << "empty view";

    // A view covered with saved icons leaves no room for a new one: the pass ends early.
    ListView_DeleteAllItems(list);
    view.Add("Probe", 0, 0);
    RECT cell = {};
    ListView_GetItemRect(list, 0, &cell, LVIR_BOUNDS);
    ListView_DeleteAllItems(list);
    int n = 0;
    for (int y = -10; y < ShownList::kHeight; y += (cell.bottom - cell.top) / 2)
        for (int x = -10; x < ShownList::kWidth; x += (cell.right - cell.left) / 2)
            view.Add("Cover " + std::to_string(n++), x, y);
    Positions(list, plx::Action::SaveProfile, TRUE, "Work");
    view.Add("Stranded", 150, 100);
    EXPECT_TRUE(PaintsWhileTheBoxIsUp(view, {150, 100}, {300, 20}, restore(FALSE))) << "no room";
}

// Restores of generated desktops in a real list view leave every icon where the walk puts it: the
// list view reports the moves of the first pass while its redraw is off.
TEST_F(PositionsTest, RestoresOfGeneratedDesktopsEndWhereTheWalkPutsThem) {
    std::mt19937 random(4711);
    const auto between = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    RECT client = {};
    GetClientRect(list_, &client);
    for (int round = 0; round < 12; ++round) {
        ListView_DeleteAllItems(list_);
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        const int count = between(5, 40);
        for (int i = 0; i < count; ++i) Add("Icon " + std::to_string(i), between(0, 950), between(0, 700));
        Run(plx::Action::SaveProfile);
        // Forget some, and move the rest away from their saved spots.
        unique_hkey slot = plx::CreateKey(HKEY_CURRENT_USER, plx::SlotKeyPath("Work", plx::kManualSlot));
        plx::PlacementList placed, unplaced;
        for (int i = 0; i < count; ++i) {
            const POINT saved = Pos(i);
            Move(i, between(0, 950), between(0, 700));
            if (between(0, 3) == 0) {
                RegDeleteValueA(slot.get(), ("Icon " + std::to_string(i)).c_str());
                plx::PlacementRecord record;
                record.index = i;
                record.position = Pos(i);
                record.bounds = Bounds(i);
                unplaced.push_back(record);
            } else {
                plx::PlacementRecord record;
                record.index = i;
                record.position = saved;
                placed.push_back(record);
            }
        }
        // Where the restore must leave them: saved icons at their spots, the others walked by pixels.
        std::vector<POINT> expected(count);
        std::vector<RECT> sizes(count);
        for (int i = 0; i < count; ++i) sizes[i] = Bounds(i);
        for (plx::PlacementRecord& record : placed) {
            const POINT at = Pos(record.index);
            record.bounds = sizes[record.index];
            OffsetRect(&record.bounds, record.position.x - at.x, record.position.y - at.y);
            expected[record.index] = record.position;
        }
        plx::PlaceUnplaced(unplaced, placed, client, plx::WalkToFreeSpotByPixels);
        for (const plx::PlacementRecord& record : unplaced) expected[record.index] = record.position;

        Run(plx::Action::RestorePositions);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(Pos(i).x, expected[i].x) << "round " << round << " icon " << i;
            EXPECT_EQ(Pos(i).y, expected[i].y) << "round " << round << " icon " << i;
        }
    }
}

}  // namespace

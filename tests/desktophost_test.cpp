// The stand-in desktop: a separate process that shows the prefix's desktop folder as the shell does.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/desktop_listview.h"
#include "testbed/desktop_host_process.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

std::multiset<std::string> ShellDesktopLabels() {
    std::multiset<std::string> labels;
    plx::ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put()))) return labels;
    plx::ComPtr<IEnumIDList> items;
    if (desktop->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
                             items.put()) != S_OK)
        return labels;
    LPITEMIDLIST raw;
    while (items->Next(1, &raw, nullptr) == S_OK) {
        plx::unique_cotaskmem child(raw);
        STRRET ret;
        char name[MAX_PATH];
        if (SUCCEEDED(
                desktop->GetDisplayNameOf(static_cast<PCUITEMID_CHILD>(child.get()), SHGDN_NORMAL, &ret)) &&
            SUCCEEDED(StrRetToBufA(&ret, static_cast<PCUITEMID_CHILD>(child.get()), name, sizeof(name))))
            labels.insert(name);
    }
    return labels;
}

std::multiset<std::string> Labels(const testbed::HostReport& report) {
    std::multiset<std::string> labels;
    for (const auto& icon : report.icons) labels.insert(icon.label);
    return labels;
}

const testbed::IconState* FindStartingWith(const testbed::HostReport& report, const std::string& prefix) {
    for (const auto& icon : report.icons)
        if (icon.label.rfind(prefix, 0) == 0) return &icon;
    return nullptr;
}

class DesktopHostTest : public testing::Test {
protected:
    void SetUp() override { testbed::EmptyDesktopFolders(); }
    void TearDown() override {
        host_.Stop();
        testbed::EmptyDesktopFolders();
    }
    static std::string OnDesktop(const std::string& name) {
        return testbed::UserDesktopDirectory() + "\\" + name;
    }

    testbed::DesktopHostProcess host_;
};

TEST_F(DesktopHostTest, ShowsExactlyTheDesktopFolderItems) {
    ASSERT_TRUE(testbed::WriteTextFile(OnDesktop("alpha.txt"), "a"));
    ASSERT_TRUE(testbed::WriteTextFile(OnDesktop("beta.txt"), "b"));
    ASSERT_TRUE(CreateDirectoryA(OnDesktop("Gamma").c_str(), nullptr));
    // Wine's desktop folder does not merge the common desktop; whatever the shell lists is shown.
    ASSERT_TRUE(testbed::WriteTextFile(testbed::CommonDesktopDirectory() + "\\shared.txt", "s"));
    ASSERT_TRUE(host_.Start());

    testbed::HostReport report;
    ASSERT_TRUE(host_.Report(report));
    const std::multiset<std::string> expected = ShellDesktopLabels();
    EXPECT_EQ(Labels(report), expected);
    for (const char* name : {"alpha", "beta", "Gamma"})
        EXPECT_NE(FindStartingWith(report, name), nullptr) << name;
    // Icon view, every icon at its own place.
    EXPECT_EQ(report.style & LVS_TYPEMASK, static_cast<DWORD>(LVS_ICON));
    std::set<std::pair<int, int>> places;
    for (const auto& icon : report.icons) places.insert({icon.x, icon.y});
    EXPECT_EQ(places.size(), report.icons.size());
}

TEST_F(DesktopHostTest, FollowsChangesTheShellIsToldOf) {
    ASSERT_TRUE(testbed::WriteTextFile(OnDesktop("alpha.txt"), "a"));
    ASSERT_TRUE(host_.Start());
    testbed::HostReport report;
    ASSERT_TRUE(host_.Report(report));
    ASSERT_NE(FindStartingWith(report, "alpha"), nullptr);
    const std::string alphaLabel = FindStartingWith(report, "alpha")->label;
    int alphaIndex = 0;
    while (report.icons[alphaIndex].label != alphaLabel) ++alphaIndex;

    // A moved icon keeps its place when the view is refilled.
    SendMessageA(host_.ListView(), LVM_SETITEMPOSITION, alphaIndex, MAKELPARAM(400, 300));

    const std::string delta = OnDesktop("delta.txt");
    ASSERT_TRUE(testbed::WriteTextFile(delta, "d"));
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATHA | SHCNF_FLUSH, delta.c_str(), nullptr);
    ASSERT_TRUE(
        testbed::WaitUntil([&] { return host_.Report(report) && FindStartingWith(report, "delta"); }));
    EXPECT_EQ(Labels(report), ShellDesktopLabels());
    ASSERT_NE(report.Find(alphaLabel), nullptr);
    EXPECT_EQ(report.Find(alphaLabel)->x, 400);
    EXPECT_EQ(report.Find(alphaLabel)->y, 300);

    ASSERT_TRUE(DeleteFileA(delta.c_str()));
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHA | SHCNF_FLUSH, delta.c_str(), nullptr);
    EXPECT_TRUE(
        testbed::WaitUntil([&] { return host_.Report(report) && !FindStartingWith(report, "delta"); }));
}

TEST_F(DesktopHostTest, WorkerFormHoldsTheViewInALaterWorker) {
    ASSERT_TRUE(host_.Start("--worker"));
    EXPECT_EQ(GetWindow(host_.Progman(), GW_CHILD), nullptr);
    HWND list = plx::FindDesktopListView();
    ASSERT_EQ(list, host_.ListView());
    HWND worker = GetParent(GetParent(list));
    char cls[64];
    GetClassNameA(worker, cls, sizeof(cls));
    EXPECT_STREQ(cls, "WorkerW");
    EXPECT_NE(FindWindowExA(GetDesktopWindow(), nullptr, "WorkerW", nullptr), worker);
}

TEST_F(DesktopHostTest, ArrangementStylesFollowTheOptions) {
    testbed::HostReport report;
    ASSERT_TRUE(host_.Start());
    ASSERT_TRUE(host_.Report(report));
    EXPECT_FALSE(report.style & LVS_AUTOARRANGE);
    EXPECT_FALSE(report.exStyle & LVS_EX_SNAPTOGRID);
    host_.Stop();

    ASSERT_TRUE(host_.Start("--autoarrange --snap"));
    ASSERT_TRUE(host_.Report(report));
    EXPECT_TRUE(report.style & LVS_AUTOARRANGE);
    EXPECT_TRUE(report.exStyle & LVS_EX_SNAPTOGRID);
}

TEST_F(DesktopHostTest, FilledViewKeepsItsItemsWhenTheFolderChanges) {
    ASSERT_TRUE(testbed::WriteTextFile(OnDesktop("alpha.txt"), "a"));
    ASSERT_TRUE(host_.Start("--fill 30"));
    testbed::HostReport report;
    ASSERT_TRUE(host_.Report(report));
    ASSERT_EQ(report.icons.size(), 30u);
    EXPECT_EQ(report.icons.front().label, "Item 0001");
    EXPECT_EQ(report.icons.back().label, "Item 0030");
    ASSERT_TRUE(host_.MoveIcon("Item 0007", 420, 310));

    // Told of a change, and seeing it in the folder too, the view still shows only its own items.
    const std::string delta = OnDesktop("delta.txt");
    ASSERT_TRUE(testbed::WriteTextFile(delta, "d"));
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATHA | SHCNF_FLUSH, delta.c_str(), nullptr);
    EXPECT_FALSE(testbed::WaitUntil(
        [&] {
            return !host_.Report(report) || report.icons.size() != 30u || report.Find("Item 0007") == nullptr;
        },
        1500));
    ASSERT_EQ(report.icons.size(), 30u);
    ASSERT_NE(report.Find("Item 0007"), nullptr);
    EXPECT_EQ(report.Find("Item 0007")->x, 420);
    EXPECT_EQ(report.Find("Item 0007")->y, 310);
}

TEST_F(DesktopHostTest, IconsAreDrawnOnTheScreen) {
    ASSERT_TRUE(testbed::WriteTextFile(OnDesktop("picture.txt"), "p"));
    ASSERT_TRUE(host_.Start());
    testbed::HostReport report;
    ASSERT_TRUE(host_.Report(report));
    const testbed::IconState* icon = FindStartingWith(report, "picture");
    ASSERT_NE(icon, nullptr);
    RedrawWindow(host_.ListView(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);

    // An empty stretch of the desktop is one colour; the icon's cell is not. A busy machine may take
    // a while to put the pixels on the screen, so the cell is read until it shows them.
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    std::vector<DWORD> empty = testbed::CaptureScreen(screenW - 100, screenH - 100, 64, 64);
    std::set<DWORD> emptyColours(empty.begin(), empty.end());
    ASSERT_EQ(emptyColours.size(), 1u);
    const DWORD background = *emptyColours.begin();

    size_t drawn = 0;
    std::set<DWORD> cellColours;
    testbed::WaitUntil(
        [&] {
            std::vector<DWORD> cell = testbed::CaptureScreen(icon->x, icon->y, 64, 64);
            drawn = std::count_if(cell.begin(), cell.end(), [&](DWORD p) { return p != background; });
            cellColours = std::set<DWORD>(cell.begin(), cell.end());
            return drawn > 200u && cellColours.size() > 4u;
        },
        5000);
    EXPECT_GT(drawn, 200u);
    EXPECT_GT(cellColours.size(), 4u);
}

}  // namespace

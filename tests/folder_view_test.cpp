// A restore through the export tells the desktop's folder view, where the shell offers one, every place
// it gives an icon on the list view; where there is none, or it fails at any step, the list view's result
// is the same and nothing else happens.
// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/desktop_process_fixture.h"
#include "tests/support/message_boxes.h"
#include "testbed/shell_windows.h"

namespace {

using desktophost::ShellStep;

const char kRestoreWarning[] =
    "Errors occurred when restoring the icon positions.\nSome positions have not been previously saved.";

struct PositionCall {
    DWORD flags = 0;
    std::vector<testbed::IconState> icons;
};

// What the stand-in's folder view was told since the last change of its failing step.
struct ShellRecord {
    long references = -1;
    std::vector<std::pair<DWORD, DWORD>> folderFlags;  // mask, flags
    std::vector<PositionCall> positions;
};

bool ReadShellRecord(const testbed::DesktopHostProcess& host, ShellRecord& record) {
    testbed::TempDirectory dir;
    const std::string path = dir.path() + "\\record.txt";
    COPYDATASTRUCT data = {desktophost::kRequestShellRecord, static_cast<DWORD>(path.size() + 1),
                           const_cast<char*>(path.c_str())};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(host.Progman(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK,
                             10000, &result) ||
        !result)
        return false;
    std::istringstream text(testbed::ReadTextFile(path));
    std::string line;
    record = ShellRecord();
    while (std::getline(text, line)) {
        unsigned long a = 0, b = 0;
        long count = 0;
        if (std::sscanf(line.c_str(), "references %ld", &record.references) == 1) continue;
        if (std::sscanf(line.c_str(), "flags %lx %lx", &a, &b) == 2) {
            record.folderFlags.emplace_back(a, b);
        } else if (std::sscanf(line.c_str(), "position %ld %lx", &count, &a) == 2) {
            record.positions.push_back({static_cast<DWORD>(a), {}});
        } else if (!record.positions.empty()) {
            testbed::IconState icon;
            char label[1024] = {};
            if (std::sscanf(line.c_str(), "%d\t%d\t%1023[^\n]", &icon.x, &icon.y, label) != 3) return false;
            icon.label = label;
            record.positions.back().icons.push_back(icon);
        }
    }
    return record.references >= 0;
}

bool FailAt(const testbed::DesktopHostProcess& host, ShellStep step) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(host.Progman(), desktophost::kShellStepFailMessage, static_cast<WPARAM>(step),
                               0, SMTO_BLOCK, 10000, &result) &&
           result;
}

class FolderViewTest : public testbed::DesktopProcessTest {
protected:
    // A desktop of three icons of which two have saved places: alpha and beta are saved, gamma comes
    // afterwards and lies on alpha's place.
    void SaveTwoIcons() {
        ASSERT_TRUE(host_.MoveIcon("alpha.txt", 300, 200));
        ASSERT_TRUE(host_.MoveIcon("beta.txt", 500, 200));
        ASSERT_EQ(module_->Call("SaveCurrentProfile"), S_OK);
        ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\gamma.txt", "g"));
        ASSERT_TRUE(host_.WaitForIcon("gamma.txt"));
    }
    // Scatters the icons, restores them through the export with its messages on, and returns what the
    // list view shows then. The restore warns once, for gamma.
    testbed::HostReport ScatterAndRestore() {
        testbed::HostReport report;
        EXPECT_TRUE(host_.MoveIcon("alpha.txt", 40, 500));
        EXPECT_TRUE(host_.MoveIcon("beta.txt", 600, 420));
        EXPECT_TRUE(host_.MoveIcon("gamma.txt", 300, 200));
        testbed::MessageBoxWatcher watcher;
        EXPECT_EQ(module_->Call("RestoreIconPositions", FALSE), S_OK);
        EXPECT_TRUE(watcher.WaitFor(1));
        const std::vector<testbed::SeenMessage> seen = watcher.Seen();
        EXPECT_EQ(seen.size(), 1u);
        if (!seen.empty()) {
            EXPECT_EQ(seen[0].text, kRestoreWarning);
        }
        EXPECT_TRUE(host_.Report(report));
        return report;
    }
    static void ExpectSameIcons(const testbed::HostReport& actual, const testbed::HostReport& expected,
                                const std::string& context) {
        ASSERT_EQ(actual.icons.size(), expected.icons.size()) << context;
        for (const testbed::IconState& icon : expected.icons) {
            const testbed::IconState* shown = actual.Find(icon.label);
            ASSERT_NE(shown, nullptr) << context << ": " << icon.label;
            EXPECT_EQ(shown->x, icon.x) << context << ": " << icon.label;
            EXPECT_EQ(shown->y, icon.y) << context << ": " << icon.label;
        }
        EXPECT_EQ(actual.style, expected.style) << context;
        EXPECT_EQ(actual.exStyle, expected.exStyle) << context;
    }
};

TEST_F(FolderViewTest, RestoreTellsTheFolderViewWhatTheListViewShowsAndIsTheSameWithoutIt) {
    LoadModule();
    StartHost();
    SaveTwoIcons();
    ASSERT_TRUE(FailAt(host_, ShellStep::None));  // starts the record afresh
    const testbed::HostReport told = ScatterAndRestore();

    const testbed::IconState* alpha = told.Find("alpha.txt");
    const testbed::IconState* gamma = told.Find("gamma.txt");
    ASSERT_TRUE(alpha && gamma);
    EXPECT_EQ(alpha->x, 300);
    EXPECT_EQ(alpha->y, 200);
    EXPECT_NE(gamma->x, 300);  // walked off alpha
    EXPECT_EQ(told.style & LVS_AUTOARRANGE, 0u);
    EXPECT_EQ(told.exStyle & LVS_EX_SNAPTOGRID, 0u);

    ShellRecord record;
    ASSERT_TRUE(ReadShellRecord(host_, record));
    EXPECT_EQ(record.references, 0) << "every reference the restore took is given back";
    ASSERT_EQ(record.folderFlags.size(), 1u);
    EXPECT_EQ(record.folderFlags[0].first, static_cast<DWORD>(FWF_AUTOARRANGE | FWF_SNAPTOGRID));
    EXPECT_EQ(record.folderFlags[0].second, 0u);
    // One call per pass: the saved icons, then the one walked to a free spot; each at its place on the
    // list view.
    ASSERT_EQ(record.positions.size(), 2u);
    std::vector<std::string> labels;
    for (const PositionCall& call : record.positions) {
        EXPECT_EQ(call.flags, static_cast<DWORD>(SVSI_POSITIONITEM));
        for (const testbed::IconState& icon : call.icons) {
            labels.push_back(icon.label);
            const testbed::IconState* shown = told.Find(icon.label);
            ASSERT_NE(shown, nullptr) << icon.label;
            EXPECT_EQ(icon.x, shown->x) << icon.label;
            EXPECT_EQ(icon.y, shown->y) << icon.label;
        }
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"alpha.txt", "beta.txt", "gamma.txt"}));

    // The same desktop where the shell offers no folder view: the list view ends exactly the same.
    host_.Stop();
    testbed::EmptyDesktopFolders();
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\alpha.txt", "a"));
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\beta.txt", "b"));
    ASSERT_TRUE(host_.Start("--no-folder-view"));
    ASSERT_TRUE(host_.WaitForIcon("alpha.txt") && host_.WaitForIcon("beta.txt"));
    SaveTwoIcons();
    ExpectSameIcons(ScatterAndRestore(), told, "without a folder view");
    ASSERT_TRUE(ReadShellRecord(host_, record));
    EXPECT_TRUE(record.folderFlags.empty() && record.positions.empty());
}

TEST_F(FolderViewTest, AFolderViewThatFailsAtAnyStepLeavesTheRestoreAsItIs) {
    LoadModule();
    StartHost();
    SaveTwoIcons();
    const testbed::HostReport expected = ScatterAndRestore();

    for (int step = 1; step < static_cast<int>(ShellStep::Count); ++step) {
        const std::string context = "failing step " + std::to_string(step);
        ASSERT_TRUE(FailAt(host_, static_cast<ShellStep>(step))) << context;
        ExpectSameIcons(ScatterAndRestore(), expected, context);
        ShellRecord record;
        ASSERT_TRUE(ReadShellRecord(host_, record)) << context;
        EXPECT_EQ(record.references, 0) << context;
        // Past the folder view, each call stands on its own.
        const auto failing = static_cast<ShellStep>(step);
        const bool viewFound = step >= static_cast<int>(ShellStep::FolderView2);
        const bool flagsTold =
            viewFound && failing != ShellStep::FolderView2 && failing != ShellStep::FolderFlags;
        const bool positionsTold =
            viewFound && failing != ShellStep::Item && failing != ShellStep::SelectAndPosition;
        EXPECT_EQ(record.folderFlags.size(), flagsTold ? 1u : 0u) << context;
        EXPECT_EQ(record.positions.size(), positionsTold ? 2u : 0u) << context;
    }
}

}  // namespace

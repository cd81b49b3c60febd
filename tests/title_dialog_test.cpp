// The dialog that asks for the title of a copy of the active profile, driven as a user drives it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "win32/module.h"
#include "dialogs/profile_title_check.h"
#include "dialogs/profile_title_dialog.h"
#include "resources/resource.h"
#include "dialogs/help.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/message_boxes.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

using testbed::ComboItems;
using testbed::ControlText;
using testbed::ModalCall;
using testbed::Press;
using testbed::PressKey;
using testbed::SetControlText;
using testbed::WaitForClosed;
using testbed::WaitForDialog;

constexpr char kCaption[] = "Save Active Profile As";

plx::ProfileNameSet Names(std::initializer_list<const char*> names) {
    plx::ProfileNameSet set;
    for (const char* name : names) set.insert(name);
    return set;
}

// One run of the dialog on a thread of its own.
class TitleDialogRun {
public:
    TitleDialogRun(plx::ProfileNameSet profiles, plx::ProfileNameSet taken, std::string title)
        : profiles_(std::move(profiles)),
          taken_(std::move(taken)),
          dialog_(profiles_, taken_, std::move(title)),
          call_([this] { return dialog_.Run(nullptr); }) {
        window_ = WaitForDialog(kCaption);
    }
    HWND Window() const { return window_; }
    // Waits for the dialog to end; its result, or -2 when it did not end.
    INT_PTR Result() { return call_.Finished() ? call_.Result() : -2; }
    const std::string& Title() const { return dialog_.Title(); }

private:
    plx::ProfileNameSet profiles_;
    plx::ProfileNameSet taken_;
    plx::ProfileTitleDialog dialog_;
    HWND window_ = nullptr;
    ModalCall call_;
};

class TitleDialogTest : public testing::Test {
protected:
    void SetUp() override {
        module_.reset(LoadLibraryA(testbed::ModulePath().c_str()));
        ASSERT_TRUE(module_);
        plx::SetModuleInstance(module_.get());
    }
    plx::unique_hmodule module_;
};

TEST_F(TitleDialogTest, OpensOnTheActiveNameAmongTheProfilesAndSavesTheTitleAsTyped) {
    {
        TitleDialogRun run(Names({"work", "Alpha", "beta", "Zed"}), Names({"ALPHA", "BETA", "ZED"}), "work");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(ComboItems(dialog, IDC_TITLE_BOX),
                  (std::vector<std::string>{"Alpha", "beta", "work", "Zed"}));
        EXPECT_EQ(testbed::ComboSelection(dialog, IDC_TITLE_BOX), 2);
        EXPECT_EQ(ControlText(dialog, IDC_TITLE_BOX), "work");
        EXPECT_TRUE(IsChild(GetDlgItem(dialog, IDC_TITLE_BOX), testbed::FocusOf(dialog)));
        Press(dialog, IDOK);
        EXPECT_EQ(run.Result(), IDOK);
        EXPECT_EQ(run.Title(), "work");
    }
    {
        // No profiles yet: nothing to pick, nothing picked; a title of blanks is taken as it is.
        TitleDialogRun run({}, {}, "Default");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(ComboItems(dialog, IDC_TITLE_BOX).empty());
        EXPECT_EQ(ControlText(dialog, IDC_TITLE_BOX), "");
        SetControlText(dialog, IDC_TITLE_BOX, "   ");
        PressKey(dialog, VK_RETURN);
        EXPECT_EQ(run.Result(), IDOK);
        EXPECT_EQ(run.Title(), "   ");
    }
    {
        // Names in any language: listed as they are, the active one picked, a typed title handed back
        // unchanged.
        TitleDialogRun run(Names({"Ελλάδα", "日本語", "Café"}), {}, "日本語");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        std::vector<std::string> listed = ComboItems(dialog, IDC_TITLE_BOX);
        ASSERT_EQ(listed.size(), 3u);
        EXPECT_EQ(listed[testbed::ComboSelection(dialog, IDC_TITLE_BOX)], "日本語");
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, (std::vector<std::string>{"Café", "Ελλάδα", "日本語"}));
        const std::string typed = "Ψ1 Ж1 \xF0\x9F\x98\x80";
        SetControlText(dialog, IDC_TITLE_BOX, typed);
        PressKey(dialog, VK_RETURN);
        EXPECT_EQ(run.Result(), IDOK);
        EXPECT_EQ(run.Title(), typed);
    }
}

TEST_F(TitleDialogTest, RefusesTitlesThatCannotNameAProfileAndAsksBeforeOverwriting) {
    TitleDialogRun run(Names({"Alpha", "work"}), Names({"ALPHA"}), "work");
    HWND dialog = run.Window();
    ASSERT_NE(dialog, nullptr);
    {
        testbed::MessageBoxWatcher boxes("Quillmar Orvane Deluxe", IDCANCEL);
        const std::string tooLong(256, 'x');
        const char* titles[] = {"", "a\\b", tooLong.c_str(), "alpha"};
        for (const char* title : titles) {
            SetControlText(dialog, IDC_TITLE_BOX, title);
            Press(dialog, IDOK);
            ASSERT_TRUE(boxes.WaitFor(boxes.Seen().size() + 1)) << title;
        }
        const auto seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[0].text, plx::kEmptyTitleMessage);
        EXPECT_EQ(seen[1].text, plx::kUnusableTitleMessage);
        EXPECT_EQ(seen[2].text, plx::kUnusableTitleMessage);
        EXPECT_EQ(seen[3].text, "The profile called \"alpha\" already exists.\nOverwrite the profile?");
        for (const auto& box : seen) {
            EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONWARNING));
            EXPECT_EQ(box.owner, dialog);
        }
        // Cancel keeps the dialog open with the typed text, the focus back in the title box.
        ASSERT_TRUE(testbed::WaitUntil([&] { return IsWindowEnabled(dialog); }));
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(ControlText(dialog, IDC_TITLE_BOX), "alpha");
        EXPECT_TRUE(IsChild(GetDlgItem(dialog, IDC_TITLE_BOX), testbed::FocusOf(dialog)));
    }
    {
        // The active name in other letter case is not another profile: nothing is asked.
        testbed::MessageBoxWatcher boxes("Quillmar Orvane Deluxe", IDOK);
        SetControlText(dialog, IDC_TITLE_BOX, "WORK");
        Press(dialog, IDOK);
        EXPECT_EQ(run.Result(), IDOK);
        EXPECT_EQ(run.Title(), "WORK");
        EXPECT_TRUE(boxes.Seen().empty());
    }
    {
        // OK to the question overwrites.
        TitleDialogRun again(Names({"Alpha", "work"}), Names({"ALPHA"}), "work");
        ASSERT_NE(again.Window(), nullptr);
        testbed::MessageBoxWatcher boxes("Quillmar Orvane Deluxe", IDOK);
        SetControlText(again.Window(), IDC_TITLE_BOX, "ALPHA");
        Press(again.Window(), IDOK);
        EXPECT_EQ(again.Result(), IDOK);
        EXPECT_EQ(again.Title(), "ALPHA");
        EXPECT_EQ(boxes.Seen().size(), 1u);
    }
}

TEST_F(TitleDialogTest, CancelEscAndTheCloseBoxSaveNothing) {
    for (int way = 0; way < 3; ++way) {
        TitleDialogRun run(Names({"work"}), {}, "work");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        SetControlText(dialog, IDC_TITLE_BOX, "Other");
        if (way == 0) Press(dialog, IDCANCEL);
        if (way == 1) PressKey(dialog, VK_ESCAPE);
        if (way == 2) PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(run.Result(), IDCANCEL) << way;
    }
}

// The help window of the engine, once the dialog has opened it.
HWND WaitForHelpWindow() {
    HWND help = nullptr;
    testbed::WaitUntil([&] { return (help = FindWindowA("HH Parent", nullptr)) != nullptr; });
    return help;
}

TEST_F(TitleDialogTest, HelpOpensTheDialogsTopicOrSaysWhyItCannot) {
    {
        TitleDialogRun run(Names({"work"}), {}, "work");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        testbed::MessageBoxWatcher boxes;
        Press(dialog, IDHELP);
        HWND help = WaitForHelpWindow();
        ASSERT_NE(help, nullptr);
        EXPECT_EQ(GetWindow(help, GW_OWNER), dialog);
        SendMessageA(help, WM_CLOSE, 0, 0);
        PressKey(dialog, VK_F1);
        ASSERT_NE(WaitForHelpWindow(), nullptr);
        SendMessageA(FindWindowA("HH Parent", nullptr), WM_CLOSE, 0, 0);
        EXPECT_TRUE(boxes.Seen().empty());
        Press(dialog, IDCANCEL);
        EXPECT_EQ(run.Result(), IDCANCEL);
    }
    {
        // A copy of the module without its help file beside it.
        testbed::ModuleCopy copy;
        ASSERT_TRUE(copy.Loaded());
        plx::SetModuleInstance(copy.Handle());
        TitleDialogRun run(Names({"work"}), {}, "work");
        HWND dialog = run.Window();
        ASSERT_NE(dialog, nullptr);
        testbed::MessageBoxWatcher boxes;
        Press(dialog, IDHELP);
        ASSERT_TRUE(boxes.WaitFor(1));
        EXPECT_EQ(boxes.Seen()[0].text, plx::kHelpFailedMessage);
        EXPECT_EQ(boxes.Seen()[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(boxes.Seen()[0].owner, dialog);
        ASSERT_TRUE(testbed::WaitUntil([&] { return IsWindowEnabled(dialog); }));
        EXPECT_TRUE(IsWindow(dialog));
        Press(dialog, IDCANCEL);
        EXPECT_EQ(run.Result(), IDCANCEL);
    }
}

}  // namespace

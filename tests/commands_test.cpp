// Every command of the desktop menu, picked through InvokeCommand as the shell passes the user's
// choice, with its dialogs and questions answered as a user would.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/channel.h"
#include "resources/resource.h"
#include "shell/commands.h"
#include "store/catalogue.h"
#include "tests/menu_fixture.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/message_boxes.h"

namespace {

using testbed::MessageBoxWatcher;

// Waits on a thread of its own for the window with this caption and does what a user would with it,
// while the command that opened it runs modally on the desktop's thread.
class User {
public:
    User(const char* caption, std::function<void(HWND)> act)
        : thread_([caption, act] {
              HWND window = testbed::WaitForDialog(caption);
              EXPECT_NE(window, nullptr) << caption;
              if (window) act(window);
          }) {}
    ~User() { thread_.join(); }

private:
    std::thread thread_;
};

// How long a command picked from the menu may take, its questions and dialogs answered.
constexpr DWORD kCommandLimitMs = 120000;

// A command that has not returned within its limit holds the test's own thread, on which the test
// cannot go on: the program ends with a message saying which command, instead of waiting out the test's
// time limit. Until then, whatever answers the command's windows goes on answering them.
class CommandLimit {
public:
    explicit CommandLimit(const std::string& command)
        : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, command] {
              if (WaitForSingleObject(done_.get(), kCommandLimitMs) != WAIT_TIMEOUT) return;
              std::fprintf(stderr, "FAILED: the command \"%s\" did not return within %lu s\n",
                           command.c_str(), kCommandLimitMs / 1000);
              std::fflush(stderr);
              std::fflush(stdout);
              TerminateProcess(GetCurrentProcess(), 1);
          }) {}
    ~CommandLimit() {
        SetEvent(done_.get());
        thread_.join();
    }

private:
    plx::unique_handle done_;
    std::thread thread_;
};

// Sets the screen to the size a WM_APP message gives (wParam by lParam) and returns whether it could.
LRESULT CALLBACK ResizeScreenOnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) return testbed::SetScreenSize(static_cast<int>(wParam), static_cast<int>(lParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

class CommandsTest : public menutest::MenuTest {
protected:
    void TearDown() override {
        MenuTest::TearDown();
        testbed::EmptyDesktopFolders();
    }
    HWND Owner() const { return desktop_->TopWindow(); }
    // Picks the item as the user would, within the command's limit.
    static HRESULT Pick(const std::string& text, HWND owner) {
        CommandLimit limit(text);
        return MenuTest::Pick(text, owner);
    }
    static POINT IconAt(int index) {
        POINT pt = {};
        ListView_GetItemPosition(ListView(), index, &pt);
        return pt;
    }
    static void MoveIcon(int index, int x, int y) { ListView_SetItemPosition(ListView(), index, x, y); }
    static void WritePosition(const std::string& profile, const std::string& label, POINT pt) {
        plx::unique_hkey slot =
            plx::CreateKey(HKEY_CURRENT_USER, plx::SlotKeyPath(profile, plx::kManualSlot));
        BYTE data[8];
        plx::EncodePosition(pt, data);
        plx::WriteBytes(slot.get(), label.c_str(), data, sizeof(data));
    }
    static bool ReadPosition(const std::string& profile, const std::string& label, POINT& pt) {
        plx::unique_hkey slot =
            plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::SlotKeyPath(profile, plx::kManualSlot));
        BYTE data[8];
        DWORD size = sizeof(data);
        if (!slot || plx::ReadBytes(slot.get(), label.c_str(), data, size) != ERROR_SUCCESS) return false;
        pt = plx::DecodePosition(data);
        return true;
    }
};

bool Same(POINT a, POINT b) { return a.x == b.x && a.y == b.y; }

TEST_F(CommandsTest, PickingAProfileMakesItCurrentAndPutsItsIconsInPlace) {
    for (const char* name : {"b", "A", "c"}) MakeProfile(name);
    SetCurrentProfile("b");
    ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, plx::kItemsKey));  // the catalogue activation works on
    WritePosition("c", "Item 0002", {300, 200});
    MessageBoxWatcher boxes;
    EXPECT_EQ(Pick("A", Owner()), S_OK);
    EXPECT_EQ(CurrentProfileValue(), "A");
    EXPECT_EQ(Pick("c", Owner()), S_OK);
    EXPECT_EQ(CurrentProfileValue(), "c");
    EXPECT_TRUE(Same(IconAt(1), {300, 200}));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CommandsTest, SaveThenRestoreAndRestoreStartupPutTheIconsBack) {
    MessageBoxWatcher boxes;
    MoveIcon(0, 120, 140);
    EXPECT_EQ(Pick("Save Active Profile", Owner()), S_OK);
    POINT saved = {};
    ASSERT_TRUE(ReadPosition("Default", "Item 0001", saved));
    EXPECT_TRUE(Same(saved, {120, 140}));
    MoveIcon(0, 400, 300);
    EXPECT_EQ(Pick("Restore Icon Positions", Owner()), S_OK);
    EXPECT_TRUE(Same(IconAt(0), {120, 140}));

    ASSERT_TRUE(plx::RunAction(plx::Action::SaveStartupPositions, nullptr, TRUE));
    MoveIcon(0, 420, 320);
    EXPECT_EQ(Pick("Restore Startup Icon Positions", Owner()), S_OK);
    EXPECT_TRUE(Same(IconAt(0), {120, 140}));
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CommandsTest, SaveAsCopiesTheProfileUnderANewTitleOnly) {
    ASSERT_TRUE(testbed::WriteTextFile(testbed::UserDesktopDirectory() + "\\alpha.txt", "a"));
    MakeProfile("Work");
    SetCurrentProfile("Work");
    std::string alpha;
    for (const plx::DesktopItem& item : plx::BuildItemCatalogue(nullptr))
        if (item.DesktopPath.find("alpha.txt") != std::string::npos) alpha = item.DisplayName;
    ASSERT_FALSE(alpha.empty());
    WritePosition("Work", alpha, {5, 6});
    WritePosition("Work", "ghost", {7, 8});
    MessageBoxWatcher boxes;
    auto saveAs = [&](const char* title) {
        User user("Save Active Profile As", [title](HWND dialog) {
            testbed::SetControlText(dialog, IDC_TITLE_BOX, title);
            testbed::Press(dialog, IDOK);
        });
        return Pick("Save Active Profile As...", Owner());
    };
    POINT pt = {};
    // The same title: nothing is written.
    EXPECT_EQ(saveAs("Work"), S_OK);
    EXPECT_FALSE(ReadPosition("Work", "Item 0001", pt));
    // The same profile in other letters: saved, nothing copied, nothing renamed.
    EXPECT_EQ(saveAs("work"), S_OK);
    EXPECT_TRUE(ReadPosition("Work", "Item 0001", pt));
    EXPECT_EQ(ResolutionSubkeys(), std::vector<std::string>{"Work"});
    EXPECT_EQ(CurrentProfileValue(), "Work");
    // A new title: the positions of the desktop's items go with the copy, which becomes current.
    EXPECT_EQ(saveAs("Home"), S_OK);
    EXPECT_EQ(CurrentProfileValue(), "Home");
    ASSERT_TRUE(ReadPosition("Home", alpha, pt));
    EXPECT_TRUE(Same(pt, {5, 6}));
    EXPECT_FALSE(ReadPosition("Home", "ghost", pt));
    EXPECT_TRUE(ReadPosition("Work", "ghost", pt));
    EXPECT_TRUE(boxes.Seen().empty());
}

// A click on the check mark of the editor's row that shows name, as a user clears or ticks it.
void ClickCheckMarkOf(HWND dialog, const std::string& name) {
    HWND list = GetDlgItem(dialog, IDC_EDITOR_LIST);
    LVFINDINFOA find = {LVFI_STRING, name.c_str()};
    const int row = static_cast<int>(
        SendMessageA(list, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
    ASSERT_GE(row, 0) << name;
    RECT icon = {};
    icon.left = LVIR_ICON;
    SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&icon));
    const UINT before = ListView_GetCheckState(list, row);
    testbed::ClickMouse(list, {icon.left - 8, (icon.top + icon.bottom) / 2});
    EXPECT_TRUE(testbed::WaitUntil([&] { return ListView_GetCheckState(list, row) != before; }));
}

TEST_F(CommandsTest, CreateAndEditSaveTheProfileWithTheItemsTheUserTicked) {
    const std::string alphaPath = testbed::UserDesktopDirectory() + "\\alpha.txt";
    ASSERT_TRUE(testbed::WriteTextFile(alphaPath, "a"));
    std::string alpha;
    int alphaId = -1;
    for (const plx::DesktopItem& item : plx::BuildItemCatalogue(nullptr))
        if (item.DesktopPath == alphaPath) alpha = item.DisplayName, alphaId = item.ID;
    ASSERT_FALSE(alpha.empty());
    auto visibleIn = [&](const std::string& profile) {
        DWORD visible = 2;
        plx::unique_hkey key = plx::OpenKeyForReading(
            HKEY_CURRENT_USER, plx::ProfileKeyPath(profile) + "\\" + std::to_string(alphaId));
        if (key) plx::ReadNumber(key.get(), "Visible", visible);
        return visible;
    };
    auto exists = [](const std::string& path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    MessageBoxWatcher boxes;
    {
        // A new profile with alpha cleared: it becomes current and alpha leaves the desktop.
        User user("New Profile - Quillmar Orvane Deluxe", [&](HWND dialog) {
            testbed::SetControlText(dialog, IDC_EDITOR_TITLE, "Home");
            ClickCheckMarkOf(dialog, alpha);
            testbed::Press(dialog, IDOK);
        });
        EXPECT_EQ(Pick("Create Profile...", Owner()), S_OK);
    }
    EXPECT_EQ(CurrentProfileValue(), "Home");
    EXPECT_EQ(visibleIn("Home"), 0u);
    EXPECT_FALSE(exists(alphaPath));
    POINT pt = {};
    EXPECT_TRUE(ReadPosition("Home", "Item 0001", pt));
    {
        // The same title: alpha ticked again comes back, and the profile keeps its name.
        User user("Home - Quillmar Orvane Deluxe", [&](HWND dialog) {
            ClickCheckMarkOf(dialog, alpha);
            testbed::Press(dialog, IDOK);
        });
        EXPECT_EQ(Pick("Edit Active Profile...", Owner()), S_OK);
    }
    EXPECT_EQ(visibleIn("Home"), 1u);
    EXPECT_TRUE(exists(alphaPath));
    {
        // A new title renames the profile: its positions go along, the old key goes.
        WritePosition("Home", alpha, {5, 6});
        User user("Home - Quillmar Orvane Deluxe", [&](HWND dialog) {
            testbed::SetControlText(dialog, IDC_EDITOR_TITLE, "Away");
            testbed::Press(dialog, IDOK);
        });
        EXPECT_EQ(Pick("Edit Active Profile...", Owner()), S_OK);
    }
    EXPECT_EQ(CurrentProfileValue(), "Away");
    ASSERT_TRUE(ReadPosition("Away", alpha, pt));
    EXPECT_TRUE(Same(pt, {5, 6}));
    EXPECT_EQ(visibleIn("Away"), 1u);
    for (const std::string& name : ResolutionSubkeys()) EXPECT_NE(name, "Home");
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CommandsTest, DeleteAsksFirstAndKeepsTheLastProfile) {
    {
        MakeProfile("Default");
        MessageBoxWatcher boxes;
        EXPECT_EQ(Pick("Delete Active Profile", Owner()), S_OK);
        ASSERT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(boxes.Seen()[0].text, "Cannot delete the profile.\nAt least one profile must exist.");
        EXPECT_EQ(boxes.Seen()[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(boxes.Seen()[0].owner, Owner());
        EXPECT_EQ(ResolutionSubkeys(), std::vector<std::string>{"Default"});
    }
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    for (const char* name : {"Work", "b", "A"}) MakeProfile(name);
    SetCurrentProfile("Work");
    {
        MessageBoxWatcher boxes(plx::kMessageCaption, IDNO);
        EXPECT_EQ(Pick("Delete Active Profile", Owner()), S_OK);
        ASSERT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(boxes.Seen()[0].text, "Are you sure you want to delete the \"Work\" profile?");
        EXPECT_EQ(boxes.Seen()[0].icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(CurrentProfileValue(), "Work");
        EXPECT_EQ(ResolutionSubkeys().size(), 3u);
    }
    {
        MessageBoxWatcher boxes(plx::kMessageCaption, IDYES);
        EXPECT_EQ(Pick("Delete Active Profile", Owner()), S_OK);
        EXPECT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(CurrentProfileValue(), "A");
        EXPECT_EQ(ResolutionSubkeys(), (std::vector<std::string>{"A", "b"}));
    }
    // Profiles that cannot be listed cannot be counted: nothing is asked or deleted.
    plx::unique_hkey resolution;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, plx::ResolutionKeyPath().c_str(), 0, KEY_ALL_ACCESS,
                            resolution.put()),
              ERROR_SUCCESS);
    ASSERT_TRUE(testbed::SetKeyRules(resolution.get(), "D:P(A;;0xF0037;;;WD)"));  // all but listing
    MessageBoxWatcher boxes(plx::kMessageCaption, IDYES);
    EXPECT_EQ(Pick("Delete Active Profile", Owner()), S_OK);
    ASSERT_TRUE(testbed::SetKeyRules(resolution.get(), "D:P(A;;KA;;;WD)"));
    EXPECT_TRUE(boxes.SawOnly(plx::kProfilesUnreadableMessage, Owner()));
    EXPECT_EQ(ResolutionSubkeys(), (std::vector<std::string>{"A", "b"}));
}

TEST_F(CommandsTest, LookAlikeNamesAreTwoProfilesAndAnAmpersandIsShownAsOne) {
    const std::string strasse = "Strasse", strasseSharp =
                                               "Stra\u00df"
                                               "e";
    for (const std::string& name : {strasse, strasseSharp, std::string("R&D")}) MakeProfile(name);
    SetCurrentProfile(strasse);
    ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, plx::kItemsKey));
    {
        plx::DesktopMenu menu;
        plx::unique_hmenu shell = ShellMenu();
        menu.QueryContextMenu(shell.get(), 0, menutest::kFirstId, menutest::kLastId, CMF_NORMAL);
        HMENU profiles = GetSubMenu(CommandPopup(shell.get()), 0);
        ASSERT_EQ(GetMenuItemCount(profiles), 3);
        // "&&" is how a menu shows one ampersand.
        EXPECT_EQ(ItemText(profiles, 0), "R&&D");
        EXPECT_NE(GetMenuState(profiles, 1, MF_BYPOSITION) & MF_CHECKED, 0u);
        EXPECT_EQ(GetMenuState(profiles, 2, MF_BYPOSITION) & MF_CHECKED, 0u);
    }
    MessageBoxWatcher boxes(plx::kMessageCaption, IDYES);
    EXPECT_EQ(Pick("R&&D", Owner()), S_OK);
    EXPECT_EQ(CurrentProfileValue(), "R&D");
    EXPECT_EQ(Pick(strasseSharp, Owner()), S_OK);
    EXPECT_EQ(CurrentProfileValue(), strasseSharp);
    // Deleting one of the two deletes that one.
    EXPECT_EQ(Pick("Delete Active Profile", Owner()), S_OK);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, "Are you sure you want to delete the \"" + strasseSharp + "\" profile?");
    EXPECT_EQ(ResolutionSubkeys(), (std::vector<std::string>{"R&D", strasse}));
    EXPECT_EQ(CurrentProfileValue(), "R&D");
}

TEST_F(CommandsTest, TitlesUpToAKeyNamesLimitWorkAndARenameThatCannotBeSavedKeepsTheProfile) {
    const std::string longest(255, 'T'), renamed(255, 'U');
    MessageBoxWatcher boxes;
    auto edit = [&](const char* caption, const std::string& title, const char* command) {
        User user(caption, [&](HWND dialog) {
            testbed::SetControlText(dialog, IDC_EDITOR_TITLE, title);
            testbed::Press(dialog, IDOK);
        });
        EXPECT_EQ(Pick(command, Owner()), S_OK);
    };
    edit("New Profile - Quillmar Orvane Deluxe", longest, "Create Profile...");
    EXPECT_EQ(CurrentProfileValue(), longest);
    EXPECT_TRUE(plx::OpenSlotKey(plx::GetScreenSize(), testbed::Profile(longest), plx::kManualSlot, plx::KeyAccess::Read));
    edit((longest + " - Quillmar Orvane Deluxe").c_str(), renamed, "Edit Active Profile...");
    EXPECT_EQ(CurrentProfileValue(), renamed);
    EXPECT_TRUE(plx::OpenSlotKey(plx::GetScreenSize(), testbed::Profile(renamed), plx::kManualSlot, plx::KeyAccess::Read));
    for (const std::string& name : ResolutionSubkeys()) EXPECT_NE(name, longest);
    EXPECT_TRUE(boxes.Seen().empty());

    // No new key can be made beside the profile: the rename fails and says so, and the profile
    // stays whole and current, its logon slot included.
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    MakeProfile("Work", true, true);
    SetCurrentProfile("Work");
    plx::unique_hkey resolution;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, plx::ResolutionKeyPath().c_str(), 0, KEY_ALL_ACCESS,
                            resolution.put()),
              ERROR_SUCCESS);
    ASSERT_TRUE(
        testbed::SetKeyRules(resolution.get(), "D:P(A;;0xF003B;;;WD)"));  // all but KEY_CREATE_SUB_KEY
    edit("Work - Quillmar Orvane Deluxe", "Away", "Edit Active Profile...");
    ASSERT_TRUE(testbed::SetKeyRules(resolution.get(), "D:P(A;;KA;;;WD)"));
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, plx::kProfileNotSavedMessage);
    EXPECT_EQ(CurrentProfileValue(), "Work");
    EXPECT_EQ(ResolutionSubkeys(), std::vector<std::string>{"Work"});
    EXPECT_TRUE(plx::OpenSlotKey(plx::GetScreenSize(), testbed::Profile("Work"), plx::kStartupSlot, plx::KeyAccess::Read));

    // A title whose key is there without being a profile, with an item's record that nobody may
    // write: the new profile is saved in part. Saved as a copy, it says so; renamed, the profile under
    // its old title stays whole beside it.
    ASSERT_TRUE(testbed::WriteTextFile(testbed::UserDesktopDirectory() + "\\alpha.txt", "a"));
    int alphaId = -1;
    for (const plx::DesktopItem& item : plx::BuildItemCatalogue(nullptr))
        if (item.Movable()) alphaId = item.ID;
    ASSERT_GE(alphaId, 0);
    auto lockedRecord = [&](const std::string& profile) {
        plx::unique_hkey record;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                                  (plx::ProfileKeyPath(profile) + "\\" + std::to_string(alphaId)).c_str(), 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, record.put(), nullptr),
                  ERROR_SUCCESS);
        EXPECT_TRUE(testbed::SetKeyRules(record.get(), "D:P(A;;KR;;;WD)"));  // reading only
        return record;
    };
    for (bool rename : {false, true}) {
        const std::string title = rename ? "Away" : "Home";
        plx::unique_hkey record = lockedRecord(title);
        const size_t before = boxes.Seen().size();
        if (rename) {
            edit("Work - Quillmar Orvane Deluxe", title, "Edit Active Profile...");
        } else {
            User user("Save Active Profile As", [&](HWND dialog) {
                testbed::SetControlText(dialog, IDC_TITLE_BOX, title);
                testbed::Press(dialog, IDOK);
            });
            EXPECT_EQ(Pick("Save Active Profile As...", Owner()), S_OK);
        }
        ASSERT_TRUE(testbed::SetKeyRules(record.get(), "D:P(A;;KA;;;WD)"));
        ASSERT_EQ(boxes.Seen().size(), before + 1) << title;
        EXPECT_EQ(boxes.Seen().back().text,
                  rename ? plx::kOldProfileKeptMessage : plx::kProfileSavedInPartMessage);
        EXPECT_EQ(boxes.Seen().back().icon, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(CurrentProfileValue(), title);
        SetCurrentProfile("Work");
    }
    EXPECT_EQ(ResolutionSubkeys(), (std::vector<std::string>{"Away", "Home", "Work"}));
    EXPECT_TRUE(plx::OpenSlotKey(plx::GetScreenSize(), testbed::Profile("Work"), plx::kStartupSlot,
                                 plx::KeyAccess::Read));
}

TEST_F(CommandsTest, AnAnswerGivenAfterTheScreenSizeChangedChangesNothing) {
    const plx::ScreenSize first = plx::GetScreenSize(), second = {first.width - 256, first.height - 256};
    auto profile = [](const plx::ScreenSize& size, const std::string& name) {
        plx::unique_hkey key = plx::OpenProfileKey(size, testbed::Profile(name), plx::KeyAccess::Create);
        plx::WriteString(key.get(), nullptr, plx::kProfileMarker);
    };
    for (const plx::ScreenSize& size : {first, second}) {
        profile(size, "Work");
        profile(size, size == first ? "A" : "B");
        plx::unique_hkey key = plx::OpenResolutionKey(size, plx::KeyAccess::Write);
        plx::WriteString(key.get(), plx::kCurrentProfileValue, "Work");
    }
    ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, plx::kItemsKey));
    std::vector<testbed::SeenMessage> told;
    {
        // The screen changes while the question is open, and the desktop meanwhile takes the other
        // size's profile; then the user answers Yes.
        // Whatever fails here, every box is still answered until the command returns: it waits on them.
        std::atomic<bool> returned{false};
        // The size is changed on the thread that shows the question. Wine's x86 display driver deadlocks
        // when one thread of a process changes the display settings while another sets a cursor (as the
        // question's modal loop does): each holds the lock the other waits for.
        plx::unique_hwnd sizer(
            CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
        SetWindowLongPtrA(sizer.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ResizeScreenOnMessage));
        User user(plx::kMessageCaption, [&](HWND question) {
            EXPECT_TRUE(SendMessageA(sizer.get(), WM_APP, second.width, second.height));
            EXPECT_TRUE(testbed::WaitUntil([&] { return plx::GetScreenSize() == second; }, 30000));
            EXPECT_TRUE(testbed::WaitUntil([&] {
                if (IsWindow(question)) testbed::Press(question, IDYES);
                return testbed::WaitForClosed(question, 2000);
            }, 30000));
            // The command's limit ends the program first: boxes are answered as long as it runs.
            MessageBoxWatcher boxes;
            EXPECT_TRUE(testbed::WaitUntil([&] { return returned.load(); }, kCommandLimitMs + 10000, false))
                << "the command did not return";
            told = boxes.Seen();
        });
        EXPECT_EQ(Pick("Delete Active Profile", Owner()), S_OK);
        returned = true;
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text, plx::kScreenSizeChangedMessage);
    for (const plx::ScreenSize& size : {first, second}) {
        EXPECT_EQ(plx::GetCurrentProfile(size).Text(), "Work");
        EXPECT_EQ(plx::ListProfiles(size).size(), 2u);
    }
    ASSERT_TRUE(testbed::SetScreenSize(first.width, first.height));
}

TEST_F(CommandsTest, HelpAndAboutOpenTheirWindowsAndThereAreNoVerbs) {
    MessageBoxWatcher boxes;
    EXPECT_EQ(Pick("Help", Owner()), S_OK);
    HWND help = nullptr;
    ASSERT_TRUE(testbed::WaitUntil([&] { return (help = FindWindowA("HH Parent", nullptr)) != nullptr; }));
    SendMessageA(help, WM_CLOSE, 0, 0);
    {
        User user("About Quillmar Orvane Deluxe", [](HWND box) { testbed::PressKey(box, VK_ESCAPE); });
        EXPECT_EQ(Pick("About Orvane...", Owner()), S_OK);
    }
    EXPECT_TRUE(boxes.Seen().empty());

    plx::DesktopMenu menu;
    plx::unique_hmenu shell = ShellMenu();
    menu.QueryContextMenu(shell.get(), 0, menutest::kFirstId, menutest::kLastId, CMF_NORMAL);
    CMINVOKECOMMANDINFO info = {sizeof(info)};
    info.lpVerb = "open";
    EXPECT_EQ(menu.InvokeCommand(&info), E_INVALIDARG);
    EXPECT_EQ(GetWindowLongPtrA(view_, GWLP_WNDPROC), viewProc_);  // the subclass goes all the same
    info.lpVerb = MAKEINTRESOURCEA(10);
    EXPECT_EQ(menu.InvokeCommand(&info), E_INVALIDARG);

    // Asked for a verb or a help text, the menu leaves an empty string, not what the buffer held.
    char verb[8] = "garbage";
    EXPECT_EQ(menu.GetCommandString(0, GCS_VERBA, nullptr, verb, sizeof(verb)), S_OK);
    EXPECT_STREQ(verb, "");
    WCHAR helpText[8] = L"garbage";
    EXPECT_EQ(menu.GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(helpText), 8), S_OK);
    EXPECT_STREQ(helpText, L"");
}

}  // namespace

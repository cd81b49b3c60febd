// Saving, activating and releasing profiles with real files, the shell's enumeration and moves, the
// real registry, and a list view of this process for the icon positions.
#include "layout/profiles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <string>

#include "store/kept_positions.h"
#include "store/moves.h"
#include "store/visibility.h"
#include "tests/store_fixture.h"
#include "testbed/module_copy.h"

namespace {

using plx::DesktopItem;
using plx::DesktopItemList;
using plx::unique_hkey;

class ProfilesTest : public storetest::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        list_ = MakeListView();
        ASSERT_NE(list_, nullptr);
    }

    // ID -> "Visible" of every record the profile holds.
    static std::map<int, DWORD> Records(const std::string& profile) {
        std::map<int, DWORD> records;
        unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ProfileKeyPath(profile));
        if (!key) return records;
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD length = sizeof(name);
            if (RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            unique_hkey record = plx::OpenKeyForReading(key.get(), name);
            DWORD visible = 0;
            if (record && plx::ReadNumber(record.get(), "Visible", visible) == ERROR_SUCCESS)
                records[std::stoi(name)] = visible;
        }
        return records;
    }
    static bool HasLastResolution() {
        unique_hkey root = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kRootKey);
        BYTE data[16];
        DWORD size = sizeof(data);
        if (!root || plx::ReadBytes(root.get(), plx::kLastResolutionValue, data, size) != ERROR_SUCCESS)
            return false;
        const plx::ScreenSize screen = plx::GetScreenSize();
        return size == 8 && *reinterpret_cast<int*>(data) == screen.width &&
               *reinterpret_cast<int*>(data + 4) == screen.height;
    }
    // Moves the desktop file into the store as a hide would.
    void HideNow(const std::string& desktopPath) {
        DesktopItemList items = plx::BuildItemCatalogue(nullptr);
        const DesktopItem* found = Find(items, desktopPath);
        ASSERT_NE(found, nullptr);
        DesktopItem item = *found;
        item.Visible = false;
        CreateDirectoryA(store_.c_str(), nullptr);
        unique_hkey hidden = HiddenItemsKey();
        ASSERT_EQ(plx::ApplyItemVisibility(item, store_, hidden.get()), plx::VisibilityOutcome::Hidden);
    }
    int IdOf(const std::string& desktopPath) {
        const auto items = plx::ReadItemCatalogue();
        const DesktopItem* found = items ? Find(*items, desktopPath) : nullptr;
        return found ? found->ID : -1;
    }
    static size_t MovableCount(const DesktopItemList& items) {
        size_t n = 0;
        for (const DesktopItem& item : items) n += item.Movable() && !item.InStore();
        return n;
    }

    HWND list_ = nullptr;
};

TEST_F(ProfilesTest, SavingWithoutApplyRecordsTheDesktopAsItIs) {
    Write(OnDesktop("shown.txt"), "shown");
    Write(OnDesktop("stored.txt"), "stored");
    HideNow(OnDesktop("stored.txt"));

    plx::SaveCurrentProfile(list_, nullptr, TRUE, nullptr, false);
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Default");
    EXPECT_TRUE(plx::IsProfileKey(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath()).get(),
                                  "Default"));
    EXPECT_TRUE(HasLastResolution());
    EXPECT_TRUE(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::SlotKeyPath("Default", "Manual")));
    const std::map<int, DWORD> records = Records("Default");
    EXPECT_EQ(records.at(IdOf(OnDesktop("shown.txt"))), 1u);
    EXPECT_EQ(records.at(IdOf(OnDesktop("stored.txt"))), 0u);
    // Shell objects and folders that cannot move get no record.
    const auto catalogue = plx::ReadItemCatalogue();
    for (const DesktopItem& item : *catalogue)
        EXPECT_EQ(records.count(item.ID), item.Movable() ? 1u : 0u) << item.DesktopPath;
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("shown.txt")), "shown");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("stored.txt"))), "stored");

    plx::SaveCurrentProfile(list_, nullptr, TRUE, nullptr, false);
    EXPECT_EQ(Records("Default"), records);
}

TEST_F(ProfilesTest, SavingWithApplyMakesTheDesktopMatchTheList) {
    Write(OnDesktop("back.txt"), "back");
    Write(OnDesktop("away.txt"), "away");
    HideNow(OnDesktop("back.txt"));
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    for (DesktopItem& item : items) {
        if (item.DesktopPath == OnDesktop("back.txt")) item.Visible = true;
        if (item.DesktopPath == OnDesktop("away.txt")) item.Visible = false;
        if (!item.Movable()) item.Visible = false;
    }
    const DesktopItemList given = items;
    // An icon past the right edge: the save keeps its place, the restore at the end brings it back
    // into the visible area.
    LVITEMA icon = {};
    icon.mask = LVIF_TEXT;
    icon.pszText = const_cast<char*>("far.txt");
    ASSERT_EQ(ListView_InsertItem(list_, &icon), 0);
    // The list view lays out what it has not painted yet, at its next paint; settle before placing.
    UpdateWindow(list_);
    ListView_SetItemPosition(list_, 0, 5000, 100);

    plx::SaveProfile(list_, plx::GetScreenSize(), testbed::Profile("Work"), nullptr, TRUE, &items, true);
    int savedX = 0, savedY = 0;
    ASSERT_TRUE(
        testbed::ReadSavedPoint(plx::SlotKeyPath("Work", plx::kManualSlot), "far.txt", savedX, savedY));
    EXPECT_EQ(savedX, 5000);
    RECT client = {};
    GetClientRect(list_, &client);
    POINT restored = {};
    ListView_GetItemPosition(list_, 0, &restored);
    EXPECT_EQ(restored.x, client.right - 32);
    EXPECT_EQ(restored.y, 100);
    ASSERT_EQ(items.size(), given.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].Path, given[i].Path) << "the caller's list is not changed";
        EXPECT_EQ(items[i].Visible, given[i].Visible);
    }
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("back.txt")), "back");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("away.txt"))), "away");
    EXPECT_FALSE(Exists(OnDesktop("away.txt")));
    const std::map<int, DWORD> records = Records("Work");
    EXPECT_EQ(records.at(IdOf(OnDesktop("back.txt"))), 1u);
    EXPECT_EQ(records.at(IdOf(OnDesktop("away.txt"))), 0u);
    for (const DesktopItem& item : items) {
        if (item.Movable()) continue;
        EXPECT_EQ(records.count(item.ID), 0u);
        EXPECT_TRUE(Exists(item.DesktopPath) || item.VirtualFolder) << item.DesktopPath;
    }

    // A hide that fails at the move is recorded as shown, a failed show as hidden.
    Write(OnDesktop("away.txt"), "newcomer");
    Write(OnDesktop("stuck.txt"), "stuck");
    items = plx::BuildItemCatalogue(nullptr);
    for (DesktopItem& item : items)
        item.Visible = !item.Movable() || item.DesktopPath == OnDesktop("away.txt");
    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, plx::SplitPath(userDesktop_ + "\\x").directory));
    Write(InStore(OnDesktop("stuck.txt")), "leftover");
    plx::SaveProfile(list_, plx::GetScreenSize(), testbed::Profile("Work"), nullptr, TRUE, &items, true);
    const std::map<int, DWORD> after = Records("Work");
    EXPECT_EQ(after.at(IdOf(OnDesktop("stuck.txt"))), 1u);
    EXPECT_EQ(after.at(IdOf(OnDesktop("away.txt"))), 0u);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("stuck.txt")), "stuck");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("stuck.txt"))), "leftover");
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("away.txt")), "newcomer");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("away.txt"))), "away");
}

TEST_F(ProfilesTest, ActivationMovesOnlyWhatTheProfilesDifferIn) {
    Write(OnDesktop("common.txt"), "common");
    Write(OnDesktop("toggled.txt"), "toggled");
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    plx::SaveProfile(list_, plx::GetScreenSize(), testbed::Profile("One"), nullptr, TRUE, &items, false);
    for (DesktopItem& item : items)
        if (item.DesktopPath == OnDesktop("toggled.txt")) item.Visible = false;
    plx::SaveProfile(list_, plx::GetScreenSize(), testbed::Profile("Two"), nullptr, TRUE, &items, false);
    EXPECT_TRUE(Exists(OnDesktop("toggled.txt"))) << "saving without apply moves nothing";

    SetCurrentProfile("Two");
    plx::ActivateProfile(list_, nullptr);
    EXPECT_FALSE(Exists(OnDesktop("toggled.txt")));
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("toggled.txt"))), "toggled");
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("common.txt")), "common");
    EXPECT_TRUE(HasLastResolution());

    SetCurrentProfile("One");
    plx::ActivateProfile(list_, nullptr);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("toggled.txt")), "toggled");
    EXPECT_FALSE(Exists(InStore(OnDesktop("toggled.txt"))));
    EXPECT_FALSE(HasHiddenEntry(OnDesktop("toggled.txt")));
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("common.txt")), "common");
}

TEST_F(ProfilesTest, ActivationLeavesItemsWithoutRecordWhereTheyAre) {
    Write(OnDesktop("loose.txt"), "loose");
    Write(OnDesktop("kept.txt"), "kept");
    HideNow(OnDesktop("kept.txt"));
    SetCurrentProfile("Empty");
    plx::ActivateProfile(list_, nullptr);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("loose.txt")), "loose");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("kept.txt"))), "kept");
}

bool keptBeforeRestore = false;
void LookAtTheUndo(const char* step) {
    if (!std::strcmp(step, "restoring positions"))
        keptBeforeRestore = plx::ReadKeptPositions(plx::GetScreenSize()).has_value();
}

// "a.txt" and "A.TXT" are one file and one entry: a batch that lists both hides the file once and keeps
// its entry. An activation hides only items of the desktop folders, not the entry of a folder the
// desktop once was (whose files stay), and keeps the undo before the icons move.
TEST_F(ProfilesTest, ItemsAreNamedAsTheFileSystemNamesThemAndOnlyDesktopItemsAreHidden) {
    Write(OnDesktop("A.TXT"), "a");
    const std::string old = moduleDir_.path() + "\\Old Desktop";
    ASSERT_TRUE(CreateDirectoryA(old.c_str(), nullptr));
    Write(old + "\\there.txt", "there");
    const DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    const DesktopItem* found = Find(items, OnDesktop("A.TXT"));
    ASSERT_NE(found, nullptr);
    DesktopItemList batch = {*found, *found};
    batch[1].Path = batch[1].DesktopPath = OnDesktop("a.txt");
    for (DesktopItem& item : batch) item.Visible = false;
    ASSERT_TRUE(CreateDirectoryA(store_.c_str(), nullptr));
    EXPECT_EQ(plx::ApplyVisibility(batch, store_, HiddenItemsKey().get())[0], plx::VisibilityOutcome::Hidden);
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("A.TXT"))), "a");
    EXPECT_TRUE(HasHiddenEntry(OnDesktop("A.TXT")));

    const int there = plx::CatalogueIdFor(old + "\\there.txt", "there.txt", "Text");
    unique_hkey record =
        plx::CreateKey(HKEY_CURRENT_USER, plx::ProfileKeyPath("Hide") + "\\" + std::to_string(there));
    ASSERT_EQ(plx::WriteNumber(record.get(), "Visible", 0), ERROR_SUCCESS);
    SetCurrentProfile("Hide");
    LVITEMA icon = {LVIF_TEXT, 0, 0, 0, 0, const_cast<char*>("icon")};
    ASSERT_EQ(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&icon)), 0);
    const plx::StoreStepHook before = plx::SetStoreStepHook(LookAtTheUndo);
    EXPECT_NE(plx::ActivateProfile(list_, nullptr), plx::ActivationOutcome::NotRun);
    plx::SetStoreStepHook(before);
    EXPECT_TRUE(keptBeforeRestore);
    EXPECT_EQ(testbed::ReadTextFile(old + "\\there.txt"), "there");
    EXPECT_FALSE(HasHiddenEntry(old + "\\there.txt"));
}

TEST_F(ProfilesTest, ActivationWithoutCatalogueChangesNothing) {
    Write(OnDesktop("untouched.txt"), "untouched");
    plx::ActivateProfile(list_, nullptr);
    EXPECT_FALSE(HasLastResolution());
    EXPECT_FALSE(Exists(store_));
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kHiddenItemsKey));
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("untouched.txt")), "untouched");
}

TEST_F(ProfilesTest, ReleaseBringsEverythingBackAndKeepsWhatCannotMove) {
    Write(OnDesktop("one.txt"), "one");
    Write(OnDesktop("two.txt"), "two");
    Write(OnCommonDesktop("shared.txt"), "shared");
    HideNow(OnDesktop("one.txt"));
    HideNow(OnDesktop("two.txt"));
    {
        // Wine's desktop enumeration leaves the common desktop out; hide its file directly.
        DesktopItem item;
        item.ID = 99;
        item.Path = item.DesktopPath = OnCommonDesktop("shared.txt");
        item.Visible = false;
        unique_hkey hidden = HiddenItemsKey();
        ASSERT_EQ(plx::ApplyItemVisibility(item, store_, hidden.get()), plx::VisibilityOutcome::Hidden);
    }
    Write(OnDesktop("two.txt"), "newcomer");  // the stored two.txt cannot come back
    // This process's agent window: the dialog class and title, and it goes on WM_CLOSE.
    HWND agent = CreateWindowExA(0, "#32770", plx::kAgentWindowTitle, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(agent, nullptr);
    SetWindowLongPtrA(agent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));

    plx::ReleaseHiddenItems(list_);
    EXPECT_FALSE(IsWindow(agent));
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("one.txt")), "one");
    EXPECT_EQ(testbed::ReadTextFile(OnCommonDesktop("shared.txt")), "shared");
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("two.txt")), "newcomer");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("two.txt"))), "two");
    EXPECT_FALSE(Exists(store_ + "\\users\\Public")) << "emptied mirrors go";
    const std::map<int, DWORD> records = Records(plx::GetCurrentProfile().Text());
    EXPECT_EQ(records.at(IdOf(OnDesktop("one.txt"))), 1u);
    EXPECT_EQ(records.at(99), 1u);

    ASSERT_TRUE(DeleteFileA(OnDesktop("two.txt").c_str()));
    plx::ReleaseHiddenItems(list_);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("two.txt")), "two");
    EXPECT_FALSE(Exists(store_));
    for (const auto& record : Records(plx::GetCurrentProfile().Text()))
        EXPECT_EQ(record.second, 1u) << record.first;
}

}  // namespace

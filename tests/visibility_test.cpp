// Hiding and showing items with the shell's real file moves, against the prefix's desktop folders and
// a hidden store beside a copy of the module.
#include "store/visibility.h"

#include "store/moves.h"
#include "store/store_security.h"
#include "store/store_walk.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "layout/profiles.h"
#include "tests/store_fixture.h"
#include "win32/long_path.h"

namespace {

using plx::DesktopItem;
using plx::unique_hkey;
using plx::VisibilityOutcome;

class VisibilityTest : public storetest::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA(store_.c_str(), nullptr));
        hidden_ = HiddenItemsKey();
        ASSERT_TRUE(hidden_);
    }
    void TearDown() override {
        hidden_.reset();
        StoreTest::TearDown();
    }

    DesktopItem Item(const std::string& desktopPath, int id, bool visible) const {
        DesktopItem item;
        item.ID = id;
        item.Path = item.DesktopPath = desktopPath;
        item.DisplayName = "name " + std::to_string(id);
        item.TypeName = "Text Document";
        item.Visible = visible;
        return item;
    }
    VisibilityOutcome Apply(DesktopItem& item) {
        return plx::ApplyItemVisibility(item, store_, hidden_.get());
    }

    unique_hkey hidden_;
};

TEST_F(VisibilityTest, HideMirrorsTheFolderAndShowBringsTheFileBack) {
    const std::string notes = OnDesktop("Notes.txt");
    const std::string shared = OnCommonDesktop("Shared.txt");
    Write(notes, "notes");
    Write(shared, "shared");
    ASSERT_TRUE(CreateDirectoryA(OnDesktop("Folder").c_str(), nullptr));
    Write(OnDesktop("Folder\\inner.txt"), "inner");

    DesktopItem a = Item(notes, 3, false), b = Item(shared, 4, false),
                c = Item(OnDesktop("Folder"), 5, false);
    ASSERT_EQ(Apply(a), VisibilityOutcome::Hidden);
    ASSERT_EQ(Apply(b), VisibilityOutcome::Hidden);
    ASSERT_EQ(Apply(c), VisibilityOutcome::Hidden);
    EXPECT_EQ(a.Path,
              store_ + "\\users\\" + userDesktop_.substr(userDesktop_.find("users\\") + 6) + "\\Notes.txt");
    EXPECT_EQ(b.Path, store_ + "\\users\\Public\\Desktop\\Shared.txt");
    EXPECT_FALSE(Exists(notes));
    EXPECT_FALSE(Exists(shared));
    EXPECT_EQ(testbed::ReadTextFile(a.Path), "notes");
    EXPECT_EQ(testbed::ReadTextFile(b.Path), "shared");
    EXPECT_EQ(testbed::ReadTextFile(c.Path + "\\inner.txt"), "inner");

    unique_hkey entry = plx::OpenKeyForReading(hidden_.get(), plx::ItemKeyName(notes));
    ASSERT_TRUE(entry);
    EXPECT_EQ(plx::ItemKeyName(notes).find('\\'), std::string::npos);
    DWORD id = 0;
    std::string text;
    EXPECT_EQ(plx::ReadNumber(entry.get(), "ID", id), ERROR_SUCCESS);
    EXPECT_EQ(id, 3u);
    plx::ReadString(entry.get(), "DisplayName", text);
    EXPECT_EQ(text, "name 3");
    plx::ReadString(entry.get(), "TypeName", text);
    EXPECT_EQ(text, "Text Document");
    entry.reset();

    for (DesktopItem* item : {&a, &b, &c}) {
        item->Visible = true;
        ASSERT_EQ(Apply(*item), VisibilityOutcome::Shown) << item->DesktopPath;
        EXPECT_EQ(item->Path, item->DesktopPath);
        EXPECT_FALSE(HasHiddenEntry(item->DesktopPath));
    }
    EXPECT_EQ(testbed::ReadTextFile(notes), "notes");
    EXPECT_EQ(testbed::ReadTextFile(shared), "shared");
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("Folder\\inner.txt")), "inner");
    // Mirror directories stay once made.
    EXPECT_TRUE(Exists(store_ + "\\users\\Public\\Desktop"));
}

TEST_F(VisibilityTest, ItemsAlreadyInPlaceAndUnmovableItemsAreLeftAlone) {
    Write(OnDesktop("here.txt"), "here");
    DesktopItem shown = Item(OnDesktop("here.txt"), 1, true);
    EXPECT_EQ(Apply(shown), VisibilityOutcome::NothingToDo);

    // Already in the store: no move, no entry written.
    DesktopItem stored = Item(OnDesktop("away.txt"), 2, false);
    stored.Path = InStore(stored.DesktopPath);
    EXPECT_EQ(Apply(stored), VisibilityOutcome::NothingToDo);
    EXPECT_FALSE(HasHiddenEntry(stored.DesktopPath));

    // A special or virtual item is never moved: not hidden from the desktop, and not shown from the
    // store, though its file is there and its place on the desktop is free.
    Write(OnDesktop("kept.txt"), "kept");
    DesktopItem kept = Item(OnDesktop("kept.txt"), 8, false);
    ASSERT_EQ(Apply(kept), VisibilityOutcome::Hidden);
    for (bool special : {true, false}) {
        DesktopItem onDesktop = Item(OnDesktop("here.txt"), 7, false);
        DesktopItem inStore = kept;
        inStore.Visible = true;
        for (DesktopItem* item : {&onDesktop, &inStore}) {
            (special ? item->SpecialFolder : item->VirtualFolder) = true;
            const std::string before = item->Path;
            EXPECT_EQ(Apply(*item), VisibilityOutcome::NothingToDo);
            EXPECT_EQ(item->Path, before);
        }
    }
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("here.txt")), "here");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("kept.txt"))), "kept");
    EXPECT_FALSE(Exists(OnDesktop("kept.txt")));
    EXPECT_FALSE(Exists(InStore(OnDesktop("here.txt"))));
}

TEST_F(VisibilityTest, TakenDestinationsAreRefusedAndBothFilesKept) {
    // A leftover file in the store under the item's name.
    const std::string item1 = OnDesktop("report.txt");
    Write(item1, "desktop copy");
    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, plx::SplitPath(item1).directory));
    Write(InStore(item1), "leftover");
    DesktopItem hide = Item(item1, 1, false);
    EXPECT_EQ(Apply(hide), VisibilityOutcome::HideFailedAtMove);
    EXPECT_EQ(hide.Path, item1);
    EXPECT_FALSE(HasHiddenEntry(item1));
    EXPECT_EQ(testbed::ReadTextFile(item1), "desktop copy");
    EXPECT_EQ(testbed::ReadTextFile(InStore(item1)), "leftover");

    // A new desktop file with the name of a hidden item.
    const std::string item2 = OnDesktop("plan.txt");
    Write(item2, "hidden original");
    DesktopItem show = Item(item2, 2, false);
    ASSERT_EQ(Apply(show), VisibilityOutcome::Hidden);
    Write(item2, "newcomer");
    show.Visible = true;
    EXPECT_EQ(Apply(show), VisibilityOutcome::ShowFailed);
    EXPECT_EQ(show.Path, InStore(item2));
    EXPECT_TRUE(HasHiddenEntry(item2));
    EXPECT_EQ(testbed::ReadTextFile(item2), "newcomer");
    EXPECT_EQ(testbed::ReadTextFile(InStore(item2)), "hidden original");

    // The desktop copy of an item already in the store (the double listing) cannot be hidden again.
    DesktopItem desktopCopy = Item(item2, 2, false);
    desktopCopy.DisplayName = "the newcomer's label";
    EXPECT_EQ(Apply(desktopCopy), VisibilityOutcome::HideFailedAtMove);
    EXPECT_EQ(testbed::ReadTextFile(InStore(item2)), "hidden original");
    EXPECT_EQ(testbed::ReadTextFile(item2), "newcomer");
    // The stored item keeps its entry as it was: the refused hide wrote nothing of its own into it.
    unique_hkey entry = plx::OpenKeyForReading(hidden_.get(), plx::ItemKeyName(item2));
    ASSERT_TRUE(entry);
    std::string label;
    EXPECT_EQ(plx::ReadString(entry.get(), "DisplayName", label), ERROR_SUCCESS);
    EXPECT_EQ(label, "name 2");
}

TEST_F(VisibilityTest, HideFailsAtTheDirectoryWhenTheMirrorCannotBeMade) {
    Write(OnDesktop("a.txt"), "a");
    // A store whose own directory is missing under a missing parent: no mirror can be created.
    const std::string unreachable = moduleDir_.path() + "\\missing\\Hidden";
    DesktopItem item = Item(OnDesktop("a.txt"), 1, false);
    EXPECT_EQ(plx::ApplyItemVisibility(item, unreachable, hidden_.get()),
              VisibilityOutcome::HideFailedAtDirectory);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("a.txt")), "a");
    EXPECT_FALSE(HasHiddenEntry(item.DesktopPath));

    // A file standing where a mirror directory belongs counts as existing; the move is then refused.
    const std::string mirror = InStore(userDesktop_);
    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, plx::SplitPath(userDesktop_).directory));
    Write(mirror, "blocker");
    EXPECT_EQ(Apply(item), VisibilityOutcome::HideFailedAtMove);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("a.txt")), "a");
    EXPECT_EQ(testbed::ReadTextFile(mirror), "blocker");
    // Further up, the directories below the file cannot be made at all.
    ASSERT_TRUE(DeleteFileA(mirror.c_str()));
    plx::RemoveDirectoryTree(store_ + "\\users");
    Write(store_ + "\\users", "higher blocker");
    EXPECT_EQ(Apply(item), VisibilityOutcome::HideFailedAtDirectory);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("a.txt")), "a");
    EXPECT_EQ(testbed::ReadTextFile(store_ + "\\users"), "higher blocker");
}

TEST_F(VisibilityTest, NothingIsHiddenWhereItCouldNotBeShownAgain) {
    // A store on a share: its places have no drive, and nothing comes back through such a path.
    Write(OnDesktop("far.txt"), "far");
    DesktopItem item = Item(OnDesktop("far.txt"), 1, false);
    EXPECT_EQ(plx::ApplyItemVisibility(item, "\\\\localhost\\share\\Hidden", hidden_.get()),
              VisibilityOutcome::HideFailedAtMove);
    EXPECT_EQ(item.Path, item.DesktopPath);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("far.txt")), "far");
    EXPECT_FALSE(HasHiddenEntry(item.DesktopPath));
}

// The module in a folder whose long name makes the store's place for an item longer than a plain path
// may be, while its 8.3 name keeps it short. Loaded by either name, in another case, or (on Windows)
// with "\\?\", the store is one folder under one name: an item hidden under one is listed, shown and
// released under the others, and on one volume it is renamed into the store, never copied.
TEST_F(VisibilityTest, TheStoreHasOneNameHoweverTheModuleWasLoaded) {
    // Wine 8 names no handle whose path is longer than MAX_PATH (a buffer of that size inside), and
    // the store checks every folder by its name: the folders stay just below, the file goes beyond.
    const std::string mirror = plx::SplitPath(OnDesktop("x")).directory;
    const std::string folder =
        moduleDir_.path() + "\\" + std::string(250 - moduleDir_.path().size() - mirror.size() - 7, 'L');
    const std::string longStore = folder + "\\Hidden", notes = OnDesktop("Notes kept with a long name.txt");
    ASSERT_GE(plx::StorePathFor(longStore, notes).size(), static_cast<size_t>(MAX_PATH));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::wstring longModule = plx::ToWide(folder + "\\Plaxen.dll");
    ASSERT_TRUE(CopyFileW(plx::ToWide(testbed::ModulePath()).c_str(), longModule.c_str(), FALSE));
    std::wstring shortModule(MAX_PATH, L'\0');
    shortModule.resize(GetShortPathNameW(longModule.c_str(), &shortModule[0], MAX_PATH));
    ASSERT_FALSE(shortModule.empty());
    ASSERT_NE(shortModule, longModule) << "the test bed's drive gives 8.3 names";
    std::wstring otherCase = longModule;
    CharUpperW(&otherCase[0]);
    // Wine's loader drops "\\?\" from the name it keeps; Windows keeps the name as it was loaded.
    EXPECT_EQ(plx::ToUtf8(plx::CanonicalFolder(L"\\\\?\\" + longModule)), folder);
    EXPECT_EQ(plx::ToUtf8(plx::CanonicalFolder(L"\\\\?\\" + shortModule)), folder);

    const auto loadedAs = [&](const std::wstring& path) {
        plx::SetModuleInstance(nullptr);
        plx::unique_hmodule module(LoadLibraryW(path.c_str()));
        plx::SetModuleInstance(module.get());
        return module;
    };
    const auto fileIndex = [](const std::string& path) {
        plx::unique_hfile file(CreateFileW(plx::FileApiPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!file || !GetFileInformationByHandle(file.get(), &info)) return ULONGLONG(0);
        return (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    };
    const auto listed = [&]() -> std::optional<DesktopItem> {
        plx::DesktopItemList items;
        plx::AppendHiddenItems(items, false);
        if (items.size() != 1) return std::nullopt;
        return items.front();
    };
    ASSERT_TRUE(CreateDirectoryW(plx::FileApiPath(longStore).c_str(), nullptr));
    Write(notes, "notes");
    const ULONGLONG before = fileIndex(notes);
    {
        plx::unique_hmodule module = loadedAs(shortModule);
        ASSERT_TRUE(module);
        EXPECT_EQ(plx::HiddenStoreDirectory(), longStore);
        DesktopItem item = Item(notes, 1, false);
        EXPECT_EQ(plx::ApplyItemVisibility(item, plx::HiddenStoreDirectory(), hidden_.get()),
                  VisibilityOutcome::Hidden);
        EXPECT_EQ(item.Path, plx::StorePathFor(longStore, notes));
        EXPECT_EQ(fileIndex(item.Path), before) << "renamed, not copied";
    }
    {
        plx::unique_hmodule module = loadedAs(otherCase);
        ASSERT_TRUE(module);
        EXPECT_EQ(plx::HiddenStoreDirectory(), longStore);
        std::optional<DesktopItem> item = listed();
        ASSERT_TRUE(item);
        EXPECT_EQ(item->Path, plx::StorePathFor(longStore, notes));
        item->Visible = true;
        EXPECT_EQ(plx::ApplyItemVisibility(*item, plx::HiddenStoreDirectory(), hidden_.get()),
                  VisibilityOutcome::Shown);
        EXPECT_EQ(testbed::ReadTextFile(notes), "notes");
        item->Visible = false;
        EXPECT_EQ(plx::ApplyItemVisibility(*item, plx::HiddenStoreDirectory(), hidden_.get()),
                  VisibilityOutcome::Hidden);
    }
    {
        plx::unique_hmodule module = loadedAs(shortModule);
        ASSERT_TRUE(module);
        ASSERT_TRUE(listed());
        hidden_.reset();
        plx::ReleaseHiddenItems(MakeListView());
        EXPECT_EQ(testbed::ReadTextFile(notes), "notes");
        EXPECT_FALSE(listed());
        EXPECT_EQ(fileIndex(notes), before);
    }
    plx::SetModuleInstance(module_.get());
}

TEST_F(VisibilityTest, HideIsUndoneWhenItsEntryCannotBeWritten) {
    Write(OnDesktop("b.txt"), "b");
    // The key is deleted behind the open handle: nothing can be created under it any more.
    ASSERT_EQ(plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kHiddenItemsKey), ERROR_SUCCESS);
    DesktopItem item = Item(OnDesktop("b.txt"), 1, false);
    EXPECT_EQ(Apply(item), VisibilityOutcome::HideFailedAtMove);
    EXPECT_EQ(item.Path, item.DesktopPath);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("b.txt")), "b");
    EXPECT_FALSE(Exists(InStore(item.DesktopPath)));
    EXPECT_FALSE(HasHiddenEntry(item.DesktopPath));
}

TEST_F(VisibilityTest, FileHeldOpenWithoutDeleteSharingStaysWhereItIs) {
    const std::string path = OnDesktop("open.txt");
    Write(path, "open");
    DesktopItem item = Item(path, 1, false);
    {
        plx::unique_handle held(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(Apply(item), VisibilityOutcome::HideFailedAtMove);
        EXPECT_EQ(testbed::ReadTextFile(path), "open");
        EXPECT_FALSE(Exists(InStore(path)));
        EXPECT_FALSE(HasHiddenEntry(path));
    }
    ASSERT_EQ(Apply(item), VisibilityOutcome::Hidden);
    plx::unique_handle held(CreateFileA(item.Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    item.Visible = true;
    EXPECT_EQ(Apply(item), VisibilityOutcome::ShowFailed);
    EXPECT_EQ(testbed::ReadTextFile(InStore(path)), "open");
    EXPECT_TRUE(HasHiddenEntry(path));
}

TEST_F(VisibilityTest, PathsThatLeaveTheirFoldersAreNeverMoved) {
    // A forged HiddenItems entry whose desktop path climbs out of the desktop: its store path climbs
    // out of the store to a file beside the module.
    const std::string forged = userDesktop_ + "\\..\\..\\..\\..\\victim.txt";
    const std::string outside = InStore(forged);
    Write(moduleDir_.path() + "\\victim.txt", "beside the module");
    ASSERT_TRUE(Exists(outside));
    {
        unique_hkey entry = plx::CreateKey(hidden_.get(), plx::ItemKeyName(forged));
        plx::WriteNumber(entry.get(), "ID", 9);
    }
    plx::DesktopItemList listed;
    plx::AppendHiddenItems(listed, false);
    ASSERT_EQ(listed.size(), 1u);
    listed[0].Visible = true;
    EXPECT_EQ(Apply(listed[0]), VisibilityOutcome::ShowFailed);
    EXPECT_EQ(testbed::ReadTextFile(moduleDir_.path() + "\\victim.txt"), "beside the module");

    // Only a file at the item's own place in the store comes out of it.
    Write(moduleDir_.path() + "\\elsewhere.txt", "elsewhere");
    DesktopItem misplaced = Item(OnDesktop("elsewhere.txt"), 3, true);
    misplaced.Path = moduleDir_.path() + "\\elsewhere.txt";
    EXPECT_EQ(Apply(misplaced), VisibilityOutcome::ShowFailed);
    EXPECT_FALSE(Exists(OnDesktop("elsewhere.txt")));
    EXPECT_EQ(testbed::ReadTextFile(misplaced.Path), "elsewhere");

    // A catalogue path with ".." is not hidden either.
    Write(OnDesktop("c.txt"), "c");
    DesktopItem climbing = Item(OnDesktop("sub\\..\\c.txt"), 2, false);
    EXPECT_EQ(Apply(climbing), VisibilityOutcome::HideFailedAtMove);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("c.txt")), "c");
}

// The list a folder the module makes should carry: that user, SYSTEM and Administrators, protected.
// Wine keeps no list: it maps one onto the Unix permission bits of its owner (the test's user), so it
// reads back an owner entry and SYSTEM's and, for a folder others may read, an entry for Everyone.
std::string OwnFolderDacl() {
    const std::wstring written = plx::OwnFolderSddl();
    const std::string sddl(written.begin(), written.end());
    if (!testbed::OnWine()) return sddl;
    const std::string user = sddl.substr(sddl.find(";;;") + 3, sddl.find(')') - sddl.find(";;;") - 3);
    return "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + user + ")";
}

std::string DaclOf(const std::string& path) {
    const std::string sddl = testbed::SecuritySddl(path);
    return sddl.substr(std::min(sddl.find("D:"), sddl.size()));
}

TEST_F(VisibilityTest, EachUsersFoldersAreItsOwnAndNoOtherFolderIsUsed) {
    const std::string notes = OnDesktop("Notes.txt");
    Write(notes, "notes");
    DesktopItem item = Item(notes, 1, false);
    ASSERT_EQ(Apply(item), VisibilityOutcome::Hidden);
    const std::string mirror = plx::SplitPath(notes).directory;  // "\users\<me>\Desktop\"
    for (size_t end = mirror.find('\\', 1); end != std::string::npos; end = mirror.find('\\', end + 1))
        EXPECT_EQ(DaclOf(store_ + mirror.substr(0, end)), OwnFolderDacl()) << mirror.substr(0, end);

    // Whatever stands on the store's path and is not the user's own is refused, both ways, and
    // nothing is moved through it: a link to a folder elsewhere, a folder another user owns.
    item.Visible = true;
    ASSERT_EQ(Apply(item), VisibilityOutcome::Shown);
    const std::string profileMirror = store_ + mirror.substr(0, mirror.find('\\', 7));  // store\users\<me>
    testbed::TempDirectory elsewhere;
    ASSERT_TRUE(plx::EnsureStoreDirectory(elsewhere.path(), mirror.substr(mirror.find('\\', 7))));
    const std::string planted = elsewhere.path() + mirror.substr(mirror.find('\\', 7)) + "Planted.txt";
    Write(planted, "planted");
    plx::RemoveDirectoryTree(profileMirror);
    ASSERT_FALSE(Exists(profileMirror));
    ASSERT_TRUE(testbed::MakeDirectoryLink(profileMirror, elsewhere.path()));
    DesktopItem plantedItem = Item(OnDesktop("Planted.txt"), 2, true);
    plantedItem.Path = InStore(plantedItem.DesktopPath);
    const auto refusedBothWays = [&](const char* what) {
        item.Visible = false;
        EXPECT_EQ(Apply(item), VisibilityOutcome::HideFailedAtDirectory) << what;
        item.Visible = true;
        EXPECT_EQ(testbed::ReadTextFile(notes), "notes") << what;
        EXPECT_EQ(Apply(plantedItem), VisibilityOutcome::ShowFailed) << what;
        EXPECT_FALSE(Exists(plantedItem.DesktopPath)) << what;
        EXPECT_EQ(testbed::ReadTextFile(planted), "planted") << what;
    };
    refusedBothWays("link");
    ASSERT_TRUE(testbed::RemoveDirectoryLink(profileMirror));

    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, mirror));
    Write(InStore(plantedItem.DesktopPath), "planted");
    ASSERT_TRUE(testbed::GiveToAnotherUser(store_ + "\\users"));
    refusedBothWays("owned by another user");
    EXPECT_EQ(testbed::ReadTextFile(InStore(plantedItem.DesktopPath)), "planted");
}

// Everybody gets every right on the folder. Wine keeps no list: it sets the folder's Unix permission
// bits for all, and reads back an entry for Everyone that writes.
bool OpenToEverybody(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
    LocalFree(descriptor);
    return set;
}

TEST_F(VisibilityTest, AUserFolderThatOthersMayChangeIsRefusedWhileTheSharedOnesLetUsersIn) {
    const std::string notes = OnDesktop("Notes.txt");
    Write(notes, "notes");
    const std::string mirror = plx::SplitPath(notes).directory;  // "\users\<me>\Desktop\"
    // The shared mirror of the profiles folder lets every user make folders in it: it is used.
    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, mirror.substr(0, mirror.find('\\', 1) + 1)));
    ASSERT_TRUE(OpenToEverybody(store_ + "\\users"));
    DesktopItem item = Item(notes, 1, false);
    ASSERT_EQ(Apply(item), VisibilityOutcome::Hidden);

    // The user's own folder lets others write: neither the hidden item nor a new one passes through.
    ASSERT_TRUE(OpenToEverybody(store_ + mirror.substr(0, mirror.find('\\', 7))));
    item.Visible = true;
    EXPECT_EQ(Apply(item), VisibilityOutcome::ShowFailed);
    EXPECT_EQ(testbed::ReadTextFile(InStore(notes)), "notes");
    EXPECT_FALSE(Exists(notes));
    Write(OnDesktop("More.txt"), "more");
    DesktopItem more = Item(OnDesktop("More.txt"), 2, false);
    EXPECT_EQ(Apply(more), VisibilityOutcome::HideFailedAtDirectory);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("More.txt")), "more");
    EXPECT_FALSE(Exists(InStore(OnDesktop("More.txt"))));
}

TEST(StoreDirectories, ChainsAreCreatedPieceByPieceAndTreesRemoved) {
    testbed::TempDirectory temp;
    const std::string base = temp.path() + "\\Hidden";
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    EXPECT_TRUE(plx::EnsureStoreDirectory(base, "\\a\\b c\\d\\"));
    EXPECT_TRUE(GetFileAttributesA((base + "\\a\\b c\\d").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(plx::EnsureStoreDirectory(base, "\\a\\b c\\d\\"));
    EXPECT_TRUE(plx::EnsureStoreDirectory(base, "\\single"));
    EXPECT_EQ(GetFileAttributesA((base + "\\single").c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(testbed::WriteTextFile(base + "\\a\\b c\\d\\f.txt", "f"));
    ASSERT_TRUE(testbed::WriteTextFile(base + "\\a\\keep.txt", "k"));
    // The chain of a desktop folder "C:\a\b c\d", whose mirror holds f.txt.
    const std::vector<std::wstring> desktop = {L"C:\\a\\b c\\d"};
    plx::RemoveEmptyDirectories(base, desktop);
    EXPECT_EQ(testbed::ReadTextFile(base + "\\a\\b c\\d\\f.txt"), "f");
    EXPECT_EQ(testbed::ReadTextFile(base + "\\a\\keep.txt"), "k");
    ASSERT_TRUE(DeleteFileA((base + "\\a\\b c\\d\\f.txt").c_str()));
    plx::RemoveEmptyDirectories(base + "\\", desktop);
    EXPECT_EQ(GetFileAttributesA((base + "\\a\\b c").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(testbed::ReadTextFile(base + "\\a\\keep.txt"), "k");

    for (const char* suffix : {"", "\\"}) {
        ASSERT_TRUE(plx::EnsureStoreDirectory(base, "\\x\\y\\"));
        ASSERT_TRUE(testbed::WriteTextFile(base + "\\x\\y\\z.txt", "z"));
        plx::RemoveDirectoryTree(base + suffix);
        EXPECT_EQ(GetFileAttributesA(base.c_str()), INVALID_FILE_ATTRIBUTES) << suffix;
        ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    }
    // A read-only file is not deleted, and its directories stay around it.
    ASSERT_TRUE(plx::EnsureStoreDirectory(base, "\\x\\y\\"));
    const std::string locked = base + "\\x\\y\\locked.txt";
    ASSERT_TRUE(testbed::WriteTextFile(locked, "locked"));
    ASSERT_TRUE(testbed::WriteTextFile(base + "\\x\\loose.txt", "loose"));
    ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    plx::RemoveDirectoryTree(base);
    EXPECT_EQ(testbed::ReadTextFile(locked), "locked");
    EXPECT_EQ(GetFileAttributesA((base + "\\x\\loose.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(StoreDirectories, HeldFoldersCanBeNeitherRenamedNorRemovedUntilLetGo) {
    testbed::TempDirectory temp;
    const std::string base = temp.path() + "\\Hidden";
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    const std::vector<std::string> chain = {base, base + "\\a", base + "\\a\\b"};
    const auto renamed = [](const std::string& folder) {
        if (!MoveFileA(folder.c_str(), (folder + " moved").c_str())) return false;
        EXPECT_TRUE(MoveFileA((folder + " moved").c_str(), folder.c_str())) << folder;
        return true;
    };
    {
        plx::HeldFolders held;
        ASSERT_EQ(held.Hold(plx::ToWide(base), L"\\a\\b\\", true), plx::StoreFolderCheck::Held);
        for (const std::string& folder : chain) EXPECT_FALSE(renamed(folder)) << folder;
        // Only the last folder is empty: the others could not be removed anyway.
        EXPECT_FALSE(RemoveDirectoryA(chain.back().c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    for (const std::string& folder : chain) EXPECT_TRUE(renamed(folder)) << folder;
    EXPECT_TRUE(RemoveDirectoryA(chain.back().c_str()));
}

TEST(StoreDirectories, LinksInTheStoreAreNeitherFollowedNorRemoved) {
    testbed::TempDirectory temp;
    const std::string base = temp.path() + "\\Hidden";
    const std::string outside = temp.path() + "\\outside";
    ASSERT_TRUE(plx::EnsureStoreDirectory(temp.path(), "\\Hidden\\mirror\\"));
    ASSERT_TRUE(plx::EnsureStoreDirectory(temp.path(), "\\outside\\empty\\"));
    ASSERT_TRUE(testbed::WriteTextFile(outside + "\\file.txt", "outside"));
    ASSERT_TRUE(testbed::MakeDirectoryLink(base + "\\mirror\\link", outside));

    plx::RemoveEmptyDirectories(base, {L"C:\\mirror"});
    EXPECT_NE(GetFileAttributesA((outside + "\\empty").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA((base + "\\mirror\\link").c_str()), INVALID_FILE_ATTRIBUTES);
    plx::RemoveDirectoryTree(base);
    EXPECT_EQ(testbed::ReadTextFile(outside + "\\file.txt"), "outside");
    EXPECT_NE(GetFileAttributesA((outside + "\\empty").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA((base + "\\mirror\\link").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(testbed::RemoveDirectoryLink(base + "\\mirror\\link"));
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(StoreDirectories, StoredItemsGoBackToTheirOwnDesktopsWhereTheirPlaceIsFree) {
    testbed::TempDirectory temp;
    const std::string store = temp.path() + "\\Hidden";
    ASSERT_TRUE(CreateDirectoryA(store.c_str(), nullptr));
    const auto desktop = [&](const std::string& user) {
        return temp.path() + "\\users\\" + user + "\\Desktop";
    };
    const auto stored = [&](const std::string& desktopPath) { return plx::StorePathFor(store, desktopPath); };
    const auto write = [](const std::string& path, const char* text) {
        ASSERT_TRUE(testbed::WriteTextFile(path, text)) << path;
    };
    const auto mirror = [&](const std::string& user) {
        return plx::SplitPath(desktop(user) + "\\x").directory;
    };
    for (const char* user : {"anna", "bert", "gone"})
        ASSERT_TRUE(plx::EnsureStoreDirectory(store, mirror(user)));
    for (const char* user : {"anna", "bert"})
        ASSERT_TRUE(plx::EnsureStoreDirectory(temp.path(), std::string("\\users\\") + user + "\\Desktop\\"));
    write(stored(desktop("anna") + "\\a.txt"), "a");
    ASSERT_TRUE(CreateDirectoryA(stored(desktop("anna") + "\\Folder").c_str(), nullptr));
    write(stored(desktop("anna") + "\\Folder\\inner.txt"), "inner");
    write(stored(desktop("anna") + "\\taken.txt"), "stored");
    write(desktop("anna") + "\\taken.txt", "newer");
    // A stored empty folder is an item like any other: its place taken, it stays, never a leftover.
    ASSERT_TRUE(CreateDirectoryA(stored(desktop("anna") + "\\Empty").c_str(), nullptr));
    write(desktop("anna") + "\\Empty", "taken");
    write(stored(desktop("gone") + "\\g.txt"), "g");
    // Bert's mirror is owned by somebody else than Bert: whoever planted it there, it stays.
    write(stored(desktop("bert") + "\\b.txt"), "b");
    ASSERT_TRUE(testbed::GiveToAnotherUser(stored(desktop("bert"))));
    std::vector<BYTE> bert(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(bert.size());
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, bert.data(), &size));

    const auto returnAll = [&] {
        plx::ReturnStoredItems(plx::ToWide(store), {{plx::ToWide(desktop("anna")), {}},
                                                    {plx::ToWide(desktop("bert")), bert},
                                                    {plx::ToWide(desktop("gone")), {}}});
    };
    returnAll();
    EXPECT_EQ(testbed::ReadTextFile(desktop("anna") + "\\a.txt"), "a");
    EXPECT_EQ(testbed::ReadTextFile(desktop("anna") + "\\Folder\\inner.txt"), "inner");
    EXPECT_EQ(testbed::ReadTextFile(desktop("anna") + "\\taken.txt"), "newer");
    EXPECT_EQ(testbed::ReadTextFile(stored(desktop("anna") + "\\taken.txt")), "stored");
    EXPECT_EQ(testbed::ReadTextFile(stored(desktop("bert") + "\\b.txt")), "b");
    EXPECT_FALSE(Exists(desktop("bert") + "\\b.txt"));
    EXPECT_EQ(testbed::ReadTextFile(stored(desktop("gone") + "\\g.txt")), "g");
    EXPECT_FALSE(Exists(stored(desktop("anna") + "\\Folder")));
    EXPECT_TRUE(Exists(stored(desktop("anna") + "\\Empty")));
    EXPECT_EQ(testbed::ReadTextFile(desktop("anna") + "\\Empty"), "taken");

    // Once the users' items are back, their folders go. The shared mirror of the profiles folder stays
    // while anything else is left in the store, where any user could otherwise make it first; with
    // nothing left it goes, and the store with it.
    for (const char* user : {"anna", "bert", "gone"}) plx::RemoveDirectoryTree(stored(desktop(user)));
    ASSERT_TRUE(plx::EnsureStoreDirectory(store, mirror("anna")));
    write(stored(desktop("anna") + "\\last.txt"), "last");
    ASSERT_TRUE(plx::EnsureStoreDirectory(store, "\\Data\\"));
    write(store + "\\Data\\left.txt", "left");
    returnAll();
    EXPECT_EQ(testbed::ReadTextFile(desktop("anna") + "\\last.txt"), "last");
    EXPECT_FALSE(Exists(stored(desktop("anna"))));
    EXPECT_TRUE(Exists(store + "\\users"));
    EXPECT_EQ(testbed::ReadTextFile(store + "\\Data\\left.txt"), "left");
    plx::RemoveDirectoryTree(store + "\\Data");
    returnAll();
    EXPECT_FALSE(Exists(store));
}

// The step hook is a plain function; what it runs, once, is kept here.
std::function<void()> atReturnStep;
void RunAtReturnStep(const char* step) {
    if (std::strcmp(step, "returning stored item") != 0 || !atReturnStep) return;
    const std::function<void()> run = std::move(atReturnStep);
    atReturnStep = nullptr;
    run();
}

// Between the checks and the move, a folder on the way is swapped for a link to a decoy folder, as a
// user would make a junction of their emptied desktop or of their mirror in the store. Windows would
// not follow a junction that a user made (the return turns on the redirection policy first); Wine
// follows a Unix symbolic link everywhere, even to the rename relative to the held desktop folder,
// so this shows the checks around the move: nothing reaches the decoy, nothing leaves it, and the
// item is whole in one place.
TEST(StoreDirectories, AFolderSwappedForALinkDuringTheReturnLeadsNoItemAnywhere) {
    for (const bool desktopSide : {true, false}) {
        SCOPED_TRACE(desktopSide ? "desktop swapped" : "mirror swapped");
        testbed::TempDirectory temp;
        const std::string store = temp.path() + "\\Hidden";
        const std::string desktop = temp.path() + "\\users\\anna\\Desktop";
        const std::string decoy = temp.path() + "\\decoy";
        ASSERT_TRUE(CreateDirectoryA(store.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(decoy.c_str(), nullptr));
        ASSERT_TRUE(plx::EnsureStoreDirectory(temp.path(), "\\users\\anna\\Desktop\\"));
        const std::string mirror = store + desktop.substr(2);
        ASSERT_TRUE(plx::EnsureStoreDirectory(store, desktop.substr(2) + "\\"));
        ASSERT_TRUE(testbed::WriteTextFile(mirror + "\\a.txt", "item"));
        // Through the mirror's link, the decoy offers a file of the item's name.
        if (!desktopSide) {
            ASSERT_TRUE(testbed::WriteTextFile(decoy + "\\a.txt", "decoy"));
        }

        const std::string swapped = desktopSide ? desktop : mirror;
        const std::string aside = swapped + " aside";
        atReturnStep = [&] {
            EXPECT_TRUE(testbed::RenameFromUnix(swapped, aside));
            EXPECT_TRUE(testbed::MakeDirectoryLink(swapped, decoy));
        };
        const plx::StoreStepHook before = plx::SetStoreStepHook(RunAtReturnStep);
        plx::ReturnStoredItems(plx::ToWide(store), {{plx::ToWide(desktop), {}}});
        plx::SetStoreStepHook(before);
        ASSERT_FALSE(atReturnStep) << "the return never reached its step";

        if (desktopSide) {
            EXPECT_FALSE(Exists(decoy + "\\a.txt"));
            EXPECT_FALSE(Exists(aside + "\\a.txt"));
            EXPECT_EQ(testbed::ReadTextFile(mirror + "\\a.txt"), "item");
        } else {
            EXPECT_EQ(testbed::ReadTextFile(decoy + "\\a.txt"), "decoy");
            EXPECT_FALSE(Exists(desktop + "\\a.txt"));
            EXPECT_EQ(testbed::ReadTextFile(aside + "\\a.txt"), "item");
        }
        EXPECT_TRUE(testbed::RemoveDirectoryLink(swapped));
    }
}

// Walks through a tree that a user made keep their own stack: they end whatever the depth, and leave
// what lies deeper than they go where it is, with the folders that lead to it.
TEST(StoreDirectories, WalksEndInTreesOfAnyDepthAndLeaveWhatLiesTooDeep) {
    testbed::TempDirectory temp;
    const std::string base = temp.path() + "\\Hidden";
    std::vector<std::wstring> chain = {plx::ToWide(base)};
    for (int level = 0; level < 100; ++level) chain.push_back(chain.back() + L"\\d");
    for (const std::wstring& folder : chain)
        ASSERT_TRUE(CreateDirectoryW(plx::FileApiPath(folder).c_str(), nullptr));
    ASSERT_TRUE(testbed::WriteTextFile(base + "\\loose.txt", "loose"));
    plx::RemoveDirectoryTree(base);
    EXPECT_FALSE(Exists(base + "\\loose.txt"));
    EXPECT_NE(GetFileAttributesW(plx::FileApiPath(chain.back()).c_str()), INVALID_FILE_ATTRIBUTES);
    for (auto folder = chain.rbegin(); folder != chain.rend(); ++folder)
        RemoveDirectoryW(plx::FileApiPath(*folder).c_str());
}

// The uninstall's return of stored items: an owner whose lock is not to be had (another user made an
// object of its name) keeps their items in the store and is named, every other owner's come back; an
// open that never returns (an opportunistic lock whose break nobody acknowledges; here a read of an
// empty pipe at the open's step, written to after 20 s should nothing cancel it) is cancelled after its
// time, and the return goes on.
HANDLE neverWritten;
void ReadAtTheFirstOpen(const char* step) {
    static bool read;
    if (std::strcmp(step, "opening stored item") || read) return;
    read = true;
    char byte;
    DWORD count = 0;
    ReadFile(neverWritten, &byte, 1, &count, nullptr);
}

TEST(StoreDirectories, AReturnTakesEachOwnersLockAloneAndGoesOnPastAnOpenThatHangs) {
    testbed::TempDirectory temp;
    const std::string store = temp.path() + "\\Hidden";
    const auto desktop = [&](const std::string& user) {
        return temp.path() + "\\users\\" + user + "\\Desktop";
    };
    ASSERT_TRUE(CreateDirectoryA(store.c_str(), nullptr));
    for (const char* user : {"anna", "bert"}) {
        ASSERT_TRUE(plx::EnsureStoreDirectory(store, plx::SplitPath(desktop(user) + "\\x").directory));
        ASSERT_TRUE(plx::EnsureStoreDirectory(temp.path(), std::string("\\users\\") + user + "\\Desktop\\"));
        for (const char* name : {"\\a.txt", "\\b.txt"})
            ASSERT_TRUE(testbed::WriteTextFile(plx::StorePathFor(store, desktop(user) + name), user));
    }
    const wchar_t bertSid[] = L"S-1-5-21-1-2-3-1001";
    PSID bert = nullptr;
    PSECURITY_DESCRIPTOR planted = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(bertSid, &bert) &&
                ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BGD:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                     &planted, nullptr));
    plx::unique_hlocal bertOwned(bert), plantedOwned(planted);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), planted, FALSE};
    plx::unique_handle bertsLock(CreateMutexW(
        &attributes, FALSE, (L"Global\\" + plx::ToWide(PLAXEN_PRODUCT_TITLE " store ") + bertSid).c_str()));
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(bertsLock && CreatePipe(&neverWritten, &writeEnd, nullptr, 0));
    plx::unique_handle readOwned(neverWritten), writeOwned(writeEnd),
        done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    DWORD written = 0;
    std::thread unblock([&] {
        if (WaitForSingleObject(done.get(), 20000) == WAIT_TIMEOUT)
            WriteFile(writeEnd, "x", 1, &written, nullptr);
    });
    const plx::StoreStepHook before = plx::SetStoreStepHook(ReadAtTheFirstOpen);
    std::vector<std::wstring> left;
    EXPECT_FALSE(
        plx::ReturnStoredItems(plx::ToWide(store),
                               {{plx::ToWide(desktop("anna")), {}},
                                {plx::ToWide(desktop("bert")),
                                 {static_cast<BYTE*>(bert), static_cast<BYTE*>(bert) + GetLengthSid(bert)}}},
                               &left));
    plx::SetStoreStepHook(before);
    SetEvent(done.get());
    unblock.join();
    EXPECT_EQ(written, 0u) << "the hung open was not cancelled";
    EXPECT_EQ(left, std::vector<std::wstring>{plx::ToWide(desktop("bert"))});
    EXPECT_NE(Exists(desktop("anna") + "\\a.txt"), Exists(desktop("anna") + "\\b.txt")) << "one open hung";
    for (const char* name : {"\\a.txt", "\\b.txt"}) {
        EXPECT_NE(Exists(desktop("anna") + name), Exists(plx::StorePathFor(store, desktop("anna") + name)));
        EXPECT_EQ(testbed::ReadTextFile(plx::StorePathFor(store, desktop("bert") + name)), "bert");
    }
}

}  // namespace

// The item catalogue against the prefix's real desktop folders, the shell's real enumeration and the
// real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "store/cloud_files.h"
#include "layout/profiles.h"
#include "store/moves.h"
#include "store/store_lock.h"
#include "store/visibility.h"
#include "tests/store_fixture.h"

namespace {

using plx::DesktopItem;
using plx::DesktopItemList;
using plx::unique_hkey;

TEST(ItemPaths, KeyNamesReplaceBackslashesCharacterByCharacter) {
    EXPECT_EQ(plx::ItemKeyName("D:\\Documents and Settings\\User\\Desktop\\Notes.txt", 1252),
              "D:>Documents and Settings>User>Desktop>Notes.txt");
    EXPECT_EQ(plx::PathFromKeyName("D:>Documents and Settings>User>Desktop>Notes.txt", 1252),
              "D:\\Documents and Settings\\User\\Desktop\\Notes.txt");
    // In Shift-JIS the second byte of U+8868 is 0x5C; it must survive both ways.
    const std::string doubleByte = "C:\\x\\\x95\x5C\x95\x5C.txt";
    EXPECT_EQ(plx::ItemKeyName(doubleByte, 932), "C:>x>\x95\x5C\x95\x5C.txt");
    EXPECT_EQ(plx::PathFromKeyName("C:>x>\x95\x5C\x95\x5C.txt", 932), doubleByte);
    // Under 1252 the same bytes are two characters, and 0x5C is a backslash.
    EXPECT_EQ(plx::ItemKeyName("\x95\x5C", 1252), "\x95>");
    // A lead byte at the very end stands alone.
    EXPECT_EQ(plx::ItemKeyName("a\\\x95", 932), "a>\x95");
}

TEST(ItemPaths, StoreMirrorsTheDesktopDirectoryChain) {
    EXPECT_EQ(plx::HiddenStoreDirectory("D:\\Apps\\Layout\\x.dll"), "D:\\Apps\\Layout\\Hidden");
    EXPECT_EQ(plx::HiddenStoreDirectory(""), "");
    // Below either program folder, in any case, the store is in the program data folder; in a folder
    // that only begins like one, or without a known data folder, beside the module.
    const std::vector<std::string> programs = {"C:\\Program Files", "C:\\Program Files (x86)"};
    const std::string data = "C:\\ProgramData\\Quillmar\\Orvane Deluxe\\Hidden";
    const struct {
        const char* module;
        const char* data;
        std::string store;
    } cases[] = {
        {"C:\\Program Files\\Quillmar\\Orvane Deluxe", "C:\\ProgramData", data},
        {"c:\\PROGRAM FILES (X86)\\Vendor", "C:\\ProgramData", data},
        {"C:\\Program Files2\\Orvane", "C:\\ProgramData", "C:\\Program Files2\\Orvane\\Hidden"},
        {"C:\\Program Files", "C:\\ProgramData", "C:\\Program Files\\Hidden"},
        {"D:\\Tools\\Orvane", "C:\\ProgramData", "D:\\Tools\\Orvane\\Hidden"},
        {"C:\\Program Files\\Orvane", "", "C:\\Program Files\\Orvane\\Hidden"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plx::StoreDirectoryFor(c.module, programs, c.data), c.store) << c.module;
    EXPECT_EQ(
        plx::StorePathFor("D:\\Apps\\Layout\\Hidden", "D:\\Documents and Settings\\User\\Desktop\\Notes.txt"),
        "D:\\Apps\\Layout\\Hidden\\Documents and Settings\\User\\Desktop\\Notes.txt");
    const plx::SplitDesktopPath parts = plx::SplitPath("C:\\users\\Public\\Desktop\\a.b.txt");
    EXPECT_EQ(parts.drive, "C:");
    EXPECT_EQ(parts.directory, "\\users\\Public\\Desktop\\");
    EXPECT_EQ(parts.fileName, "a.b.txt");
}

TEST(ItemPaths, OnlyPlainFullPathsAreMovable) {
    EXPECT_TRUE(plx::IsPlainFullPath("C:\\users\\me\\Desktop\\a.txt"));
    EXPECT_TRUE(plx::IsPlainFullPath("C:\\users\\me\\Desktop\\.profile"));
    for (const char* bad : {"C:\\users\\me\\Desktop\\..\\..\\evil.txt", "C:\\users\\..", "C:\\a\\.\\b",
                            "C:\\a\\\\b", "C:\\a\\... \\b", "\\\\server\\share\\x", "::{20D04FE0}",
                            "relative\\x", "C:x", "C:\\a\\b:stream", ""}) {
        EXPECT_FALSE(plx::IsPlainFullPath(bad)) << bad;
    }
}

class CatalogueTest : public storetest::StoreTest {
protected:
    static unique_hkey Entry(const std::string& desktopPath) {
        return plx::OpenKeyForWriting(HKEY_CURRENT_USER,
                                      std::string(plx::kItemsKey) + "\\" + plx::ItemKeyName(desktopPath));
    }
    static DWORD Number(HKEY key, const char* name) {
        DWORD value = 0xDEAD;
        plx::ReadNumber(key, name, value);
        return value;
    }
};

TEST_F(CatalogueTest, IdsAreHandedOutOnceInEnumerationOrderAndKept) {
    Write(OnDesktop("alpha.txt"), "alpha");
    Write(OnDesktop("beta.txt"), "beta");
    ASSERT_TRUE(CreateDirectoryA(OnDesktop("Folder").c_str(), nullptr));

    const DesktopItemList first = plx::BuildItemCatalogue(nullptr);
    ASSERT_GE(first.size(), 4u);
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].ID, static_cast<int>(i)) << first[i].DesktopPath;
        EXPECT_EQ(first[i].Path, first[i].DesktopPath);
    }
    const DesktopItem* alpha = Find(first, OnDesktop("alpha.txt"));
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->DisplayName.rfind("alpha", 0), 0u);
    EXPECT_TRUE(alpha->Visible);
    EXPECT_FALSE(alpha->SpecialFolder);
    EXPECT_FALSE(alpha->VirtualFolder);
    EXPECT_FALSE(alpha->TypeName.empty());
    EXPECT_GE(alpha->IconIndex, 0);
    ASSERT_NE(Find(first, OnDesktop("Folder")), nullptr);
    {
        unique_hkey items = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kItemsKey);
        EXPECT_EQ(Number(items.get(), "NextID"), first.size());
    }

    // Attributes changed since, names overwritten by hand: flags stay as first found, names come back.
    ASSERT_TRUE(SetFileAttributesA(OnDesktop("alpha.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    {
        unique_hkey entry = Entry(OnDesktop("alpha.txt"));
        ASSERT_TRUE(entry);
        plx::WriteString(entry.get(), "DisplayName", "stale");
        plx::WriteString(entry.get(), "TypeName", "stale");
    }
    Write(OnDesktop("gamma.txt"), "gamma");
    const DesktopItemList second = plx::BuildItemCatalogue(nullptr);
    ASSERT_EQ(second.size(), first.size() + 1);
    for (const DesktopItem& item : first) {
        const DesktopItem* again = Find(second, item.DesktopPath);
        ASSERT_NE(again, nullptr) << item.DesktopPath;
        EXPECT_EQ(again->ID, item.ID);
    }
    EXPECT_EQ(Find(second, OnDesktop("gamma.txt"))->ID, static_cast<int>(first.size()));
    EXPECT_FALSE(Find(second, OnDesktop("alpha.txt"))->Visible);
    unique_hkey entry = Entry(OnDesktop("alpha.txt"));
    EXPECT_EQ(Number(entry.get(), "Visible"), 1u);
    std::string text;
    plx::ReadString(entry.get(), "DisplayName", text);
    EXPECT_EQ(text, alpha->DisplayName);
    plx::ReadString(entry.get(), "TypeName", text);
    EXPECT_EQ(text, alpha->TypeName);
    unique_hkey items = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kItemsKey);
    EXPECT_EQ(Number(items.get(), "NextID"), first.size() + 1);
}

TEST_F(CatalogueTest, HiddenFilesAndShellObjectsAreFlagged) {
    Write(OnDesktop("secret.txt"), "secret");
    ASSERT_TRUE(SetFileAttributesA(OnDesktop("secret.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    const DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    const DesktopItem* secret = Find(items, OnDesktop("secret.txt"));
    ASSERT_NE(secret, nullptr);
    EXPECT_FALSE(secret->Visible);
    {
        unique_hkey entry = Entry(OnDesktop("secret.txt"));
        EXPECT_EQ(Number(entry.get(), "Visible"), 0u);
    }

    int virtualCount = 0;
    for (const DesktopItem& item : items) {
        if (!item.VirtualFolder) continue;
        ++virtualCount;
        EXPECT_FALSE(item.SpecialFolder) << item.DesktopPath;
        unique_hkey entry = Entry(item.DesktopPath);
        ASSERT_TRUE(entry) << item.DesktopPath;
        EXPECT_EQ(Number(entry.get(), "VirtualFolder"), 1u);
        EXPECT_EQ(Number(entry.get(), "SpecialFolder"), 0u);
    }
    EXPECT_GT(virtualCount, 0) << "the shell lists My Computer and the like without SFGAO_FILESYSTEM";
    // Wine lists the user's Documents folder as a file-system item that cannot be moved.
    int specialCount = 0;
    for (const DesktopItem& item : items) specialCount += item.SpecialFolder;
    EXPECT_GT(specialCount, 0);
}

TEST_F(CatalogueTest, RenamedFileIsANewItem) {
    Write(OnDesktop("old.txt"), "x");
    const DesktopItemList before = plx::BuildItemCatalogue(nullptr);
    const int oldId = Find(before, OnDesktop("old.txt"))->ID;
    ASSERT_TRUE(MoveFileA(OnDesktop("old.txt").c_str(), OnDesktop("new.txt").c_str()));
    const DesktopItemList after = plx::BuildItemCatalogue(nullptr);
    EXPECT_EQ(Find(after, OnDesktop("old.txt")), nullptr);
    const DesktopItem* renamed = Find(after, OnDesktop("new.txt"));
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->ID, static_cast<int>(before.size()));
    EXPECT_NE(renamed->ID, oldId);
    EXPECT_TRUE(Entry(OnDesktop("old.txt")));
    // The old entry stays in the stored catalogue.
    const auto stored = plx::ReadItemCatalogue();
    ASSERT_TRUE(stored);
    EXPECT_EQ(Find(*stored, OnDesktop("old.txt"))->ID, oldId);
}

TEST_F(CatalogueTest, NamesInAnyLanguageAreListedHiddenAndShownUnderThemselves) {
    // Through a code page, "pl\u0101n.txt" would read "plan.txt" and share that file's key and ID, and the
    // others would have no name at all.
    const std::vector<std::string> names = {"plan.txt", "pl\u0101n.txt", "\u65e5\u672c\u8a9e.txt",
                                            "\u0395\u03bb\u03bb\u03ac\u03b4\u03b1.txt", "\u04161.txt",
                                            "\xF0\x9F\x98\x80.txt", "Caf\u00e9.txt"};
    for (const std::string& name : names) Write(OnDesktop(name), name);
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    std::vector<int> ids;
    for (const std::string& name : names) {
        const DesktopItem* item = Find(items, OnDesktop(name));
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->DisplayName.find('?'), std::string::npos) << item->DisplayName;
        ids.push_back(item->ID);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end()) << "every file an ID of its own";

    // Hidden and shown again: each file goes into the store and comes back under its own name, whole.
    HWND listView = MakeListView();
    for (bool visible : {false, true}) {
        // The list as the editor shows it: the hidden files in the store, under their own names.
        if (visible) items = plx::BuildItemCatalogue(nullptr);
        for (DesktopItem& item : items) item.Visible = visible;
        ASSERT_EQ(plx::SaveCurrentProfile(listView, nullptr, TRUE, &items, true), plx::SaveOutcome::Saved);
        for (const std::string& name : names) {
            EXPECT_EQ(Exists(OnDesktop(name)), visible) << name;
            EXPECT_EQ(Exists(InStore(OnDesktop(name))), !visible) << name;
        }
    }
    for (const std::string& name : names) EXPECT_EQ(testbed::ReadTextFile(OnDesktop(name)), name);
}

// Earlier versions named an item's entry by its path through the code page, whose best fit made
// "Łāka.txt" into "Laka.txt". The item keeps that entry's ID (and so its visibility in every profile),
// under its own name from then on. The entry stays another item's where that item stands at the older
// spelling, on the desktop or in the store, and a spelling in which a character became "?" names
// nobody.
TEST_F(CatalogueTest, EntriesOfEarlierVersionsInTheirBestFitSpellingKeepTheirIds) {
    const auto writeOldEntry = [&](const std::wstring& name, DWORD id) {
        const std::string key =
            std::string(plx::kItemsKey) + "\\" +
            plx::ItemKeyName(testbed::InCodePageBestFit(plx::ToWide(OnDesktop("")) + name));
        HKEY raw = nullptr;
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
        unique_hkey entry(raw);
        ASSERT_EQ(plx::WriteNumber(entry.get(), "ID", id), ERROR_SUCCESS);
        ASSERT_EQ(plx::WriteNumber(entry.get(), "Visible", 0), ERROR_SUCCESS);
    };
    const std::string moved = plx::ToUtf8(L"Łāka.txt"), beside = plx::ToUtf8(L"Bār.txt"),
                      besideStored = plx::ToUtf8(L"Dāta.txt"), lost = plx::ToUtf8(L"Жuk.txt");
    writeOldEntry(L"Łāka.txt", 7);
    writeOldEntry(L"Bar.txt", 8);
    writeOldEntry(L"Data.txt", 9);
    writeOldEntry(L"Жuk.txt", 10);
    for (const std::string& name : {moved, beside, std::string("Bar.txt"), besideStored, lost})
        Write(OnDesktop(name), name);
    // Data.txt is in the store, hidden by an earlier version.
    ASSERT_TRUE(CreateDirectoryA(store_.c_str(), nullptr));
    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, plx::SplitPath(OnDesktop("x")).directory));
    Write(InStore(OnDesktop("Data.txt")), "Data.txt");
    {
        unique_hkey hidden = HiddenItemsKey();
        DesktopItem stored;
        stored.ID = 9;
        ASSERT_TRUE(plx::WriteHiddenEntry(hidden.get(), plx::ItemKeyName(OnDesktop("Data.txt")), stored));
    }

    const DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    const auto idOf = [&](const std::string& name) {
        const DesktopItem* item = Find(items, OnDesktop(name));
        return item ? item->ID : -1;
    };
    EXPECT_EQ(idOf(moved), 7);
    EXPECT_TRUE(Entry(OnDesktop(moved)));
    EXPECT_FALSE(Entry(OnDesktop("Laka.txt"))) << "moved to the item's own name";
    EXPECT_EQ(idOf("Bar.txt"), 8);
    const DesktopItem* stored = Find(items, OnDesktop("Data.txt"), true);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->ID, 9);
    for (const std::string& name : {beside, besideStored, lost}) {
        const int id = idOf(name);
        EXPECT_TRUE(id > 10) << name << " has " << id;
    }
    EXPECT_TRUE(Entry(OnDesktop("Bar.txt")));
    EXPECT_TRUE(Entry(OnDesktop("Data.txt")));
    // Once moved, the entry is found under the item's own name: the same ID at the next catalogue.
    const DesktopItemList again = plx::BuildItemCatalogue(nullptr);
    ASSERT_NE(Find(again, OnDesktop(moved)), nullptr);
    EXPECT_EQ(Find(again, OnDesktop(moved))->ID, 7);
}

TEST_F(CatalogueTest, LostNextIdNeverHandsOutAStoredId) {
    Write(OnDesktop("one.txt"), "1");
    Write(OnDesktop("two.txt"), "2");
    const DesktopItemList first = plx::BuildItemCatalogue(nullptr);
    int highest = -1;
    for (const DesktopItem& item : first) highest = std::max(highest, item.ID);
    int round = 0;
    for (DWORD type : {REG_NONE, REG_SZ}) {
        {
            unique_hkey items = plx::OpenKeyForWriting(HKEY_CURRENT_USER, plx::kItemsKey);
            if (type == REG_NONE)
                ASSERT_EQ(RegDeleteValueA(items.get(), "NextID"), ERROR_SUCCESS);
            else
                ASSERT_EQ(plx::WriteString(items.get(), "NextID", "0"), ERROR_SUCCESS);
        }
        const std::string name = "new" + std::to_string(++round) + ".txt";
        Write(OnDesktop(name), name);
        const DesktopItemList after = plx::BuildItemCatalogue(nullptr);
        const DesktopItem* added = Find(after, OnDesktop(name));
        ASSERT_NE(added, nullptr);
        EXPECT_GT(added->ID, highest) << round;
        for (const DesktopItem& item : after)
            EXPECT_TRUE(item.ID != added->ID || &item == added)
                << item.DesktopPath << " shares " << added->ID;
        highest = std::max(highest, added->ID);
    }
    // An unregistration kept only what finds the stored items again: their IDs stay taken.
    {
        unique_hkey entry = plx::CreateKey(HKEY_CURRENT_USER, std::string(plx::kHiddenItemsKey) + "\\" +
                                                                  plx::ItemKeyName(OnDesktop("stored.txt")));
        ASSERT_EQ(plx::WriteNumber(entry.get(), "ID", 500), ERROR_SUCCESS);
    }
    ASSERT_EQ(plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kItemsKey), ERROR_SUCCESS);
    for (const DesktopItem& item : plx::BuildItemCatalogue(nullptr))
        EXPECT_GT(item.ID, 500) << item.DesktopPath;
}

// IDs are handed out under the store's lock. While another holder has it, this process asks for it;
// the holder (another session, a dialog, an import) then gives its own new item the next ID and lets
// go: the ID handed out here is another.
HANDLE otherLetsGo;
void GiveAnIdElsewhere(const char* step) {
    if (std::strcmp(step, "waiting for the store")) return;
    plx::WriteNumber(plx::CreateKey(HKEY_CURRENT_USER, std::string(plx::kItemsKey) + "\\C:>other.txt").get(),
                     "ID", 0);
    SetEvent(otherLetsGo);
}

TEST_F(CatalogueTest, AnIdAskedForWhileAnotherHolderHasTheStoreWaitsAndDiffers) {
    plx::unique_handle letGo(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    otherLetsGo = letGo.get();
    std::thread holder([&] {
        plx::StoreLock lock;
        SetEvent(held.get());
        WaitForSingleObject(letGo.get(), 30000);
    });
    ASSERT_EQ(WaitForSingleObject(held.get(), 30000), WAIT_OBJECT_0);
    const plx::StoreStepHook before = plx::SetStoreStepHook(GiveAnIdElsewhere);
    EXPECT_EQ(plx::CatalogueIdFor(OnDesktop("new.txt"), "new.txt", "Text"), 1);
    plx::SetStoreStepHook(before);
    SetEvent(letGo.get());
    holder.join();
}

TEST_F(CatalogueTest, PathTooLongForAKeyNameIsLeftOut) {
    const std::string name = std::string(254 - userDesktop_.size(), 'n') + ".txt";
    ASSERT_GT(OnDesktop(name).size(), plx::kMaxKeyNameChars);
    Write(OnDesktop(name), "long");
    Write(OnDesktop("short.txt"), "short");
    const DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    EXPECT_EQ(Find(items, OnDesktop(name)), nullptr);
    EXPECT_NE(Find(items, OnDesktop("short.txt")), nullptr);
}

TEST_F(CatalogueTest, StoredItemsAreListedOnceLiveAndTwiceFromTheCatalogue) {
    EXPECT_FALSE(plx::ReadItemCatalogue()) << "no Items key yet";
    Write(OnDesktop("kept.txt"), "kept");
    Write(OnDesktop("gone.txt"), "gone");
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    unique_hkey hidden = HiddenItemsKey();
    ASSERT_TRUE(CreateDirectoryA(store_.c_str(), nullptr));
    for (const char* name : {"kept.txt", "gone.txt"}) {
        DesktopItem item = *Find(items, OnDesktop(name));
        item.Visible = false;
        ASSERT_EQ(plx::ApplyItemVisibility(item, store_, hidden.get()), plx::VisibilityOutcome::Hidden);
    }
    ASSERT_TRUE(DeleteFileA(InStore(OnDesktop("gone.txt")).c_str()));

    const int keptId = Find(items, OnDesktop("kept.txt"))->ID;
    items = plx::BuildItemCatalogue(nullptr);
    EXPECT_EQ(Count(items, OnDesktop("kept.txt")), 1);
    const DesktopItem* stored = Find(items, OnDesktop("kept.txt"), true);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->Path, InStore(OnDesktop("kept.txt")));
    EXPECT_FALSE(stored->Visible);
    EXPECT_EQ(stored->ID, keptId);
    EXPECT_FALSE(stored->DisplayName.empty());
    EXPECT_EQ(Count(items, OnDesktop("gone.txt")), 0);
    EXPECT_TRUE(HasHiddenEntry(OnDesktop("gone.txt"))) << "an entry whose file is gone stays";

    const auto catalogue = plx::ReadItemCatalogue();
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(Count(*catalogue, OnDesktop("kept.txt")), 2);
    const DesktopItem* listed = Find(*catalogue, OnDesktop("kept.txt"));
    ASSERT_NE(listed, nullptr);
    EXPECT_TRUE(listed->Visible);
    EXPECT_EQ(listed->ID, keptId);
    EXPECT_EQ(listed->IconIndex, -1);
    EXPECT_EQ(Find(*catalogue, OnDesktop("kept.txt"), true)->ID, keptId);
}

constexpr char kSyncRootManager[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SyncRootManager";

// A sync root as the system lists them, in the 64-bit view, for as long as it lives.
class RegisteredSyncRoot {
public:
    explicit RegisteredSyncRoot(const std::string& path) {
        plx::unique_hkey roots;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                        (std::string(kSyncRootManager) + "\\PlaxenTest!S-1-0!Cloud\\UserSyncRoots").c_str(),
                        0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, roots.put(), nullptr);
        registered_ = roots && plx::WriteString(roots.get(), "S-1-0", path) == ERROR_SUCCESS;
    }
    ~RegisteredSyncRoot() {
        plx::unique_hkey explorer;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer", 0,
                          KEY_ALL_ACCESS | KEY_WOW64_64KEY, explorer.put()) == ERROR_SUCCESS)
            RegDeleteTreeA(explorer.get(), "SyncRootManager");
    }
    bool registered() const { return registered_; }

private:
    bool registered_ = false;
};

TEST_F(CatalogueTest, ItemsSyncedWithACloudAreMarkedAndStayOnTheDesktop) {
    // The attributes a sync client sets, most of which Wine does not keep on a file.
    for (DWORD attributes : {0x1000u, 0x40000u, 0x80000u, 0x100000u, 0x400000u, 0x400021u})
        EXPECT_TRUE(plx::IsCloudPlaceholder(attributes)) << std::hex << attributes;
    for (DWORD attributes : {DWORD{0x80}, DWORD{0x23}, DWORD{0x10}, DWORD{0x400}, INVALID_FILE_ATTRIBUTES})
        EXPECT_FALSE(plx::IsCloudPlaceholder(attributes)) << std::hex << attributes;
    Write(OnDesktop("offline.txt"), "offline");
    if (SetFileAttributesA(OnDesktop("offline.txt").c_str(), FILE_ATTRIBUTE_OFFLINE) &&
        (GetFileAttributesA(OnDesktop("offline.txt").c_str()) & FILE_ATTRIBUTE_OFFLINE)) {
        EXPECT_TRUE(plx::IsCloudSynced(OnDesktop("offline.txt")));
    }
    ASSERT_TRUE(SetFileAttributesA(OnDesktop("offline.txt").c_str(), FILE_ATTRIBUTE_NORMAL));

    // A synced folder on the desktop: it and everything in it are in a sync root, a namesake is not.
    ASSERT_TRUE(CreateDirectoryA(OnDesktop("Cloud").c_str(), nullptr));
    Write(OnDesktop("Cloud\\inside.txt"), "inside");
    Write(OnDesktop("Cloudy.txt"), "cloudy");
    RegisteredSyncRoot root(OnDesktop("Cloud"));
    ASSERT_TRUE(root.registered());
    EXPECT_TRUE(plx::IsCloudSynced(OnDesktop("Cloud\\inside.txt")));
    EXPECT_FALSE(plx::IsCloudSynced(OnDesktop("Cloudy.txt")));
    // One set of roots asks once per folder: the files of two folders each get their own folder's answer.
    plx::CloudSyncRoots roots;
    for (const char* name : {"Cloud\\inside.txt", "Cloudy.txt", "Cloud\\inside.txt", "Cloudy.txt"})
        EXPECT_EQ(plx::IsCloudSynced(OnDesktop(name), roots), name[5] == '\\') << name;
    DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    for (DesktopItem& item : items) item.Visible = false;
    const DesktopItem* synced = Find(items, OnDesktop("Cloud"));
    const DesktopItem* local = Find(items, OnDesktop("Cloudy.txt"));
    ASSERT_TRUE(synced && local);
    EXPECT_TRUE(synced->CloudSynced);
    EXPECT_FALSE(local->CloudSynced);

    const std::string record =
        plx::ProfileKeyPath(plx::GetCurrentProfile().Text()) + "\\" + std::to_string(synced->ID);
    plx::SaveCurrentProfile(MakeListView(), nullptr, TRUE, &items, true);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("Cloud\\inside.txt")), "inside");
    EXPECT_EQ(testbed::ReadTextFile(InStore(OnDesktop("Cloudy.txt"))), "cloudy");
    EXPECT_EQ(Number(plx::OpenKeyForWriting(HKEY_CURRENT_USER, record).get(), "Visible"), 1u);
    // A profile that says hidden, activated: the folder still stays.
    plx::WriteNumber(plx::OpenKeyForWriting(HKEY_CURRENT_USER, record).get(), "Visible", 0);
    plx::ActivateProfile(nullptr, nullptr);
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop("Cloud\\inside.txt")), "inside");
    EXPECT_FALSE(HasHiddenEntry(OnDesktop("Cloud")));

    // A list of sync roots that cannot be read may name any folder: nothing leaves a cloud unseen.
    plx::unique_hkey manager;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSyncRootManager, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                            manager.put()),
              ERROR_SUCCESS);
    ASSERT_TRUE(testbed::SetKeyRules(manager.get(), "D:P(A;;0xF0036;;;WD)"));  // all but reading and listing
    EXPECT_TRUE(plx::IsCloudSynced(OnDesktop("Cloudy.txt")));
    ASSERT_TRUE(testbed::SetKeyRules(manager.get(), "D:P(A;;KA;;;WD)"));
    EXPECT_FALSE(plx::IsCloudSynced(OnDesktop("Cloudy.txt")));
}

}  // namespace

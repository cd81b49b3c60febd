// Activations ended at each step of their moves, in a process of their own, as a crash of the desktop's
// process would end them. Meanwhile every item is whole in one place at least, and whatever of it is
// in the store has its complete entry; the next action, in a fresh process, leaves each item whole in
// exactly one place, where the profile wants it, and "HiddenItems" naming exactly the stored ones.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "store/cloud_files.h"
#include "store/moves.h"
#include "layout/profiles.h"
#include "store/visibility.h"
#include "tests/store_fixture.h"

namespace {

using plx::DesktopItem;
using plx::DesktopItemList;

// A desktop item of the test: a file (its one file named "") or a folder with files inside.
struct TestItem {
    std::string name;
    std::map<std::string, std::string> files;  // relative path -> contents
};

struct Stop {
    const char* step;
    int count;
};

class InterruptionTest : public storetest::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        modulePath_ = moduleDir_.path() + "\\Plaxen.dll";
    }

    // store_step.exe with this test's module copy: 0 when the action ran through, 3 when it stopped.
    int RunAction(const char* action, const Stop* stop = nullptr) const {
        std::string command =
            "\"" + testbed::ExeDirectory() + "\\store_step.exe\" \"" + modulePath_ + "\" " + action;
        if (stop) command += " \"" + std::string(stop->step) + "\" " + std::to_string(stop->count);
        PROCESS_INFORMATION pi = {};
        if (!testbed::StartTiedProcess(command, pi)) return -1;
        plx::unique_handle process(pi.hProcess), thread(pi.hThread);
        DWORD code = 0;
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(pi.hProcess, &code))
            return -1;
        return static_cast<int>(code);
    }

    // A fresh desktop of three items in the catalogue; the profile "Hidden" hides all, "Shown" shows all.
    void MakeItems() {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        testbed::EmptyDesktopFolders();
        testbed::RemoveTree(plx::HiddenStoreDirectory());
        items_ = {{"a.txt", {{"", "a"}}},
                  {"Folder", {{"one.txt", "1"}, {"two.txt", "2"}, {"three.txt", "3"}}},
                  {"b.txt", {{"", "b"}}}};
        for (const TestItem& item : items_) {
            if (item.files.count("") == 0) {
                ASSERT_TRUE(CreateDirectoryA(OnDesktop(item.name).c_str(), nullptr));
            }
            for (const auto& file : item.files)
                Write(file.first.empty() ? OnDesktop(item.name) : OnDesktop(item.name + "\\" + file.first),
                      file.second);
        }
        for (const DesktopItem& item : plx::BuildItemCatalogue(nullptr)) {
            if (!item.Movable()) continue;
            ids_[item.DesktopPath] = item.ID;
            for (const char* profile : {"Hidden", "Shown"}) {
                plx::unique_hkey record = plx::CreateKey(
                    HKEY_CURRENT_USER, plx::ProfileKeyPath(profile) + "\\" + std::to_string(item.ID));
                plx::WriteNumber(record.get(), "Visible", profile[0] == 'S');
            }
        }
        ASSERT_EQ(ids_.size(), items_.size());
    }

    std::string Stored(const TestItem& item) const { return plx::StorePathFor(OnDesktop(item.name)); }

    static std::string FileAt(const std::string& base, const std::string& relative) {
        return relative.empty() ? base : base + "\\" + relative;
    }
    static bool WholeAt(const TestItem& item, const std::string& base) {
        for (const auto& file : item.files)
            if (!Exists(FileAt(base, file.first)) ||
                testbed::ReadTextFile(FileAt(base, file.first)) != file.second)
                return false;
        return true;
    }
    static bool AnyOf(const TestItem& item, const std::string& base) {
        if (Exists(base)) return true;
        return Exists(plx::StagingPathFor(base));
    }
    // The item's entry names it with its catalogue ID and both names; moving: "Moving" is there.
    bool EntryIsComplete(const TestItem& item, bool* moving = nullptr) const {
        plx::unique_hkey entry =
            plx::OpenKeyForReading(HKEY_CURRENT_USER, std::string(plx::kHiddenItemsKey) + "\\" +
                                                          plx::ItemKeyName(OnDesktop(item.name)));
        DWORD id = 0, direction = 0;
        std::string text;
        if (moving)
            *moving = entry && plx::ReadNumber(entry.get(), plx::kMovingValue, direction) == ERROR_SUCCESS;
        return entry && plx::ReadNumber(entry.get(), "ID", id) == ERROR_SUCCESS &&
               static_cast<int>(id) == ids_.at(OnDesktop(item.name)) &&
               plx::ReadString(entry.get(), "DisplayName", text) == ERROR_SUCCESS &&
               plx::ReadString(entry.get(), "TypeName", text) == ERROR_SUCCESS;
    }

    // Right after the stop.
    ::testing::AssertionResult Recoverable() const {
        for (const TestItem& item : items_) {
            if (!WholeAt(item, OnDesktop(item.name)) && !WholeAt(item, Stored(item)))
                return ::testing::AssertionFailure() << item.name << " is whole nowhere";
            if (AnyOf(item, Stored(item)) && !EntryIsComplete(item))
                return ::testing::AssertionFailure() << item.name << " is in the store without its entry";
        }
        return ::testing::AssertionSuccess();
    }

    // After the next action.
    ::testing::AssertionResult Settled(bool hidden) const {
        for (const TestItem& item : items_) {
            const std::string desktop = OnDesktop(item.name), stored = Stored(item);
            const std::string& there = hidden ? stored : desktop;
            const std::string& elsewhere = hidden ? desktop : stored;
            bool moving = false;
            if (!WholeAt(item, there) || AnyOf(item, elsewhere) || Exists(plx::StagingPathFor(there)))
                return ::testing::AssertionFailure() << item.name << " is not in exactly one place";
            if (hidden && (!EntryIsComplete(item, &moving) || moving))
                return ::testing::AssertionFailure() << item.name << " is stored without its settled entry";
            if (!hidden && HasHiddenEntry(desktop))
                return ::testing::AssertionFailure() << item.name << " is shown but keeps an entry";
        }
        return ::testing::AssertionSuccess();
    }

    // For each stop, in each direction: a fresh desktop, the activation stopped there, the next one.
    void StopEachStepOfHideAndShow(const std::vector<Stop>& stops) {
        for (bool hide : {true, false}) {
            for (const Stop& stop : stops) {
                SCOPED_TRACE(std::string(hide ? "hide" : "show") + " stopped at " + stop.step + " #" +
                             std::to_string(stop.count));
                MakeItems();
                if (!hide) {
                    SetCurrentProfile("Hidden");
                    ASSERT_EQ(RunAction("activate"), 0);
                    ASSERT_TRUE(Settled(true));
                }
                SetCurrentProfile(hide ? "Hidden" : "Shown");
                ASSERT_EQ(RunAction("activate", &stop), 3);
                EXPECT_TRUE(Recoverable());
                ASSERT_EQ(RunAction("activate"), 0);
                EXPECT_TRUE(Settled(hide));
            }
        }
    }

    // The profile that hides or shows every item becomes current and is applied in this process.
    static void MoveAllTo(const char* profile) {
        SetCurrentProfile(profile);
        plx::ActivateProfile(nullptr, nullptr);
    }

    // For a hide and then a show of the folder of a fresh desktop, its items shown or hidden first:
    // body(hide, where the folder is, where it goes).
    void ForEachWayOfTheFolder(
        const std::function<void(bool, const std::string&, const std::string&)>& body) {
        for (bool hide : {true, false}) {
            SCOPED_TRACE(hide ? "hide" : "show");
            MakeItems();
            if (!hide) MoveAllTo("Hidden");
            const std::string desktop = OnDesktop(items_[1].name), stored = Stored(items_[1]);
            body(hide, hide ? desktop : stored, hide ? stored : desktop);
        }
    }

    // Runs body with the store on a second drive: a folder of the prefix's temporary directory mapped
    // as P:, with the module copy there as this process's module meanwhile.
    void OnSecondDrive(const std::function<void()>& body) {
        testbed::TempDirectory volume;
        ASSERT_TRUE(testbed::MapDrive("P:", volume.path()));
        modulePath_ = "P:\\Plaxen.dll";
        ASSERT_TRUE(CopyFileA(testbed::ModulePath().c_str(), modulePath_.c_str(), FALSE));
        {
            plx::unique_hmodule onP(LoadLibraryA(modulePath_.c_str()));
            ASSERT_TRUE(onP);
            plx::SetModuleInstance(onP.get());
            EXPECT_EQ(plx::HiddenStoreDirectory(), "P:\\Hidden");
            EXPECT_FALSE(plx::OnSameVolume(OnDesktop("a.txt"), "P:\\Hidden\\a.txt"));
            if (plx::HiddenStoreDirectory() == "P:\\Hidden") body();
            plx::SetModuleInstance(module_.get());
        }
        testbed::RemoveTree("P:\\Hidden");
        DeleteFileA(modulePath_.c_str());
        EXPECT_TRUE(testbed::UnmapDrive("P:"));
    }

    std::string modulePath_;
    std::vector<TestItem> items_;
    std::map<std::string, int> ids_;
};

TEST_F(InterruptionTest, EveryStepOfHideAndShowOnOneVolumeIsRecoverable) {
    ASSERT_TRUE(plx::OnSameVolume(OnDesktop("a.txt"), store_ + "\\a.txt"));
    StopEachStepOfHideAndShow({{"recorded", 1}, {"moved", 1}, {"moved", 2}, {"confirmed", 2}});
}

// The store on a second drive, a folder of the prefix's temporary directory mapped as P:.
TEST_F(InterruptionTest, AFolderMovedBetweenVolumesIsWholeInOnePlaceAfterAnyStop) {
    OnSecondDrive([&] {
        // Activation takes the items in the order of their catalogue keys: a.txt, b.txt, Folder. The
        // third and fourth file copied or deleted are the folder's first and second.
        StopEachStepOfHideAndShow({{"recorded", 1},
                                   {"copied file", 3},
                                   {"copied file", 4},
                                   {"copied", 3},
                                   {"placed", 3},
                                   {"deleted file", 3},
                                   {"deleted file", 4},
                                   {"moved", 3},
                                   {"confirmed", 2}});
    });
}

// A file of the folder held open, deleting not shared, as an editor holds a document: the move between
// volumes cannot delete all of its source. The folder is then whole where it went and its entry keeps
// "Moving"; a sweep while the file is still held changes nothing; once it is let go, the next
// activation settles the item.
TEST_F(InterruptionTest, AFolderHeldOpenInPartIsWholeWhereItWentUntilTheNextActivationSettlesIt) {
    OnSecondDrive([&] {
        ForEachWayOfTheFolder([&](bool hide, const std::string& source, const std::string& there) {
            const TestItem& folder = items_[1];
            plx::unique_hfile held(CreateFileA((source + "\\one.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(held);
            // The second activation's sweep meets the held file again.
            for (int activation = 1; activation <= 2; ++activation) {
                MoveAllTo(hide ? "Hidden" : "Shown");
                bool moving = false;
                EXPECT_TRUE(WholeAt(folder, there)) << activation;
                EXPECT_TRUE(EntryIsComplete(folder, &moving)) << activation;
                EXPECT_TRUE(moving) << activation;
                EXPECT_TRUE(Exists(source + "\\one.txt")) << activation;
            }
            held.reset();
            MoveAllTo(hide ? "Hidden" : "Shown");
            EXPECT_TRUE(Settled(hide));
        });
    });
}

// What changes at the source between the copy and the deletes is not the copy's: a file written anew
// and a file added there stay at the source, and the move is a split.
TEST_F(InterruptionTest, FilesChangedOrAddedAtTheSourceDuringAMoveBetweenVolumesStayThere) {
    static std::string source, there;
    static bool changed;
    OnSecondDrive([&] {
        ForEachWayOfTheFolder([&](bool hide, const std::string& from, const std::string& to) {
            const TestItem& folder = items_[1];
            source = from;
            there = to;
            changed = false;
            // Once the folder's copy is in place, before its source is deleted.
            const plx::StoreStepHook before = plx::SetStoreStepHook([](const char* step) {
                if (changed || std::strcmp(step, "placed") != 0 || !Exists(there)) return;
                changed = testbed::WriteTextFile(source + "\\one.txt", "changed") &&
                          testbed::WriteTextFile(source + "\\new.txt", "new");
            });
            MoveAllTo(hide ? "Hidden" : "Shown");
            plx::SetStoreStepHook(before);
            ASSERT_TRUE(changed);
            EXPECT_EQ(testbed::ReadTextFile(source + "\\one.txt"), "changed");
            EXPECT_EQ(testbed::ReadTextFile(source + "\\new.txt"), "new");
            EXPECT_TRUE(WholeAt(folder, there));
            bool moving = false;
            EXPECT_TRUE(EntryIsComplete(folder, &moving));
            EXPECT_TRUE(moving);
        });
    });
}

// What an older version could leave, or a hand in the store: files without entries, and an entry
// whose file never left the desktop. Activation sweeps first, then applies the profile.
TEST_F(InterruptionTest, TheSweepGivesStoredFilesTheirEntriesBackAndDropsEntriesOfFilesThatStayed) {
    MakeItems();
    const TestItem& a = items_[0];
    const TestItem& b = items_[2];
    const TestItem& folder = items_[1];
    ASSERT_TRUE(CreateDirectoryA(store_.c_str(), nullptr));
    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, plx::SplitPath(OnDesktop("x")).directory));
    ASSERT_TRUE(MoveFileA(OnDesktop(a.name).c_str(), Stored(a).c_str()));
    ASSERT_TRUE(MoveFileA(OnDesktop(b.name).c_str(), Stored(b).c_str()));
    Write(OnDesktop(b.name), "newcomer");
    Write(plx::StorePathFor(OnDesktop("stray.txt")), "stray");
    // Look-alike names are two files: the entry of one does not stand for the other.
    const std::string strasse = OnDesktop("Strasse.txt"), strasseSharp = OnDesktop("Stra\u00dfe.txt");
    Write(plx::StorePathFor(strasse), "ss");
    Write(plx::StorePathFor(strasseSharp), "sharp s");
    {
        plx::unique_hkey hidden = HiddenItemsKey();
        DesktopItem stayed;
        stayed.ID = ids_.at(OnDesktop(folder.name));
        ASSERT_TRUE(plx::WriteHiddenEntry(hidden.get(), plx::ItemKeyName(OnDesktop(folder.name)), stayed));
        stayed.ID = 700;
        ASSERT_TRUE(plx::WriteHiddenEntry(hidden.get(), plx::ItemKeyName(strasse), stayed));
    }
    SetCurrentProfile("Shown");
    plx::ActivateProfile(nullptr, nullptr);

    // Listed again by its catalogue ID, a.txt is shown by the profile that shows it.
    EXPECT_TRUE(WholeAt(a, OnDesktop(a.name)));
    EXPECT_FALSE(Exists(Stored(a)));
    EXPECT_FALSE(HasHiddenEntry(OnDesktop(a.name)));
    // b.txt cannot come back over the newcomer: it stays in the store with its entry.
    EXPECT_TRUE(EntryIsComplete(b));
    EXPECT_TRUE(WholeAt(b, Stored(b)));
    EXPECT_EQ(testbed::ReadTextFile(OnDesktop(b.name)), "newcomer");
    // Never catalogued: a new ID above every other, and no profile says to show it.
    plx::unique_hkey stray =
        plx::OpenKeyForReading(HKEY_CURRENT_USER, std::string(plx::kHiddenItemsKey) + "\\" +
                                                      plx::ItemKeyName(OnDesktop("stray.txt")));
    DWORD id = 0;
    ASSERT_TRUE(stray && plx::ReadNumber(stray.get(), "ID", id) == ERROR_SUCCESS);
    for (const auto& known : ids_) EXPECT_GT(static_cast<int>(id), known.second);
    EXPECT_EQ(testbed::ReadTextFile(plx::StorePathFor(OnDesktop("stray.txt"))), "stray");
    EXPECT_FALSE(HasHiddenEntry(OnDesktop(folder.name)));
    EXPECT_TRUE(WholeAt(folder, OnDesktop(folder.name)));
    EXPECT_TRUE(HasHiddenEntry(strasse));
    EXPECT_TRUE(HasHiddenEntry(strasseSharp));
}

}  // namespace

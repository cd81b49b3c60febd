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

#include "layout/actions.h"
#include "resources/resource.h"
#include "store/cloud_files.h"
#include "store/moves.h"
#include "layout/profiles.h"
#include "store/store_lock.h"
#include "store/store_walk.h"
#include "store/visibility.h"
#include "tests/store_fixture.h"
#include "tests/support/message_boxes.h"

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
    // The item's entry names it with its catalogue ID and both names, not empty; moving: its "Moving", 0
    // for none.
    bool EntryIsComplete(const TestItem& item, DWORD* moving = nullptr) const {
        plx::unique_hkey entry =
            plx::OpenKeyForReading(HKEY_CURRENT_USER, std::string(plx::kHiddenItemsKey) + "\\" +
                                                          plx::ItemKeyName(OnDesktop(item.name)));
        DWORD id = 0;
        std::string text;
        if (moving && (!entry || plx::ReadNumber(entry.get(), plx::kMovingValue, *moving) != ERROR_SUCCESS))
            *moving = 0;
        return entry && plx::ReadNumber(entry.get(), "ID", id) == ERROR_SUCCESS &&
               static_cast<int>(id) == ids_.at(OnDesktop(item.name)) &&
               plx::ReadString(entry.get(), "DisplayName", text) == ERROR_SUCCESS && !text.empty() &&
               plx::ReadString(entry.get(), "TypeName", text) == ERROR_SUCCESS && !text.empty();
    }

    // Right after the stop.
    ::testing::AssertionResult Recoverable() const {
        for (const TestItem& item : items_) {
            if (!WholeAt(item, OnDesktop(item.name)) && !WholeAt(item, Stored(item)))
                return ::testing::AssertionFailure() << item.name << " is whole nowhere";
            if (AnyOf(item, Stored(item)) && !EntryIsComplete(item))
                return ::testing::AssertionFailure()
                       << item.name << " is in the store without its whole entry";
        }
        return ::testing::AssertionSuccess();
    }

    // After the next action. A move between volumes that it finished keeps "Moving" in its placed
    // phase until the sweep of the action after it sees the source gone.
    ::testing::AssertionResult Settled(bool hidden) const {
        for (const TestItem& item : items_) {
            const std::string desktop = OnDesktop(item.name), stored = Stored(item);
            const std::string& there = hidden ? stored : desktop;
            const std::string& elsewhere = hidden ? desktop : stored;
            DWORD moving = 0;
            const bool complete = EntryIsComplete(item, &moving);
            const bool settled = moving == 0 || (moving & plx::kMovingPlaced) != 0;
            if (!WholeAt(item, there) || AnyOf(item, elsewhere) || Exists(plx::StagingPathFor(there)))
                return ::testing::AssertionFailure() << item.name << " is not in exactly one place";
            if (hidden && (!complete || !settled))
                return ::testing::AssertionFailure() << item.name << " is stored without its settled entry";
            if (!hidden && HasHiddenEntry(desktop) && (moving & plx::kMovingPlaced) == 0)
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
                    // A move between volumes keeps "Moving" until a sweep sees its source gone; the
                    // show starts from entries settled whole, as they are in use.
                    ASSERT_TRUE(plx::SweepHiddenStore());
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

// Ways a move of the folder between volumes cannot finish: a file held open, deleting not shared, as an
// editor holds a document (the whole source cannot be deleted, so none of it is); a file new at the
// source once the copy is in place (the source is not as it was copied); its place taken before the
// rename (the copy goes, once its entry says "copying" again on the disk: an end of the process while
// it goes must not leave part of it under "placed"). Each time the folder stays whole where it was,
// and the activation says that it is not where the profile wants it (the export it runs under fails);
// the next one, the obstacle gone, moves it.
TEST_F(InterruptionTest, AFolderWhoseMoveBetweenVolumesCannotFinishStaysWholeWhereItWas) {
    static std::string source, there, key;
    static bool changed;
    static DWORD phaseWhileRemoved;
    OnSecondDrive([&] {
        for (const char* way : {"held", "changed", "taken"}) {
            ForEachWayOfTheFolder([&](bool hide, const std::string& from, const std::string& to) {
                SCOPED_TRACE(way);
                const TestItem& folder = items_[1];
                plx::unique_hfile open;
                const plx::StoreStepHook before = plx::SetStoreStepHook(nullptr);
                source = from;
                there = to;
                key = std::string(plx::kHiddenItemsKey) + "\\" + plx::ItemKeyName(OnDesktop(folder.name));
                changed = false;
                phaseWhileRemoved = 0;
                if (way[0] == 'h') {
                    open.reset(CreateFileA((from + "\\one.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                    ASSERT_TRUE(open);
                } else if (way[0] == 'c') {
                    // Once the folder's copy is in place, before its source is deleted.
                    plx::SetStoreStepHook([](const char* step) {
                        if (changed || std::strcmp(step, "placed") != 0 || !Exists(there)) return;
                        changed = testbed::WriteTextFile(source + "\\new.txt", "new");
                    });
                } else {
                    plx::SetStoreStepHook([](const char* step) {
                        if (std::strcmp(step, "copied") == 0 && Exists(plx::StagingPathFor(there)))
                            changed = testbed::WriteTextFile(there, "taken");
                        if (std::strcmp(step, "copying again") != 0) return;
                        plx::unique_hkey entry = plx::OpenKeyForReading(HKEY_CURRENT_USER, key);
                        if (entry) plx::ReadNumber(entry.get(), plx::kMovingValue, phaseWhileRemoved);
                    });
                }
                // Said once; quiet, the activation fails all the same.
                const BOOL quiet = way[0] != 'h' || !hide;
                testbed::MessageBoxWatcher messages;
                SetCurrentProfile(hide ? "Hidden" : "Shown");
                EXPECT_EQ(plx::RunActionWork(plx::Action::ActivateProfile, nullptr, nullptr, quiet),
                          plx::ActionResult::InPart);
                if (!quiet)
                    EXPECT_TRUE(messages.SawOnly(plx::kItemsNotInPlaceMessage, nullptr, 0, MB_ICONWARNING));
                plx::SetStoreStepHook(before);
                EXPECT_TRUE(open || changed);
                if (way[0] == 't') {
                    EXPECT_EQ(phaseWhileRemoved,
                              (hide ? plx::kMovingIntoStore : plx::kMovingToDesktop) | plx::kMovingCopying);
                    EXPECT_EQ(testbed::ReadTextFile(to), "taken");
                    ASSERT_TRUE(DeleteFileA(to.c_str()));
                }
                EXPECT_TRUE(WholeAt(folder, from));
                EXPECT_FALSE(AnyOf(folder, to));
                DWORD moving = 0;
                EXPECT_EQ(EntryIsComplete(folder, &moving), !hide);
                EXPECT_EQ(moving, 0u);
                open.reset();
                if (way[0] == 'c') ASSERT_TRUE(DeleteFileA((from + "\\new.txt").c_str()));
                EXPECT_EQ(plx::ActivateProfile(nullptr, nullptr), plx::ActivationOutcome::Done);
                EXPECT_TRUE(plx::SweepHiddenStore());
                EXPECT_TRUE(Settled(hide));
            });
        }
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
    // Stored from a folder that is no desktop folder's own, with a newcomer at its place there: found
    // where it is, not taken for a file that stayed.
    const std::string deep = OnDesktop("Sub\\deep.txt");
    ASSERT_TRUE(CreateDirectoryA(OnDesktop("Sub").c_str(), nullptr));
    ASSERT_TRUE(plx::EnsureStoreDirectory(store_, plx::SplitPath(deep).directory));
    Write(plx::StorePathFor(deep), "deep");
    Write(deep, "newcomer there");
    {
        plx::unique_hkey hidden = HiddenItemsKey();
        DesktopItem stayed;
        stayed.ID = ids_.at(OnDesktop(folder.name));
        ASSERT_TRUE(plx::WriteHiddenEntry(hidden.get(), plx::ItemKeyName(OnDesktop(folder.name)), stayed));
        stayed.ID = 700;
        ASSERT_TRUE(plx::WriteHiddenEntry(hidden.get(), plx::ItemKeyName(strasse), stayed));
        DesktopItem stored;
        stored.ID = 701;
        stored.DisplayName = "deep";
        stored.TypeName = "Text Document";
        ASSERT_TRUE(plx::WriteHiddenEntry(hidden.get(), plx::ItemKeyName(deep), stored));
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
    EXPECT_TRUE(HasHiddenEntry(deep));
    EXPECT_EQ(testbed::ReadTextFile(plx::StorePathFor(deep)), "deep");
    EXPECT_EQ(testbed::ReadTextFile(deep), "newcomer there");
}

// What an end of the process or of the power can leave on the disk of a move of the folder, each
// state settled by one sweep (or by the first action of a new desktop process, the logon restore): nothing of
// which no other copy exists goes, and a stored file keeps exactly one entry.
TEST_F(InterruptionTest, TheSweepSettlesWhatAnyEndCanLeaveAndDeletesNoLastCopy) {
    enum Place { Desktop = 1, Store = 2, StagingInStore = 4, StagingOnDesktop = 8 };
    struct Row {
        const char* state;
        DWORD moving;   // the entry's "Moving"; 0: none
        int whole;      // where a whole copy of the folder is before the sweep
        int partial;    // where a copy of one.txt alone is
        bool userFile;  // the staging copy holds a file of the user's too
        int after;      // where the folder is whole afterwards
        bool entry, movingAfter;
        bool atLogon = false;  // settled by the logon restore of a new process, not by a sweep here
        // After the copies: one.txt written again later ("newer"), the folder hidden as its staging
        // copy was ("hidden"), or an empty folder made in it ("folder"), at changeAt.
        const char* change = nullptr;
        int changeAt = 0;
    };
    const DWORD hide = plx::kMovingIntoStore, show = plx::kMovingToDesktop;
    const DWORD copying = plx::kMovingCopying, placed = plx::kMovingPlaced;
    const Row rows[] = {
        // A staging copy whose source went is never put in place: it stays, shown, for the user.
        {"staging only, source gone", hide | copying, StagingInStore, 0, false, StagingInStore, true, true},
        {"staging only, source gone, earlier version", hide, StagingInStore, 0, false, StagingInStore, true,
         true},
        {"staging only, source gone, at logon", hide | copying, StagingInStore, 0, false, StagingInStore,
         true, true, true},
        {"staging only, source gone, back", show | copying, StagingOnDesktop, 0, false, StagingOnDesktop,
         true, true},
        // Under "placed" only a whole staging copy is put in place; one taken apart in part goes back to
        // "copying" and goes.
        {"placed, staging in part", hide | placed, Desktop, StagingInStore, false, Desktop, false, false},
        {"placed, staging in part, back", show | placed, Store, StagingOnDesktop, false, Store, true, false},
        // An earlier version flushed no copy: alike by size and time is not enough to delete a source.
        {"earlier version, both present", hide, Desktop | Store, 0, false, Desktop | Store, true, false},
        // The source is deleted whole or not at all: written since, or grown, it stays and the copy goes.
        {"placed, a source file written since", hide | placed, Desktop | Store, 0, false, Desktop, false,
         false, false, "newer", Desktop},
        {"placed, the copy written since", hide | placed, Desktop | Store, 0, false, Store, true, false,
         false, "newer", Store},
        {"placed, a folder new at the source", hide | placed, Desktop | Store, 0, false, Desktop, false,
         false, false, "folder", Desktop},
        // A place taken meanwhile: the copy goes back to "copying" and goes; the stranger keeps the entry.
        {"placed, rename not done, place taken", hide | placed, Desktop | StagingInStore, Store, true,
         Desktop, true, false},
        {"placed, the copy still hidden", hide | placed, Desktop | Store, 0, false, Store, true, false, false,
         "hidden", Store},
        {"placed whole, both present", hide | placed, Desktop | Store, 0, false, Store, true, false},
        {"placed, rename not done", hide | placed, Desktop | StagingInStore, 0, false, Store, true, false},
        {"confirmed by an earlier version, both present", 0, Desktop | Store, 0, false, Desktop | Store, true,
         false},
        {"staging with a file of the user's", hide | copying, Desktop, StagingInStore, true, Desktop, true,
         true},
        {"a destination not ours, same size and date", hide | copying, Desktop | Store, 0, false,
         Desktop | Store, true, false},
        {"staging copy left behind", hide | copying, Desktop, StagingInStore, false, Desktop, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.state);
        MakeItems();
        const TestItem& folder = items_[1];
        const std::string desktop = OnDesktop(folder.name), stored = Stored(folder);
        const std::map<int, std::string> places = {{Desktop, desktop},
                                                   {Store, stored},
                                                   {StagingInStore, plx::StagingPathFor(stored)},
                                                   {StagingOnDesktop, plx::StagingPathFor(desktop)}};
        ASSERT_TRUE(CreateDirectoryA(store_.c_str(), nullptr));
        ASSERT_TRUE(plx::EnsureStoreDirectory(store_, plx::SplitPath(desktop).directory));
        // Copies keep the time of their source, as the move's own do.
        const std::string source = moduleDir_.path() + "\\source";
        ASSERT_TRUE(MoveFileA(desktop.c_str(), source.c_str()));
        for (const auto& place : places) {
            if (!((row.whole | row.partial) & place.first)) continue;
            ASSERT_TRUE(CreateDirectoryA(place.second.c_str(), nullptr));
            for (const auto& file : folder.files) {
                if ((row.whole & place.first) || file.first == "one.txt") {
                    ASSERT_TRUE(CopyFileA(FileAt(source, file.first).c_str(),
                                          FileAt(place.second, file.first).c_str(), TRUE));
                }
            }
            if (row.userFile && (row.partial & place.first)) Write(place.second + "\\mine.txt", "mine");
            // Staging copies are hidden, as a move makes them.
            if (place.first & (StagingInStore | StagingOnDesktop))
                ASSERT_TRUE(SetFileAttributesA(place.second.c_str(), FILE_ATTRIBUTE_HIDDEN));
        }
        if (row.change) {
            const std::string at = places.at(row.changeAt);
            if (std::strcmp(row.change, "newer") == 0) {
                plx::unique_hfile one(CreateFileA((at + "\\one.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                FILETIME now;
                GetSystemTimeAsFileTime(&now);
                ASSERT_TRUE(one && SetFileTime(one.get(), nullptr, nullptr, &now));
            } else if (std::strcmp(row.change, "hidden") == 0) {
                ASSERT_TRUE(SetFileAttributesA(at.c_str(), FILE_ATTRIBUTE_HIDDEN));
            } else {
                ASSERT_TRUE(CreateDirectoryA((at + "\\new").c_str(), nullptr));
            }
        }
        testbed::RemoveTree(source);
        {
            plx::unique_hkey hidden = HiddenItemsKey();
            DesktopItem item;
            item.ID = ids_.at(desktop);
            item.DisplayName = folder.name;
            item.TypeName = "File folder";
            const std::string key = plx::ItemKeyName(desktop);
            ASSERT_TRUE(plx::WriteHiddenEntry(hidden.get(), key, item));
            plx::unique_hkey entry = plx::OpenKeyForWriting(hidden.get(), key);
            if (row.moving) {
                ASSERT_EQ(plx::WriteNumber(entry.get(), plx::kMovingValue, row.moving), ERROR_SUCCESS);
            }
        }

        if (row.atLogon) {
            ASSERT_EQ(RunAction("logon"), 0);
        } else {
            ASSERT_TRUE(plx::SweepHiddenStore());
        }
        for (const auto& place : places) {
            EXPECT_EQ(WholeAt(folder, place.second), (row.after & place.first) != 0) << place.second;
            if (!(row.after & place.first) && !(row.userFile && (row.partial & place.first))) {
                EXPECT_FALSE(Exists(place.second)) << place.second;
            }
        }
        if (row.userFile) {
            EXPECT_EQ(testbed::ReadTextFile(places.at(row.partial) + "\\mine.txt"), "mine");
        }
        // Wherever the folder is afterwards, it is not hidden.
        for (const auto& place : places)
            if (row.after & place.first)
                EXPECT_FALSE(GetFileAttributesA(place.second.c_str()) & FILE_ATTRIBUTE_HIDDEN);
        if (row.change && std::strcmp(row.change, "folder") == 0)
            EXPECT_TRUE(Exists(places.at(row.changeAt) + "\\new"));
        DWORD moving = 0;
        EXPECT_EQ(EntryIsComplete(folder, &moving), row.entry);
        EXPECT_EQ(moving != 0, row.movingAfter);
    }
}

// Two processes at one store: an activation that waits in the middle of its move between volumes
// holds the store, and the release and the return of stored items wait for it, a bounded time. The
// release that waits while the activation goes on finds every item whole and brings it back; the
// return that waits in vain changes nothing and says so.
TEST_F(InterruptionTest, AnotherProcessWaitsForAMoveInProgressAndLosesNothing) {
    static HANDLE go;
    plx::unique_handle paused(CreateEventA(nullptr, TRUE, FALSE, testbed::kPausedEvent));
    plx::unique_handle goEvent(CreateEventA(nullptr, TRUE, FALSE, testbed::kGoEvent));
    go = goEvent.get();
    OnSecondDrive([&] {
        for (bool released : {true, false}) {
            SCOPED_TRACE(released ? "release" : "return of stored items");
            MakeItems();
            ResetEvent(paused.get());
            ResetEvent(go);
            SetCurrentProfile("Hidden");
            // The folder's second file is copied; the other items are moved already.
            const std::string command = "\"" + testbed::ExeDirectory() + "\\store_step.exe\" \"" +
                                        modulePath_ + "\" activate \"copied file\" 4 pause";
            PROCESS_INFORMATION pi = {};
            ASSERT_TRUE(testbed::StartTiedProcess(command, pi));
            plx::unique_handle process(pi.hProcess), thread(pi.hThread);
            ASSERT_EQ(WaitForSingleObject(paused.get(), 30000), WAIT_OBJECT_0);
            if (released) {
                // Once the release waits for the store, the activation goes on.
                const plx::StoreStepHook before = plx::SetStoreStepHook([](const char* step) {
                    if (std::strcmp(step, "waiting for the store") == 0) SetEvent(go);
                });
                EXPECT_TRUE(plx::ReleaseHiddenItems(nullptr));
                plx::SetStoreStepHook(before);
                EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
                EXPECT_TRUE(Settled(false));
            } else {
                const DWORD start = GetTickCount();
                EXPECT_FALSE(plx::ReturnStoredItems(plx::ToWide(plx::HiddenStoreDirectory()),
                                                    {{plx::ToWide(userDesktop_), {}}}));
                EXPECT_GE(GetTickCount() - start, plx::kStoreLockTimeoutMs - 1000);
                EXPECT_TRUE(Recoverable());
                SetEvent(go);
                EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
                EXPECT_TRUE(Settled(true));
            }
        }
    });
}

// On one volume a move is one rename: a folder with a file held open, deleting not shared, is whole
// in exactly one place afterwards, with its entry exactly when that place is the store.
TEST_F(InterruptionTest, AFolderHeldOpenOnOneVolumeIsNeverSplit) {
    MakeItems();
    const TestItem& folder = items_[1];
    plx::unique_hfile held(CreateFileA(OnDesktop("Folder\\one.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    MoveAllTo("Hidden");
    const bool stored = WholeAt(folder, Stored(folder));
    EXPECT_NE(stored, WholeAt(folder, OnDesktop(folder.name)));
    EXPECT_NE(stored, Exists(OnDesktop(folder.name)));
    EXPECT_EQ(stored, EntryIsComplete(folder));
}

// A long move between volumes shows the system's progress dialog while its copy grows, hidden; its
// Cancel leaves the folder that is being copied whole where it was, without a staging copy or an entry, and
// the items moved before it where they went. The screen with the dialog goes to plaxen-progress.bmp in the
// prefix's temporary folder.
TEST_F(InterruptionTest, ALongMoveBetweenVolumesShowsItsProgressAndItsCancelLeavesItemsWhole) {
    static bool cancelled, stagingHidden;
    static std::string staging;
    OnSecondDrive([&] {
        MakeItems();
        cancelled = stagingHidden = false;
        const std::string desktop = OnDesktop(items_[1].name);
        staging = plx::StagingPathFor(Stored(items_[1]));
        for (const char* name : {"big1.bin", "big2.bin", "big3.bin"}) {
            plx::unique_hfile big(CreateFileA((desktop + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            LARGE_INTEGER size;
            size.QuadPart = 24 << 20;
            ASSERT_TRUE(big && SetFilePointerEx(big.get(), size, nullptr, FILE_BEGIN) &&
                        SetEndOfFile(big.get()));
        }
        // At the folder's first file, once the dialog is there: a screenshot, then its Cancel.
        const plx::StoreStepHook before = plx::SetStoreStepHook([](const char* step) {
            static int copied = 0;
            if (cancelled || std::strcmp(step, "copied file") != 0 || ++copied < 3) return;
            // Never seen on the desktop, nor in a listing of the store.
            const DWORD attributes = GetFileAttributesA(staging.c_str());
            stagingHidden = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
            HWND dialog = nullptr;
            testbed::WaitUntil(
                [&] { return (dialog = FindWindowA("#32770", plx::kMessageCaption)) != nullptr; });
            if (!dialog) return;
            HWND cancel = GetDlgItem(dialog, IDCANCEL);
            testbed::WaitUntil([&] { return IsWindowVisible(dialog) && cancel && IsWindowVisible(cancel); });
            char temp[MAX_PATH] = {};
            GetTempPathA(MAX_PATH, temp);
            testbed::WriteScreenBitmap(std::string(temp) + "plaxen-progress.bmp");
            SendMessageA(cancel, BM_CLICK, 0, 0);
            cancelled = true;
        });
        MoveAllTo("Hidden");
        plx::SetStoreStepHook(before);
        ASSERT_TRUE(cancelled) << "no progress dialog";
        EXPECT_TRUE(stagingHidden);
        EXPECT_TRUE(WholeAt(items_[1], desktop));
        for (const char* name : {"big1.bin", "big2.bin", "big3.bin"})
            EXPECT_TRUE(Exists(desktop + "\\" + name));
        EXPECT_FALSE(Exists(Stored(items_[1])));
        EXPECT_FALSE(Exists(plx::StagingPathFor(Stored(items_[1]))));
        EXPECT_FALSE(HasHiddenEntry(desktop));
        for (const TestItem* moved : {&items_[0], &items_[2]}) {
            EXPECT_TRUE(WholeAt(*moved, Stored(*moved)));
            EXPECT_TRUE(EntryIsComplete(*moved));
        }
    });
}

}  // namespace

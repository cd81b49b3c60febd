#include "store/visibility.h"

#include <shellapi.h>
#include <shlobj.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "store/cloud_files.h"
#include "store/moves.h"
#include "store/profile_tree.h"
#include "store/store_lock.h"
#include "store/store_security.h"
#include "win32/long_path.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesW(FileApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(FileApiPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ParentOf(const std::string& path) {
    const size_t lastSlash = path.find_last_of('\\');
    return lastSlash == std::string::npos ? std::string() : path.substr(0, lastSlash);
}

// One move of one path. A taken destination is refused, as is a destination whose folder is missing or
// is a file: only the source itself may change. On one volume the rename itself refuses all of these
// (it never replaces), and a file that another program creates at the destination meanwhile makes it
// fail with both in place (Both). Between volumes they are checked first.
MoveResult MovePath(const std::string& from, const std::string& to, bool acrossVolumes,
                    const MoveRecord& record, MoveProgress* progress) {
    if (!acrossVolumes) return RenameOnVolume(from, to);
    if (!Exists(from) || Exists(to) || !IsDirectory(ParentOf(to))) return MoveResult::Stayed;
    return MoveAcrossVolumes(from, to, record, progress);
}

// The folders for a hide are there. A file standing where the last folder belongs counts as one: the
// move refuses it, as it refuses any taken place.
bool StoreDirectoryReady(StoreFolderCheck check) {
    return check == StoreFolderCheck::Held || check == StoreFolderCheck::NotAFolder;
}

// A move of one item, planned and recorded in the first pass of a batch and carried out in the second.
struct PlannedMove {
    DesktopItem* item = nullptr;
    size_t index = 0;
    bool hide = false;
    bool acrossVolumes = false;
    bool newEntry = false;  // a hide's entry was created by its record, not found
    std::string destination;
    std::string keyName;
};

// The store's folders of a batch's items, checked and held once per chain of folders for the whole
// batch, from the record to the last move: nobody can rename or replace them in between (see
// store/store_security.h), and the items of one desktop folder pay for the checks once, not each.
class HeldChains {
public:
    StoreFolderCheck Hold(const std::string& base, const std::string& chain, bool create) {
        const std::string key = base + '\n' + chain;  // no path holds a line break
        if (held_.count(key)) return StoreFolderCheck::Held;
        HeldFolders folders;
        const StoreFolderCheck check = folders.Hold(ToWide(base), ToWide(chain), create);
        if (check == StoreFolderCheck::Held) held_.emplace(key, std::move(folders));
        return check;
    }

private:
    std::map<std::string, HeldFolders> held_;
};

// What the first pass of a batch reads once for all its items, the entries it wrote, and the folders
// it holds.
struct Batch {
    MoveProgress* progress = nullptr;
    std::string store = HiddenStoreDirectory();  // the store items are shown from
    bool stopped = false;  // the user stopped the long moves: no later move is carried out
    CloudSyncRoots syncRoots;
    VolumeCache volumes;
    // Key names of the entries this batch wrote, told apart as the registry and the file system tell
    // names apart: "a.txt" and "A.TXT" are one entry and one file.
    std::set<std::wstring, NoCaseOrdinalLess> recorded;
    HeldChains chains;
};

bool WriteEntryValues(HKEY entry, const DesktopItem& item) {
    return WriteNumber(entry, "ID", static_cast<DWORD>(item.ID)) == ERROR_SUCCESS &&
           WriteString(entry, "DisplayName", item.DisplayName) == ERROR_SUCCESS &&
           WriteString(entry, "TypeName", item.TypeName) == ERROR_SUCCESS;
}

bool WriteMoving(HKEY hiddenItems, const std::string& keyName, DWORD value) {
    unique_hkey entry = OpenKeyForWriting(hiddenItems, keyName);
    return entry && WriteNumber(entry.get(), kMovingValue, value) == ERROR_SUCCESS;
}

}  // namespace

bool RecordPhase(HKEY hiddenItems, const std::string& keyName, bool intoStore, MovePhase phase) {
    const DWORD value = (intoStore ? kMovingIntoStore : kMovingToDesktop) |
                        (phase == MovePhase::Placed ? kMovingPlaced : kMovingCopying);
    return WriteMoving(hiddenItems, keyName, value) && RegFlushKey(hiddenItems) == ERROR_SUCCESS;
}

namespace {

void ClearMoving(HKEY hiddenItems, const std::string& keyName) {
    if (unique_hkey entry = OpenKeyForWriting(hiddenItems, keyName))
        RegDeleteValueW(entry.get(), ToWide(kMovingValue).c_str());
}

// Checks a hide and writes its entry; the outcome when the item cannot be hidden.
std::optional<VisibilityOutcome> RecordHide(DesktopItem& item, const std::string& storeDirectory,
                                            HKEY hiddenItems, Batch& batch, PlannedMove& move) {
    if (storeDirectory.empty() || !IsPlainFullPath(item.DesktopPath))
        return VisibilityOutcome::HideFailedAtMove;
    const SplitDesktopPath parts = SplitPath(item.DesktopPath);
    move.destination = StorePathFor(storeDirectory, item.DesktopPath);
    // ShowItem takes a file back only from a plain full path: nothing goes where it could not come back
    // from, such as a store on a network share.
    if (!IsPlainFullPath(move.destination, kLongestStorePath)) return VisibilityOutcome::HideFailedAtMove;
    // One look at the desktop file tells both whether it is there and whether it is a cloud placeholder.
    const DWORD attributes = GetFileAttributesW(FileApiPath(item.DesktopPath).c_str());
    if (item.CloudSynced || IsCloudPlaceholder(attributes) ||
        batch.syncRoots.Contains(item.DesktopPath, attributes))
        return VisibilityOutcome::KeptForCloud;
    if (!StoreDirectoryReady(batch.chains.Hold(storeDirectory, parts.directory, true)))
        return VisibilityOutcome::HideFailedAtDirectory;
    if (attributes == INVALID_FILE_ATTRIBUTES) return VisibilityOutcome::HideFailedAtMove;
    move.acrossVolumes = !batch.volumes.OnSameVolume(item.DesktopPath, move.destination);
    if (move.acrossVolumes && (Exists(move.destination) || Exists(StagingPathFor(move.destination))))
        return VisibilityOutcome::HideFailedAtMove;
    move.keyName = ItemKeyName(item.DesktopPath);
    if (!batch.recorded.insert(ToWide(move.keyName)).second) return VisibilityOutcome::HideFailedAtMove;
    // An entry is written only for a file that can go: the entry of an item already in the store (the
    // desktop copy of the double listing) must not be taken for this one's and deleted with it. Only an
    // entry that was there can be such a one; for a new entry on one volume the rename itself refuses
    // a taken destination (Both, and the new entry goes again), which spares a look-up of a missing
    // name, whose cost grows with the size of the store's folder.
    DWORD disposition = 0;
    unique_hkey entry = CreateKey(hiddenItems, move.keyName, nullptr, &disposition);
    if (!entry) return VisibilityOutcome::HideFailedAtMove;
    move.newEntry = disposition == REG_CREATED_NEW_KEY;
    if (!move.newEntry && !move.acrossVolumes && Exists(move.destination))
        return VisibilityOutcome::HideFailedAtMove;
    if (!WriteEntryValues(entry.get(), item) ||
        (move.acrossVolumes &&
         WriteNumber(entry.get(), kMovingValue, kMovingIntoStore | kMovingCopying) != ERROR_SUCCESS)) {
        entry.reset();
        DeleteKeyTree(hiddenItems, move.keyName);
        return VisibilityOutcome::HideFailedAtMove;
    }
    move.hide = true;
    return std::nullopt;
}

// Checks a show and, for a move between volumes, marks its entry.
std::optional<VisibilityOutcome> RecordShow(DesktopItem& item, HKEY hiddenItems, Batch& batch,
                                            PlannedMove& move) {
    // Both paths come from the registry or from a caller's list; a damaged entry must not lead a move
    // anywhere else, and only a file at the item's own place in the store is ever taken out of it.
    if (!IsPlainFullPath(item.DesktopPath) || !IsPlainFullPath(item.Path, kLongestStorePath))
        return VisibilityOutcome::ShowFailed;
    if (batch.store.empty() ||
        CompareNoCaseOrdinal(item.Path, StorePathFor(batch.store, item.DesktopPath)) != 0)
        return VisibilityOutcome::ShowFailed;
    move.destination = item.DesktopPath;
    move.keyName = ItemKeyName(item.DesktopPath);
    move.acrossVolumes = !batch.volumes.OnSameVolume(item.Path, item.DesktopPath);
    if (move.acrossVolumes) {
        if (!Exists(item.Path) || Exists(item.DesktopPath) || Exists(StagingPathFor(item.DesktopPath)))
            return VisibilityOutcome::ShowFailed;
        // Written whole: the entry may be missing or incomplete for a file the caller found elsewhere.
        // A name the caller's list does not carry (a sweep's listing need not) is kept from the entry.
        DesktopItem whole = item;
        if (whole.DisplayName.empty() || whole.TypeName.empty()) {
            if (unique_hkey entry = OpenKeyForReading(hiddenItems, move.keyName)) {
                if (whole.DisplayName.empty()) ReadString(entry.get(), "DisplayName", whole.DisplayName);
                if (whole.TypeName.empty()) ReadString(entry.get(), "TypeName", whole.TypeName);
            }
        }
        if (!WriteHiddenEntry(hiddenItems, move.keyName, whole) ||
            !WriteMoving(hiddenItems, move.keyName, kMovingToDesktop | kMovingCopying))
            return VisibilityOutcome::ShowFailed;
    }
    return std::nullopt;
}

// Undoes the record of a move that did not happen.
void Unrecord(const PlannedMove& move, HKEY hiddenItems) {
    if (move.hide)
        DeleteKeyTree(hiddenItems, move.keyName);
    else if (move.acrossVolumes)
        ClearMoving(hiddenItems, move.keyName);
}

VisibilityOutcome CarryOut(const PlannedMove& move, const std::string& storeDirectory, HKEY hiddenItems,
                           Batch& batch) {
    DesktopItem& item = *move.item;
    const VisibilityOutcome failed =
        move.hide ? VisibilityOutcome::HideFailedAtMove : VisibilityOutcome::ShowFailed;
    const std::string from = move.hide ? item.DesktopPath : item.Path;
    // The store's folders for the item are checked and held until the batch is done, so the paths the
    // move goes through name those very folders.
    const bool held = batch.chains.Hold(storeDirectory, SplitPath(item.DesktopPath).directory, false) ==
                      StoreFolderCheck::Held;
    // The placed phase is on the disk before the copy is renamed into place, and the copying phase
    // again before anything of a copy goes.
    const MoveRecord record = [&](MovePhase phase) {
        return RecordPhase(hiddenItems, move.keyName, move.hide, phase);
    };
    if (move.acrossVolumes && batch.progress && !batch.stopped && !batch.progress->Advance(0))
        batch.stopped = true;
    const MoveResult result =
        held && !batch.stopped ? MovePath(from, move.destination, move.acrossVolumes, record, batch.progress)
                               : MoveResult::Stayed;
    if (move.acrossVolumes && batch.progress && !batch.progress->Advance(0)) batch.stopped = true;
    if (result == MoveResult::Stayed) {
        Unrecord(move, hiddenItems);
        return failed;
    }
    // Both: whatever took the destination keeps an entry it had (in the store it needs one), and the
    // item stays where it was. A hide's new entry was never that file's: it goes, as it would have had
    // the taken place been seen before the record, and the next sweep gives the file its own.
    if (result == MoveResult::Both) {
        if (move.hide && move.newEntry)
            Unrecord(move, hiddenItems);
        else if (move.acrossVolumes)
            ClearMoving(hiddenItems, move.keyName);
        return failed;
    }
    // Split with nothing in place: the item is whole where it was, and what is left of its staging copy
    // keeps the entry's "Moving" for the sweep.
    if (result == MoveResult::Split && !Exists(move.destination)) return failed;
    item.Path = move.destination;
    // Split: the item is whole at its destination; its entry keeps "Moving", and the next sweep
    // deletes what is left at the source once it can. A move between volumes that arrived keeps it
    // as well: should the power fail before the deletes reach the disk, the sweep still finds what
    // to settle.
    if (result == MoveResult::Arrived) {
        ReachedStep("moved");
        if (!move.hide && !move.acrossVolumes) DeleteKeyTree(hiddenItems, move.keyName);
    }
    return move.hide ? VisibilityOutcome::Hidden : VisibilityOutcome::Shown;
}

std::vector<VisibilityOutcome> ApplyToItems(const std::vector<DesktopItem*>& items,
                                            const std::string& storeDirectory, HKEY hiddenItems,
                                            MoveProgress* progress) {
    std::vector<VisibilityOutcome> outcomes(items.size(), VisibilityOutcome::NothingToDo);
    StoreLock lock;
    if (!lock.Held()) {
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]->Movable() && items[i]->Visible == items[i]->InStore())
                outcomes[i] = items[i]->Visible ? VisibilityOutcome::ShowFailed
                                                : VisibilityOutcome::HideFailedAtDirectory;
        return outcomes;
    }
    std::vector<PlannedMove> planned;
    Batch batch;
    batch.progress = progress;
    bool wrote = false;
    ULONGLONG copyBytes = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        DesktopItem& item = *items[i];
        if (!item.Movable() || item.Visible != item.InStore()) continue;
        PlannedMove move;
        move.item = &item;
        move.index = i;
        const std::optional<VisibilityOutcome> refused =
            item.Visible ? RecordShow(item, hiddenItems, batch, move)
                         : RecordHide(item, storeDirectory, hiddenItems, batch, move);
        if (refused) {
            outcomes[i] = *refused;
            continue;
        }
        wrote = wrote || move.hide || move.acrossVolumes;
        if (progress && move.acrossVolumes) copyBytes += TreeSize(move.hide ? item.DesktopPath : item.Path);
        planned.push_back(std::move(move));
    }
    // Once for the batch: the records must be on the disk before the first file moves, or no file does.
    if (wrote && RegFlushKey(hiddenItems) != ERROR_SUCCESS) {
        for (const PlannedMove& move : planned) {
            Unrecord(move, hiddenItems);
            outcomes[move.index] =
                move.hide ? VisibilityOutcome::HideFailedAtMove : VisibilityOutcome::ShowFailed;
        }
        return outcomes;
    }
    ReachedStep("recorded");
    if (progress && copyBytes) progress->Begin(copyBytes);
    for (const PlannedMove& move : planned) {
        outcomes[move.index] = CarryOut(move, move.hide ? storeDirectory : batch.store, hiddenItems, batch);
        ReachedStep("confirmed");
    }
    return outcomes;
}

}  // namespace

bool WriteHiddenEntry(HKEY hiddenItems, const std::string& keyName, const DesktopItem& item) {
    unique_hkey entry = CreateKey(hiddenItems, keyName);
    return entry && WriteEntryValues(entry.get(), item);
}

std::vector<VisibilityOutcome> ApplyVisibility(DesktopItemList& items, const std::string& storeDirectory,
                                               HKEY hiddenItems, MoveProgress* progress) {
    std::vector<DesktopItem*> all;
    all.reserve(items.size());
    for (DesktopItem& item : items) all.push_back(&item);
    return ApplyToItems(all, storeDirectory, hiddenItems, progress);
}

VisibilityOutcome ApplyItemVisibility(DesktopItem& item, const std::string& storeDirectory,
                                      HKEY hiddenItems) {
    return ApplyToItems({&item}, storeDirectory, hiddenItems, nullptr).front();
}

VisibilityOutcome ShowItem(DesktopItem& item, HKEY hiddenItems) {
    if (!item.InStore()) return VisibilityOutcome::ShowFailed;
    DesktopItem shown = item;
    shown.Visible = true;
    const VisibilityOutcome outcome = ApplyItemVisibility(shown, HiddenStoreDirectory(), hiddenItems);
    item.Path = shown.Path;
    return outcome;
}

VisibilityOutcome HideItem(DesktopItem& item, const std::string& storeDirectory, HKEY hiddenItems) {
    if (item.InStore()) return VisibilityOutcome::HideFailedAtMove;
    DesktopItem hidden = item;
    hidden.Visible = false;
    hidden.SpecialFolder = hidden.VirtualFolder = false;
    const VisibilityOutcome outcome = ApplyItemVisibility(hidden, storeDirectory, hiddenItems);
    item.Path = hidden.Path;
    return outcome;
}

bool EnsureStoreDirectory(const std::string& base, const std::string& chain) {
    HeldFolders folders;
    return StoreDirectoryReady(folders.Hold(ToWide(base), ToWide(chain), true));
}

void NotifyDesktopChanged(HWND owner) {
    LPITEMIDLIST raw = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(owner, CSIDL_DESKTOP, &raw)) && raw) {
        unique_cotaskmem desktop(raw);
        SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | SHCNF_FLUSH, raw, nullptr);
        return;
    }
    SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_FLUSH, nullptr, nullptr);
}

}  // namespace plx

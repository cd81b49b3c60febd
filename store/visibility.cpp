#include "store/visibility.h"

#include <shellapi.h>
#include <shlobj.h>

#include <map>
#include <optional>
#include <set>
#include <utility>

#include "store/cloud_files.h"
#include "store/moves.h"
#include "store/profile_tree.h"
#include "store/store_security.h"
#include "win32/long_path.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

constexpr FILEOP_FLAGS kHideFlags =
    FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;             // 0x614
constexpr FILEOP_FLAGS kShowFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // 0x414

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

// One move of one path. With FOF_NOCONFIRMATION the shell would answer "replace?" with yes and merge
// folders into folders, so a taken destination is refused here before the shell sees it, as is a
// destination whose folder is missing or is a file: the shell would otherwise create folders of its
// own or move onto the file. Only the source itself may change. A file that another program creates
// at the destination between this check and the move is not caught here.
// On one volume the shell's move is one rename. Between volumes the shell would copy and delete, and
// an end of the process half-way would leave a folder split in two: such a move goes through
// MoveAcrossVolumes instead.
MoveResult MovePath(const std::string& from, const std::string& to, FILEOP_FLAGS flags, bool acrossVolumes) {
    if (!Exists(from) || Exists(to) || !IsDirectory(ParentOf(to))) return MoveResult::Stayed;
    if (acrossVolumes) return MoveAcrossVolumes(from, to);
    // The shell takes no long-path form: a place in the store too long for a plain path is renamed
    // directly, which on one volume is what the shell's move does.
    const std::wstring fromPath = FileApiPath(from), toPath = FileApiPath(to);
    if (fromPath.compare(0, 4, kLongPathPrefix) == 0 || toPath.compare(0, 4, kLongPathPrefix) == 0) {
        MoveFileExW(fromPath.c_str(), toPath.c_str(), 0);
        return Exists(to) && !Exists(from) ? MoveResult::Arrived : MoveResult::Stayed;
    }
    std::wstring source = ToWide(from);
    source.push_back(L'\0');  // a list of one path ends with a second NUL
    std::wstring destination = ToWide(to);
    destination.push_back(L'\0');
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_MOVE;
    operation.pFrom = source.c_str();
    operation.pTo = destination.c_str();
    operation.fFlags = flags;
    SHFileOperationW(&operation);
    // Where the file is decides, whatever the shell answered: the entry must follow the file.
    return Exists(to) && !Exists(from) ? MoveResult::Arrived : MoveResult::Stayed;
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
    CloudSyncRoots syncRoots;
    VolumeCache volumes;
    std::set<std::string> recorded;
    HeldChains chains;
};

bool WriteMoving(HKEY hiddenItems, const std::string& keyName, DWORD direction) {
    unique_hkey entry = OpenKeyForWriting(hiddenItems, keyName);
    return entry && WriteNumber(entry.get(), kMovingValue, direction) == ERROR_SUCCESS;
}

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
    if (item.CloudSynced || IsCloudSynced(item.DesktopPath, batch.syncRoots))
        return VisibilityOutcome::KeptForCloud;
    if (!StoreDirectoryReady(batch.chains.Hold(storeDirectory, parts.directory, true)))
        return VisibilityOutcome::HideFailedAtDirectory;
    // An entry is written only for a file that can go: the entry of an item already in the store (the
    // desktop copy of the double listing) must not be taken for this one's and deleted with it.
    if (!Exists(item.DesktopPath) || Exists(move.destination)) return VisibilityOutcome::HideFailedAtMove;
    move.acrossVolumes = !batch.volumes.OnSameVolume(item.DesktopPath, move.destination);
    if (move.acrossVolumes && Exists(StagingPathFor(move.destination)))
        return VisibilityOutcome::HideFailedAtMove;
    move.keyName = ItemKeyName(item.DesktopPath);
    if (!batch.recorded.insert(move.keyName).second) return VisibilityOutcome::HideFailedAtMove;
    if (!WriteHiddenEntry(hiddenItems, move.keyName, item) ||
        (move.acrossVolumes && !WriteMoving(hiddenItems, move.keyName, kMovingIntoStore))) {
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
    const std::string store = HiddenStoreDirectory();
    if (store.empty() || item.Path != StorePathFor(store, item.DesktopPath))
        return VisibilityOutcome::ShowFailed;
    move.destination = item.DesktopPath;
    move.keyName = ItemKeyName(item.DesktopPath);
    move.acrossVolumes = !batch.volumes.OnSameVolume(item.Path, item.DesktopPath);
    if (move.acrossVolumes) {
        if (!Exists(item.Path) || Exists(item.DesktopPath) || Exists(StagingPathFor(item.DesktopPath)))
            return VisibilityOutcome::ShowFailed;
        // Written whole: the entry may be missing or incomplete for a file the caller found elsewhere.
        if (!WriteHiddenEntry(hiddenItems, move.keyName, item) ||
            !WriteMoving(hiddenItems, move.keyName, kMovingToDesktop))
            return VisibilityOutcome::ShowFailed;
    }
    return std::nullopt;
}

VisibilityOutcome CarryOut(const PlannedMove& move, const std::string& storeDirectory, HKEY hiddenItems,
                           HeldChains& chains) {
    DesktopItem& item = *move.item;
    const std::string from = move.hide ? item.DesktopPath : item.Path;
    // The store's folders for the item are checked and held until the batch is done, so the paths the
    // move goes through name those very folders.
    const bool held =
        chains.Hold(storeDirectory, SplitPath(item.DesktopPath).directory, false) == StoreFolderCheck::Held;
    const MoveResult result =
        held ? MovePath(from, move.destination, move.hide ? kHideFlags : kShowFlags, move.acrossVolumes)
             : MoveResult::Stayed;
    if (result == MoveResult::Stayed) {
        if (move.hide)
            DeleteKeyTree(hiddenItems, move.keyName);
        else if (move.acrossVolumes)
            ClearMoving(hiddenItems, move.keyName);
        return move.hide ? VisibilityOutcome::HideFailedAtMove : VisibilityOutcome::ShowFailed;
    }
    item.Path = move.destination;
    // Split: the item is whole at its destination; its entry keeps "Moving", and the next sweep
    // deletes what is left at the source once it can.
    if (result == MoveResult::Arrived) {
        ReachedStep("moved");
        if (!move.hide)
            DeleteKeyTree(hiddenItems, move.keyName);
        else if (move.acrossVolumes)
            ClearMoving(hiddenItems, move.keyName);
    }
    return move.hide ? VisibilityOutcome::Hidden : VisibilityOutcome::Shown;
}

std::vector<VisibilityOutcome> ApplyToItems(const std::vector<DesktopItem*>& items,
                                            const std::string& storeDirectory, HKEY hiddenItems) {
    std::vector<VisibilityOutcome> outcomes(items.size(), VisibilityOutcome::NothingToDo);
    std::vector<PlannedMove> planned;
    Batch batch;
    bool wrote = false;
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
        planned.push_back(std::move(move));
    }
    // Once for the batch: the records must be on the disk before the first file moves.
    if (wrote) RegFlushKey(hiddenItems);
    ReachedStep("recorded");
    const std::string store = HiddenStoreDirectory();
    for (const PlannedMove& move : planned) {
        outcomes[move.index] = CarryOut(move, move.hide ? storeDirectory : store, hiddenItems, batch.chains);
        ReachedStep("confirmed");
    }
    return outcomes;
}

}  // namespace

bool WriteHiddenEntry(HKEY hiddenItems, const std::string& keyName, const DesktopItem& item) {
    unique_hkey entry = CreateKey(hiddenItems, keyName);
    if (!entry) return false;
    return WriteNumber(entry.get(), "ID", static_cast<DWORD>(item.ID)) == ERROR_SUCCESS &&
           WriteString(entry.get(), "DisplayName", item.DisplayName) == ERROR_SUCCESS &&
           WriteString(entry.get(), "TypeName", item.TypeName) == ERROR_SUCCESS;
}

std::vector<VisibilityOutcome> ApplyVisibility(DesktopItemList& items, const std::string& storeDirectory,
                                               HKEY hiddenItems) {
    std::vector<DesktopItem*> all;
    all.reserve(items.size());
    for (DesktopItem& item : items) all.push_back(&item);
    return ApplyToItems(all, storeDirectory, hiddenItems);
}

VisibilityOutcome ApplyItemVisibility(DesktopItem& item, const std::string& storeDirectory,
                                      HKEY hiddenItems) {
    return ApplyToItems({&item}, storeDirectory, hiddenItems).front();
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

#include "store/visibility.h"

#include <shellapi.h>
#include <shlobj.h>

#include "store/registry.h"
#include "store/store_security.h"
#include "win32/unique.h"

namespace plx {

namespace {

constexpr FILEOP_FLAGS kHideFlags =
    FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;             // 0x614
constexpr FILEOP_FLAGS kShowFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // 0x414

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ParentOf(const std::string& path) {
    const size_t lastSlash = path.find_last_of('\\');
    return lastSlash == std::string::npos ? std::string() : path.substr(0, lastSlash);
}

// One shell move of one path. With FOF_NOCONFIRMATION the shell would answer "replace?" with yes
// and merge folders into folders, so a taken destination is refused here before the shell sees it,
// as is a destination whose folder is missing or is a file: the shell would otherwise create
// folders of its own or move onto the file. Only the source itself may change. A file that another
// program creates at the destination between this check and the move is not caught here.
bool MovePath(const std::string& from, const std::string& to, FILEOP_FLAGS flags) {
    if (!Exists(from) || Exists(to) || !IsDirectory(ParentOf(to))) return false;
    std::string source = from;
    source.push_back('\0');  // a list of one path ends with a second NUL
    std::string destination = to;
    destination.push_back('\0');
    SHFILEOPSTRUCTA operation = {};
    operation.wFunc = FO_MOVE;
    operation.pFrom = source.c_str();
    operation.pTo = destination.c_str();
    operation.fFlags = flags;
    if (SHFileOperationA(&operation) != 0 || operation.fAnyOperationsAborted) return false;
    return Exists(to) && !Exists(from);
}

bool WriteHiddenEntry(HKEY hiddenItems, const std::string& keyName, const DesktopItem& item) {
    unique_hkey entry = CreateKey(hiddenItems, keyName);
    if (!entry) return false;
    return WriteNumber(entry.get(), "ID", static_cast<DWORD>(item.ID)) == ERROR_SUCCESS &&
           WriteString(entry.get(), "DisplayName", item.DisplayName) == ERROR_SUCCESS &&
           WriteString(entry.get(), "TypeName", item.TypeName) == ERROR_SUCCESS;
}

}  // namespace

VisibilityOutcome ApplyItemVisibility(DesktopItem& item, const std::string& storeDirectory,
                                      HKEY hiddenItems) {
    if (!item.Movable()) return VisibilityOutcome::NothingToDo;
    if (item.Visible) return item.InStore() ? ShowItem(item, hiddenItems) : VisibilityOutcome::NothingToDo;
    return item.InStore() ? VisibilityOutcome::NothingToDo : HideItem(item, storeDirectory, hiddenItems);
}

VisibilityOutcome ShowItem(DesktopItem& item, HKEY hiddenItems) {
    // Both paths come from the registry or from a caller's list; a damaged entry must not lead a move
    // anywhere else, and only a file at the item's own place in the store is ever taken out of it.
    if (!IsPlainFullPath(item.DesktopPath) || !IsPlainFullPath(item.Path))
        return VisibilityOutcome::ShowFailed;
    const std::string store = HiddenStoreDirectory();
    if (store.empty() || item.Path != StorePathFor(store, item.DesktopPath))
        return VisibilityOutcome::ShowFailed;
    // Taken out only through the store's own, checked folders, held until the move is done.
    HeldFolders folders;
    if (folders.Hold(WidePath(store), WidePath(SplitPath(item.DesktopPath).directory), false) !=
        StoreFolderCheck::Held)
        return VisibilityOutcome::ShowFailed;
    if (!MovePath(item.Path, item.DesktopPath, kShowFlags)) return VisibilityOutcome::ShowFailed;
    DeleteKeyTree(hiddenItems, ItemKeyName(item.DesktopPath));
    item.Path = item.DesktopPath;
    return VisibilityOutcome::Shown;
}

VisibilityOutcome HideItem(DesktopItem& item, const std::string& storeDirectory, HKEY hiddenItems) {
    if (storeDirectory.empty() || !IsPlainFullPath(item.DesktopPath))
        return VisibilityOutcome::HideFailedAtMove;
    const SplitDesktopPath parts = SplitPath(item.DesktopPath);
    const std::string destination = storeDirectory + parts.directory + parts.fileName;
    // ShowItem takes a file back only from a plain path under MAX_PATH: nothing goes where it could
    // not come back from, such as a store on a network share or a place too long.
    if (!IsPlainFullPath(destination)) return VisibilityOutcome::HideFailedAtMove;
    // The store's folders for the item stay held until the move is done (see store/store_security.h).
    HeldFolders folders;
    switch (folders.Hold(WidePath(storeDirectory), WidePath(parts.directory), true)) {
        case StoreFolderCheck::Held:
            break;
        case StoreFolderCheck::NotAFolder:
            return VisibilityOutcome::HideFailedAtMove;  // a file stands where the folder belongs
        default:
            return VisibilityOutcome::HideFailedAtDirectory;
    }
    if (!MovePath(item.DesktopPath, destination, kHideFlags)) return VisibilityOutcome::HideFailedAtMove;

    const std::string keyName = ItemKeyName(item.DesktopPath);
    if (!WriteHiddenEntry(hiddenItems, keyName, item)) {
        // A file in the store without its entry would be invisible to every list. Put it back; where
        // that fails too, it stays hidden and keeps an entry: written afresh under a key opened anew
        // (the one given may have been deleted behind its handle), or as far as it was written.
        if (MovePath(destination, item.DesktopPath, kShowFlags)) {
            DeleteKeyTree(hiddenItems, keyName);
            return VisibilityOutcome::HideFailedAtMove;
        }
        if (unique_hkey fresh = CreateKey(HKEY_CURRENT_USER, kHiddenItemsKey))
            WriteHiddenEntry(fresh.get(), keyName, item);
    }
    item.Path = destination;
    return VisibilityOutcome::Hidden;
}

bool EnsureStoreDirectory(const std::string& base, const std::string& chain) {
    HeldFolders folders;
    const StoreFolderCheck check = folders.Hold(WidePath(base), WidePath(chain), true);
    // A file standing where the last directory belongs counts as existing: the move is refused instead.
    return check == StoreFolderCheck::Held || check == StoreFolderCheck::NotAFolder;
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

#include "store/moves.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "win32/long_path.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

StoreStepHook stepHook = nullptr;

constexpr char kStagingSuffix[] = ".plaxen-moving";
// The data goes to the disk, not into the cache, before the copy is renamed into place: after a power
// loss the renamed copy must not be a file of the right name with the wrong contents.
constexpr DWORD kCopyNoBuffering = 0x00001000;  // COPY_FILE_NO_BUFFERING

DWORD Attributes(const std::string& path) { return GetFileAttributesW(FileApiPath(path).c_str()); }
bool Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }
bool IsDirectory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
// A junction or symbolic link leads elsewhere: it is neither copied through nor deleted.
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

std::string VolumeOf(const std::string& path) {
    wchar_t volume[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(FileApiPath(path).c_str(), volume, ARRAYSIZE(volume))) return {};
    // Asked in the long-path form, the system answers in it too ("\\?\C:\").
    return ToUtf8(PlainPath(volume));
}

std::string ParentOf(const std::string& path) {
    const size_t lastSlash = path.find_last_of('\\');
    return lastSlash == std::string::npos ? std::string() : path.substr(0, lastSlash);
}

// Writes what the system holds of a file or folder in its cache to the disk, the metadata with it: on
// NTFS the flush of one handle commits the volume's log, the renames before it included. A read-only
// file is opened for writing for a moment without its flag.
bool Flush(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const bool readOnly = !IsDirectory(attributes) && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(FileApiPath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    unique_hfile file(CreateFileW(
        FileApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const bool flushed = file && FlushFileBuffers(file.get());
    file.reset();
    if (readOnly) SetFileAttributesW(FileApiPath(path).c_str(), attributes);
    return flushed;
}

struct CopyWatch {
    MoveProgress* progress = nullptr;
    ULONGLONG reported = 0;  // of the file being copied
    bool stopped = false;
};

DWORD CALLBACK CopyProgress(LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                            DWORD, HANDLE, HANDLE, LPVOID data) {
    auto* watch = static_cast<CopyWatch*>(data);
    const ULONGLONG done = static_cast<ULONGLONG>(transferred.QuadPart);
    if (done > watch->reported && !watch->progress->Advance(done - watch->reported)) watch->stopped = true;
    watch->reported = std::max(watch->reported, done);
    return watch->stopped ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

// Copies from to to, which must not exist, and flushes every file copied. made: to was created here,
// so that what a failed copy left is ours to remove; a to that another program made meanwhile is never
// touched. hide: to gets the hidden attribute as soon as it exists.
bool CopyTree(const std::string& from, const std::string& to, bool& made, MoveProgress* progress, bool hide) {
    made = false;
    const DWORD attributes = Attributes(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes)) return false;
    if (!IsDirectory(attributes)) {
        CopyWatch watch;
        watch.progress = progress;
        if (!CopyFileExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), progress ? CopyProgress : nullptr, &watch,
                         nullptr, COPY_FILE_FAIL_IF_EXISTS | kCopyNoBuffering)) {
            // The copy fails before it creates to when to exists; after that, to is its own part copy.
            made = GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS;
            return false;
        }
        made = true;
        if (hide) SetFileAttributesW(FileApiPath(to).c_str(), Attributes(to) | FILE_ATTRIBUTE_HIDDEN);
        // A copy that reported no progress of its own is counted whole.
        const ULONGLONG size = TreeSize(from);
        if (progress && size > watch.reported && !progress->Advance(size - watch.reported)) return false;
        if (!Flush(to)) return false;
        ReachedStep("copied file");
        return !progress || progress->Advance(0);
    }
    if (!CreateDirectoryExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), nullptr)) return false;
    made = true;
    if (hide) SetFileAttributesW(FileApiPath(to).c_str(), Attributes(to) | FILE_ATTRIBUTE_HIDDEN);
    for (const auto& child : FolderEntries(from)) {
        bool madeChild = false;
        if (!CopyTree(from + "\\" + child.first, to + "\\" + child.first, madeChild, progress, false))
            return false;
    }
    return true;
}

bool SameSizeAndTime(const WIN32_FILE_ATTRIBUTE_DATA& x, const WIN32_FILE_ATTRIBUTE_DATA& y) {
    return x.nFileSizeLow == y.nFileSizeLow && x.nFileSizeHigh == y.nFileSizeHigh &&
           CompareFileTime(&x.ftLastWriteTime, &y.ftLastWriteTime) == 0;
}

// Both files, neither a folder, of the same size and last written at the same time: copies made by
// CopyTree keep both.
bool SameFile(const std::string& a, const std::string& b) {
    WIN32_FILE_ATTRIBUTE_DATA x = {}, y = {};
    if (!GetFileAttributesExW(FileApiPath(a).c_str(), GetFileExInfoStandard, &x) ||
        !GetFileAttributesExW(FileApiPath(b).c_str(), GetFileExInfoStandard, &y))
        return false;
    if (IsDirectory(x.dwFileAttributes) || IsDirectory(y.dwFileAttributes)) return false;
    return SameSizeAndTime(x, y);
}

// Deletes what of tree has a copy in reference, file by file (a copy: of the same size and time when
// sameOnly, any file of that name otherwise), and the folders that end up empty. Anything else stays:
// a file that has no copy may be the last one there is.
void DeleteCopied(const std::string& tree, const std::string& reference, int& deleted, bool sameOnly = true) {
    const DWORD attributes = Attributes(tree);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes)) return;
    if (IsDirectory(attributes)) {
        for (const auto& child : FolderEntries(tree))
            DeleteCopied(tree + "\\" + child.first, reference + "\\" + child.first, deleted, sameOnly);
        SetFileAttributesW(FileApiPath(tree).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!RemoveDirectoryW(FileApiPath(tree).c_str())) SetFileAttributesW(FileApiPath(tree).c_str(), attributes);
        return;
    }
    if (sameOnly ? !SameFile(tree, reference) : !Exists(reference)) return;
    SetFileAttributesW(FileApiPath(tree).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(FileApiPath(tree).c_str())) {
        SetFileAttributesW(FileApiPath(tree).c_str(), attributes);
        return;
    }
    ++deleted;
    ReachedStep("deleted file");
}

// Deletes a staging copy, file by file where its source file is there.
void RemoveStagingCopy(const std::string& staging, const std::string& source) {
    int deleted = 0;
    DeleteCopied(staging, source, deleted, false);
}

// Renames a staging copy into place and gives it the attributes of its source (without the hidden
// flag of the staging copy when the source is gone).
bool PutInPlace(const std::string& staging, const std::string& to, const std::string& from) {
    if (!MoveFileExW(FileApiPath(staging).c_str(), FileApiPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) return false;
    const DWORD source = Attributes(from);
    SetFileAttributesW(FileApiPath(to).c_str(),
                       source != INVALID_FILE_ATTRIBUTES ? source : Attributes(to) & ~FILE_ATTRIBUTE_HIDDEN);
    return true;
}

// Once to is in place and flushed: what of from has its copy there goes.
MoveResult DeleteSource(const std::string& from, const std::string& to, int& deleted) {
    if (!Flush(to)) return MoveResult::Split;
    DeleteCopied(from, to, deleted);
    return Exists(from) ? MoveResult::Split : MoveResult::Arrived;
}

}  // namespace

std::vector<std::pair<std::string, DWORD>> FolderEntries(const std::string& folder) {
    std::vector<std::pair<std::string, DWORD>> entries;
    WIN32_FIND_DATAW data;
    // Without the short names, which no caller reads, and in larger batches.
    unique_hfind find(FindFirstFileExW(FileApiPath(folder + "\\*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) return entries;
    do {
        const std::string name = ToUtf8(data.cFileName);
        if (name != "." && name != "..") entries.emplace_back(name, data.dwFileAttributes);
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

StoreStepHook SetStoreStepHook(StoreStepHook hook) { return std::exchange(stepHook, hook); }

void ReachedStep(const char* step) {
    if (stepHook) stepHook(step);
}

const std::string& VolumeCache::VolumeOfFolder(const std::string& folder) {
    auto found = volumes_.find(folder);
    if (found == volumes_.end()) found = volumes_.emplace(folder, VolumeOf(folder)).first;
    return found->second;
}

bool VolumeCache::OnSameVolume(const std::string& from, const std::string& to) {
    const std::string& a = VolumeOfFolder(ParentOf(from));
    const std::string& b = VolumeOfFolder(ParentOf(to));
    return !a.empty() && !b.empty() && lstrcmpiW(ToWide(a).c_str(), ToWide(b).c_str()) == 0;
}

bool OnSameVolume(const std::string& from, const std::string& to) {
    return VolumeCache().OnSameVolume(from, to);
}

std::string StagingPathFor(const std::string& to) { return to + kStagingSuffix; }

bool IsStagingPath(const std::string& path) {
    const size_t suffix = sizeof(kStagingSuffix) - 1;
    return path.size() > suffix && path.compare(path.size() - suffix, suffix, kStagingSuffix) == 0;
}

ULONGLONG TreeSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(FileApiPath(path).c_str(), GetFileExInfoStandard, &data) ||
        IsLink(data.dwFileAttributes))
        return 0;
    if (!IsDirectory(data.dwFileAttributes))
        return static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    ULONGLONG total = 0;
    for (const auto& child : FolderEntries(path)) total += TreeSize(path + "\\" + child.first);
    return total;
}

MoveResult MoveAcrossVolumes(const std::string& from, const std::string& to,
                             const std::function<bool()>& recordPlaced, MoveProgress* progress) {
    const std::string staging = StagingPathFor(to);
    if (!Exists(from) || Exists(to) || Exists(staging)) return MoveResult::Stayed;
    if (progress) progress->Item(from);
    bool made = false;
    const bool copied = CopyTree(from, staging, made, progress, true);
    if (copied) ReachedStep("copied");
    // The entry says "placed" on the disk before the copy is: a sweep then never takes the copy for a
    // part copy, nor a destination of somebody else's for the copy.
    if (!copied || !recordPlaced()) {
        if (made) RemoveStagingCopy(staging, from);
        return Exists(staging) ? MoveResult::Split : MoveResult::Stayed;
    }
    if (!PutInPlace(staging, to, from)) {
        RemoveStagingCopy(staging, from);
        return Exists(staging) ? MoveResult::Split : MoveResult::Stayed;
    }
    ReachedStep("placed");
    int deleted = 0;
    const MoveResult result = DeleteSource(from, to, deleted);
    if (result == MoveResult::Arrived) return result;
    // Not one file could go (the item is held open): the source is whole, and the copy goes again. It
    // is renamed away first, so that an end of the process meanwhile leaves a staging copy, not a
    // destination in part.
    if (deleted == 0 && MoveFileExW(FileApiPath(to).c_str(), FileApiPath(staging).c_str(), MOVEFILE_WRITE_THROUGH)) {
        RemoveStagingCopy(staging, from);
        if (!Exists(staging)) return MoveResult::Stayed;
    }
    return MoveResult::Split;
}

MoveResult SettleMoveAcrossVolumes(const std::string& from, const std::string& to, MovePhase phase) {
    const std::string staging = StagingPathFor(to);
    if (Exists(staging)) {
        if (phase == MovePhase::Placed) {
            // Whole and flushed before the phase was written: the rename is what is left to do.
            if (Exists(to) || !PutInPlace(staging, to, from)) return MoveResult::Split;
        } else {
            RemoveStagingCopy(staging, from);
            // What is left has no source file: the only copy of it there is (or a file the user put
            // there) goes where the item belongs, never into the bin.
            if (Exists(staging) && (Exists(from) || Exists(to) || !PutInPlace(staging, to, from)))
                return MoveResult::Split;
        }
    }
    if (!Exists(to)) return MoveResult::Stayed;
    if (!Exists(from)) return MoveResult::Arrived;
    // Before the rename, whatever stands at to is not the item's copy, however alike.
    if (phase == MovePhase::Copying) return MoveResult::Both;
    int deleted = 0;
    return DeleteSource(from, to, deleted);
}

MoveResult RenameOnVolume(const std::string& from, const std::string& to) {
    if (MoveFileExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), 0)) return MoveResult::Arrived;
    return Exists(from) && Exists(to) ? MoveResult::Both : MoveResult::Stayed;
}

}  // namespace plx

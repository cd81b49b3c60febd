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
        FileApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
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
        if (!CopyFileExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(),
                         progress ? CopyProgress : nullptr, &watch, nullptr,
                         COPY_FILE_FAIL_IF_EXISTS | kCopyNoBuffering)) {
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

// How a source compares with the copy that a move made of it. Copies made by CopyTree keep the size
// and the time of each file, so a file that differs was written after the copy, on one side or the
// other.
struct Comparison {
    bool sourceNewer = false;  // a source file written after its copy, or a file or folder the copy lacks
    bool copyNewer = false;    // a copy written after its source
};

void CompareWithCopy(const std::string& source, const std::string& copy, Comparison& result) {
    WIN32_FILE_ATTRIBUTE_DATA x = {}, y = {};
    if (!GetFileAttributesExW(FileApiPath(source).c_str(), GetFileExInfoStandard, &x)) return;
    const bool haveCopy = GetFileAttributesExW(FileApiPath(copy).c_str(), GetFileExInfoStandard, &y) != FALSE;
    // A link was never copied: what it leads to is no part of the move.
    if (IsLink(x.dwFileAttributes) || !haveCopy ||
        IsDirectory(x.dwFileAttributes) != IsDirectory(y.dwFileAttributes) ||
        (haveCopy && IsLink(y.dwFileAttributes))) {
        result.sourceNewer = true;
        return;
    }
    if (IsDirectory(x.dwFileAttributes)) {
        for (const auto& child : FolderEntries(source))
            CompareWithCopy(source + "\\" + child.first, copy + "\\" + child.first, result);
        return;
    }
    if (SameSizeAndTime(x, y)) return;
    if (CompareFileTime(&y.ftLastWriteTime, &x.ftLastWriteTime) > 0)
        result.copyNewer = true;
    else
        result.sourceNewer = true;
}

// True when the copy holds every file of the source, each of its size and time, and every folder.
bool CopyIsWhole(const std::string& copy, const std::string& source) {
    Comparison comparison;
    CompareWithCopy(source, copy, comparison);
    return !comparison.sourceNewer && !comparison.copyNewer;
}

// Deletes what of tree has a namesake in reference, file by file, and the folders that end up empty
// where reference has the folder too. Anything else stays: a file that has no copy may be the last one
// there is, and an empty folder may be an item of its own.
void DeleteNamesakes(const std::string& tree, const std::string& reference) {
    const DWORD attributes = Attributes(tree);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes)) return;
    const DWORD counterpart = Attributes(reference);
    if (counterpart == INVALID_FILE_ATTRIBUTES || IsDirectory(counterpart) != IsDirectory(attributes)) return;
    if (IsDirectory(attributes)) {
        for (const auto& child : FolderEntries(tree))
            DeleteNamesakes(tree + "\\" + child.first, reference + "\\" + child.first);
        SetFileAttributesW(FileApiPath(tree).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!RemoveDirectoryW(FileApiPath(tree).c_str()))
            SetFileAttributesW(FileApiPath(tree).c_str(), attributes);
        return;
    }
    SetFileAttributesW(FileApiPath(tree).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(FileApiPath(tree).c_str())) SetFileAttributesW(FileApiPath(tree).c_str(), attributes);
}

// Deletes a staging copy, file by file where its source file is there. Only once its entry says
// "copying" on the disk: under "placed" a sweep would take what is left for the whole copy.
void RemoveStagingCopy(const std::string& staging, const std::string& source) {
    DeleteNamesakes(staging, source);
}

// What is left of a staging copy after its source went is nobody's copy but may be the only one of
// some file: it stays where it is, under its staging name, shown so that the user finds it.
void LeaveForTheUser(const std::string& staging) {
    const DWORD attributes = Attributes(staging);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(FileApiPath(staging).c_str(), attributes & ~FILE_ATTRIBUTE_HIDDEN);
}

// Renames a staging copy into place. Where its source is gone, the copy first loses the hidden flag of
// its staging name, so that no end of the process leaves the item hidden on the desktop; otherwise it
// gets the source's attributes before the source goes (GiveAttributes).
bool PutInPlace(const std::string& staging, const std::string& to, const std::string& from) {
    if (!Exists(from)) {
        const DWORD attributes = Attributes(staging);
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            ((attributes & FILE_ATTRIBUTE_HIDDEN) &&
             !SetFileAttributesW(FileApiPath(staging).c_str(), attributes & ~FILE_ATTRIBUTE_HIDDEN)))
            return false;
    }
    return MoveFileExW(FileApiPath(staging).c_str(), FileApiPath(to).c_str(), MOVEFILE_WRITE_THROUGH) !=
           FALSE;
}

// The destination takes the attributes of its source, the hidden flag of the staging copy with them.
// True only when that flag is as the source's: otherwise the item would stay invisible once shown.
bool GiveAttributes(const std::string& from, const std::string& to) {
    const DWORD source = Attributes(from);
    if (source == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD before = Attributes(to);
    if (before == source) return true;
    SetFileAttributesW(FileApiPath(to).c_str(), source);
    const DWORD after = Attributes(to);
    return after != INVALID_FILE_ATTRIBUTES &&
           (after & FILE_ATTRIBUTE_HIDDEN) == (source & FILE_ATTRIBUTE_HIDDEN);
}

// One file of a source, open for its deletion.
struct HeldForDeletion {
    unique_hfile file;
    DWORD attributes = 0;
};

bool SetDisposition(HANDLE file, bool gone) {
    FILE_DISPOSITION_INFO disposition = {gone ? TRUE : FALSE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool SetHandleAttributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// Opens every file of the source for its deletion, without sharing writing or deleting, so that no
// program changes or holds it from then on; false, with nothing open, when one cannot be opened (held by
// an editor or a scanner) or was written after its copy.
bool HoldEveryFile(const std::string& from, const std::string& to, std::vector<HeldForDeletion>& held,
                   std::vector<std::string>& folders) {
    const DWORD attributes = Attributes(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes)) return false;
    if (IsDirectory(attributes)) {
        for (const auto& child : FolderEntries(from))
            if (!HoldEveryFile(from + "\\" + child.first, to + "\\" + child.first, held, folders))
                return false;
        folders.push_back(from);
        return true;
    }
    HeldForDeletion entry;
    entry.attributes = attributes;
    entry.file.reset(CreateFileW(FileApiPath(from).c_str(),
                                 DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry.file) return false;
    // Looked at through the handle: nothing written before the open escapes the comparison.
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    WIN32_FILE_ATTRIBUTE_DATA copy = {};
    if (!GetFileInformationByHandleEx(entry.file.get(), FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileInformationByHandleEx(entry.file.get(), FileStandardInfo, &standard, sizeof(standard)) ||
        !GetFileAttributesExW(FileApiPath(to).c_str(), GetFileExInfoStandard, &copy))
        return false;
    const ULONGLONG copySize = static_cast<ULONGLONG>(copy.nFileSizeHigh) << 32 | copy.nFileSizeLow;
    const ULONGLONG copyTime = static_cast<ULONGLONG>(copy.ftLastWriteTime.dwHighDateTime) << 32 |
                               copy.ftLastWriteTime.dwLowDateTime;
    // A copy written since (the user's, once it was in place) supersedes its source; a source written
    // since does not go.
    const ULONGLONG sourceTime = static_cast<ULONGLONG>(basic.LastWriteTime.QuadPart);
    if (sourceTime > copyTime ||
        (sourceTime == copyTime && static_cast<ULONGLONG>(standard.EndOfFile.QuadPart) != copySize))
        return false;
    held.push_back(std::move(entry));
    return true;
}

// Deletes the whole source, or nothing of it: every file is held first, then each is marked for
// deletion; a mark that fails takes every mark back before any file goes (a file goes when its handle
// closes). An end of the process after the marks deletes the marked files; what is left then matches
// the copy, which a sweep finishes. The folders go last, each only where the copy has it.
bool DeleteWholeSource(const std::string& from, const std::string& to) {
    std::vector<HeldForDeletion> held;
    std::vector<std::string> folders;
    if (!HoldEveryFile(from, to, held, folders)) return false;
    size_t marked = 0;
    for (; marked < held.size(); ++marked) {
        HANDLE file = held[marked].file.get();
        if ((held[marked].attributes & FILE_ATTRIBUTE_READONLY) &&
            !SetHandleAttributes(file, held[marked].attributes & ~FILE_ATTRIBUTE_READONLY))
            break;
        if (!SetDisposition(file, true)) break;
        ReachedStep("deleted file");
    }
    if (marked < held.size()) {
        for (size_t i = 0; i <= marked && i < held.size(); ++i) {
            if (i < marked) SetDisposition(held[i].file.get(), false);
            if (held[i].attributes & FILE_ATTRIBUTE_READONLY)
                SetHandleAttributes(held[i].file.get(), held[i].attributes);
        }
        return false;
    }
    held.clear();
    const size_t prefix = from.size();
    for (const std::string& folder : folders) {
        const DWORD copy = Attributes(to + folder.substr(prefix));
        if (copy == INVALID_FILE_ATTRIBUTES || !IsDirectory(copy)) continue;
        const DWORD attributes = Attributes(folder);
        SetFileAttributesW(FileApiPath(folder).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!RemoveDirectoryW(FileApiPath(folder).c_str()))
            SetFileAttributesW(FileApiPath(folder).c_str(), attributes);
    }
    return !Exists(from);
}

// True when every file and folder of tree has its namesake in reference.
bool HasEveryName(const std::string& reference, const std::string& tree) {
    const DWORD attributes = Attributes(tree);
    if (attributes == INVALID_FILE_ATTRIBUTES || !Exists(reference)) return false;
    if (!IsDirectory(attributes) || IsLink(attributes)) return true;
    for (const auto& child : FolderEntries(tree))
        if (!HasEveryName(reference + "\\" + child.first, tree + "\\" + child.first)) return false;
    return true;
}

// Takes a move back whose copy is in place and whose source is still whole: the copy becomes a staging
// copy again, its entry says "copying" on the disk, and then the copy goes. A source that lost files
// already is past taking back: both stay, for the next sweep or the user.
MoveResult Undo(const std::string& from, const std::string& to, const MoveRecord& record) {
    const std::string staging = StagingPathFor(to);
    if (!HasEveryName(from, to) || Exists(staging) ||
        !MoveFileExW(FileApiPath(to).c_str(), FileApiPath(staging).c_str(), MOVEFILE_WRITE_THROUGH))
        return MoveResult::Split;
    SetFileAttributesW(FileApiPath(staging).c_str(), Attributes(staging) | FILE_ATTRIBUTE_HIDDEN);
    // Still "placed" when this fails: the copy is whole, and a sweep puts it in place again.
    if (!record(MovePhase::Copying)) return MoveResult::Split;
    RemoveStagingCopy(staging, from);
    if (!Exists(staging)) return MoveResult::Stayed;
    LeaveForTheUser(staging);
    return MoveResult::Split;
}

// Once to is in place: the move is finished (the source deleted whole) when the source is as it was
// copied, and taken back when a file of the source was written after its copy or is new there.
// Changes on both sides leave both for the user. settling: an end of the process interrupted the move;
// a source that cannot be deleted now is tried again later instead of taking the move back.
MoveResult FinishOrUndo(const std::string& from, const std::string& to, const MoveRecord& record,
                        bool settling) {
    Comparison comparison;
    CompareWithCopy(from, to, comparison);
    if (comparison.sourceNewer) return comparison.copyNewer ? MoveResult::Split : Undo(from, to, record);
    if (!GiveAttributes(from, to) || !Flush(to)) return MoveResult::Split;
    if (DeleteWholeSource(from, to)) return MoveResult::Arrived;
    if (!Exists(from)) return MoveResult::Arrived;
    return settling ? MoveResult::Split : Undo(from, to, record);
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

MoveResult MoveAcrossVolumes(const std::string& from, const std::string& to, const MoveRecord& record,
                             MoveProgress* progress) {
    const std::string staging = StagingPathFor(to);
    if (!Exists(from) || Exists(to) || Exists(staging)) return MoveResult::Stayed;
    if (progress) progress->Item(from);
    bool made = false;
    const bool copied = CopyTree(from, staging, made, progress, true);
    if (!copied) {
        // The entry still says "copying": the part copy goes where its source has each file.
        if (made) RemoveStagingCopy(staging, from);
        return Exists(staging) ? MoveResult::Split : MoveResult::Stayed;
    }
    ReachedStep("copied");
    // The entry says "placed" on the disk before the copy is: a sweep then never takes the copy for a
    // part copy, nor a destination of somebody else's for the copy. A write of "placed" whose flush
    // failed may still reach the disk: the phase goes back to "copying", flushed, before any file of
    // the copy goes, or the copy stays whole.
    if (!record(MovePhase::Placed) || !PutInPlace(staging, to, from)) {
        if (!record(MovePhase::Copying)) return MoveResult::Split;
        ReachedStep("copying again");
        RemoveStagingCopy(staging, from);
        return Exists(staging) ? MoveResult::Split : MoveResult::Stayed;
    }
    ReachedStep("placed");
    return FinishOrUndo(from, to, record, false);
}

MoveResult SettleMoveAcrossVolumes(const std::string& from, const std::string& to, MovePhase phase,
                                   const MoveRecord& record) {
    const std::string staging = StagingPathFor(to);
    // An earlier version wrote no phase and flushed no copy: what it left is settled as a copy that may
    // be incomplete, never by the size and time of its files alone.
    if (phase == MovePhase::Unknown) phase = MovePhase::Copying;
    if (Exists(staging)) {
        if (phase == MovePhase::Placed) {
            // Whole and flushed before the phase was written; a copy that is not (taken apart in part
            // by a version that did not write the phase back first, or a source written since), or
            // whose place somebody took meanwhile, goes back to "copying" while its source is there.
            if (!Exists(to) && (!Exists(from) || CopyIsWhole(staging, from))) {
                if (!PutInPlace(staging, to, from)) return MoveResult::Split;
            } else {
                if (!Exists(from) || !record(MovePhase::Copying)) return MoveResult::Split;
                phase = MovePhase::Copying;
            }
        }
        if (phase == MovePhase::Copying) {
            RemoveStagingCopy(staging, from);
            // What is left has no source file: the only copy of it there is, or a file the user put
            // there, maybe cut short. It is never put in place (a renamed original would meet it there
            // later): it stays for the user, and the entry keeps "Moving".
            if (Exists(staging)) {
                LeaveForTheUser(staging);
                return MoveResult::Split;
            }
        }
    }
    if (!Exists(to)) return MoveResult::Stayed;
    if (!Exists(from)) return MoveResult::Arrived;
    // Before the rename, whatever stands at to is not the item's copy, however alike.
    if (phase == MovePhase::Copying) return MoveResult::Both;
    return FinishOrUndo(from, to, record, true);
}

MoveResult RenameOnVolume(const std::string& from, const std::string& to) {
    if (MoveFileExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), 0)) return MoveResult::Arrived;
    return Exists(from) && Exists(to) ? MoveResult::Both : MoveResult::Stayed;
}

}  // namespace plx

#include "store/moves.h"

#include <windows.h>

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

// Copies from to to, which must not exist. made: to was created here, so that what a failed copy
// left is ours to remove; a to that another program made meanwhile is never touched.
bool CopyTree(const std::string& from, const std::string& to, bool& made) {
    made = false;
    const DWORD attributes = Attributes(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes)) return false;
    if (!IsDirectory(attributes)) {
        if (!CopyFileExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), nullptr, nullptr, nullptr,
                         COPY_FILE_FAIL_IF_EXISTS | kCopyNoBuffering)) {
            // The copy fails before it creates to when to exists; after that, to is its own part copy.
            made = GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS;
            return false;
        }
        made = true;
        ReachedStep("copied file");
        return true;
    }
    if (!CreateDirectoryExW(FileApiPath(from).c_str(), FileApiPath(to).c_str(), nullptr)) return false;
    made = true;
    for (const auto& child : FolderEntries(from)) {
        bool madeChild = false;
        if (!CopyTree(from + "\\" + child.first, to + "\\" + child.first, madeChild)) return false;
    }
    return true;
}

// Deletes a copy of our own making, read-only files included.
void RemoveCopy(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes)) return;
    if (IsDirectory(attributes))
        for (const auto& child : FolderEntries(path)) RemoveCopy(path + "\\" + child.first);
    SetFileAttributesW(FileApiPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (IsDirectory(attributes))
        RemoveDirectoryW(FileApiPath(path).c_str());
    else
        DeleteFileW(FileApiPath(path).c_str());
}

// Both files, neither a folder, of the same size and last written at the same time: copies made by
// CopyTree keep both.
bool SameFile(const std::string& a, const std::string& b) {
    WIN32_FILE_ATTRIBUTE_DATA x = {}, y = {};
    if (!GetFileAttributesExW(FileApiPath(a).c_str(), GetFileExInfoStandard, &x) ||
        !GetFileAttributesExW(FileApiPath(b).c_str(), GetFileExInfoStandard, &y))
        return false;
    if (IsDirectory(x.dwFileAttributes) || IsDirectory(y.dwFileAttributes)) return false;
    return x.nFileSizeLow == y.nFileSizeLow && x.nFileSizeHigh == y.nFileSizeHigh &&
           CompareFileTime(&x.ftLastWriteTime, &y.ftLastWriteTime) == 0;
}

// Deletes what of tree has its copy in reference, file by file, and the folders that end up empty.
// Anything else stays: a file that differs from its copy or has none is not ours to delete.
void DeleteCopied(const std::string& tree, const std::string& reference, int& deleted) {
    const DWORD attributes = Attributes(tree);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes)) return;
    if (IsDirectory(attributes)) {
        for (const auto& child : FolderEntries(tree))
            DeleteCopied(tree + "\\" + child.first, reference + "\\" + child.first, deleted);
        SetFileAttributesW(FileApiPath(tree).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!RemoveDirectoryW(FileApiPath(tree).c_str()))
            SetFileAttributesW(FileApiPath(tree).c_str(), attributes);
        return;
    }
    if (!SameFile(tree, reference)) return;
    SetFileAttributesW(FileApiPath(tree).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(FileApiPath(tree).c_str())) {
        SetFileAttributesW(FileApiPath(tree).c_str(), attributes);
        return;
    }
    ++deleted;
    ReachedStep("deleted file");
}

}  // namespace

std::vector<std::pair<std::string, DWORD>> FolderEntries(const std::string& folder) {
    std::vector<std::pair<std::string, DWORD>> entries;
    WIN32_FIND_DATAW data;
    unique_hfind find(FindFirstFileW(FileApiPath(folder + "\\*").c_str(), &data));
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

MoveResult MoveAcrossVolumes(const std::string& from, const std::string& to) {
    const std::string staging = StagingPathFor(to);
    if (!Exists(from) || Exists(to) || Exists(staging)) return MoveResult::Stayed;
    bool made = false;
    if (!CopyTree(from, staging, made)) {
        if (made) RemoveCopy(staging);
        return MoveResult::Stayed;
    }
    ReachedStep("copied");
    if (!MoveFileExW(FileApiPath(staging).c_str(), FileApiPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        RemoveCopy(staging);
        return MoveResult::Stayed;
    }
    ReachedStep("placed");
    int deleted = 0;
    DeleteCopied(from, to, deleted);
    if (!Exists(from)) return MoveResult::Arrived;
    // Not one file could go (the item is held open): the source is whole, and the copy goes again. It
    // is renamed away first, so that an end of the process meanwhile leaves a staging copy, not a
    // destination in part.
    if (deleted == 0 &&
        MoveFileExW(FileApiPath(to).c_str(), FileApiPath(staging).c_str(), MOVEFILE_WRITE_THROUGH)) {
        RemoveCopy(staging);
        return MoveResult::Stayed;
    }
    return MoveResult::Split;
}

MoveResult SettleMoveAcrossVolumes(const std::string& from, const std::string& to) {
    RemoveCopy(StagingPathFor(to));
    if (!Exists(to)) return MoveResult::Stayed;
    int deleted = 0;
    DeleteCopied(from, to, deleted);
    return Exists(from) ? MoveResult::Split : MoveResult::Arrived;
}

}  // namespace plx

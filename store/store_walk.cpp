#include "store/store_walk.h"

#include <sddl.h>
#include <shlobj.h>

#include <optional>

#include "store/moves.h"
#include "store/store_lock.h"
#include "store/store_security.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// How long one open or rename in a walk with an administrator's rights may take. A user may hold an
// opportunistic lock on their own stored file (or folder) and never acknowledge its break, which would
// hold the open that breaks it, and with it the uninstall, for good.
constexpr DWORD kLongestOpenMs = 5000;
// How deep a walk goes into a tree that a user made; what lies deeper stays where it is (the setup's
// walks stop at the same depth).
constexpr size_t kDeepestWalk = 64;

// Cancels the synchronous call that the thread that made it runs within Bounded once it has taken
// longer than the limit: the call then fails (ERROR_OPERATION_ABORTED), and the walk goes on without
// that entry. CancelSynchronousIo cancels an open that waits for an oplock break, as any pending
// synchronous I/O of the thread; it is issued again until the call has returned, since the call may
// not have reached the file system at the first cancel.
class IoWatchdog {
public:
    explicit IoWatchdog(DWORD limitMs)
        : limitMs_(limitMs), target_(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId())) {
        InitializeCriticalSection(&lock_);
        armed_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        disarmed_.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
        if (target_ && armed_ && disarmed_) watcher_.reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
    }
    ~IoWatchdog() {
        if (watcher_) {
            stopping_ = true;
            SetEvent(armed_.get());
            WaitForSingleObject(watcher_.get(), INFINITE);
        }
        DeleteCriticalSection(&lock_);
    }
    IoWatchdog(const IoWatchdog&) = delete;
    IoWatchdog& operator=(const IoWatchdog&) = delete;

    template <typename Call>
    auto Bounded(Call call) {
        struct Disarm {
            IoWatchdog* dog;
            ~Disarm() {
                EnterCriticalSection(&dog->lock_);
                SetEvent(dog->disarmed_.get());
                LeaveCriticalSection(&dog->lock_);
            }
        };
        EnterCriticalSection(&lock_);
        started_ = GetTickCount64();
        expired_ = false;
        ResetEvent(disarmed_.get());
        LeaveCriticalSection(&lock_);
        SetEvent(armed_.get());
        Disarm disarm{this};
        return call();
    }

    // The last call took longer than the limit: whatever it returned came too late to be used.
    bool Expired() {
        EnterCriticalSection(&lock_);
        const bool expired = expired_;
        LeaveCriticalSection(&lock_);
        return expired;
    }

private:
    static DWORD WINAPI Watch(void* self) {
        IoWatchdog& dog = *static_cast<IoWatchdog*>(self);
        for (;;) {
            WaitForSingleObject(dog.armed_.get(), INFINITE);
            if (dog.stopping_) return 0;
            for (;;) {
                // Under the lock: a cancel never reaches a later call of the thread, and the time is
                // that of the call under way.
                EnterCriticalSection(&dog.lock_);
                const bool done = WaitForSingleObject(dog.disarmed_.get(), 0) == WAIT_OBJECT_0;
                DWORD wait = 0;
                if (!done) {
                    const ULONGLONG elapsed = GetTickCount64() - dog.started_;
                    if (elapsed >= dog.limitMs_) {
                        dog.expired_ = true;
                        CancelSynchronousIo(dog.target_.get());
                        wait = 50;
                    } else {
                        wait = static_cast<DWORD>(dog.limitMs_ - elapsed);
                    }
                }
                LeaveCriticalSection(&dog.lock_);
                if (done || WaitForSingleObject(dog.disarmed_.get(), wait) == WAIT_OBJECT_0) break;
            }
        }
    }

    const DWORD limitMs_;
    unique_handle target_;
    unique_handle armed_, disarmed_, watcher_;
    CRITICAL_SECTION lock_;
    ULONGLONG started_ = 0;
    bool expired_ = false;
    volatile bool stopping_ = false;
};

// One folder of a walk: held, listed once, and gone through entry by entry.
struct WalkFrame {
    unique_hfile handle;
    std::wstring path;
    std::wstring final;
    std::vector<FolderEntry> entries;
    size_t next = 0;
    bool remove = false;
    std::vector<std::wstring> keep;
};

// Empties the folder held by the handle from the bottom up, deleting files only when told to, and
// then removes it unless it is kept; whatever cannot go keeps its folder in place. keep: the chain of
// folders below this one that stay, even empty (the store's shared folders). Every entry is opened without
// following a reparse point and checked to be the entry that was listed, and removed through that
// handle; the folders above stay open without delete sharing meanwhile, so nothing swapped in while
// the walk runs can lead it out of the tree. A junction or symbolic link is neither followed nor
// removed, and the folder that holds it stays. The walk keeps its own stack, at most kDeepestWalk
// folders deep (users nest folders as deep as they like, and this may run as an administrator, whose
// uninstall must not end half-way), and every open is bounded in time.
void EmptyAndRemove(unique_hfile folder, const std::wstring& path, bool deleteFiles, bool remove,
                    const std::vector<std::wstring>& keep) {
    IoWatchdog watchdog(kLongestOpenMs);
    std::vector<WalkFrame> stack;
    const auto enter = [&](unique_hfile handle, const std::wstring& at, bool removeIt,
                           std::vector<std::wstring> keepBelow) {
        WalkFrame frame;
        frame.final = FinalPath(handle.get());
        frame.entries = ListFolder(handle.get());
        frame.handle = std::move(handle);
        frame.path = at;
        frame.remove = removeIt;
        frame.keep = std::move(keepBelow);
        stack.push_back(std::move(frame));
    };
    enter(std::move(folder), path, remove, keep);
    while (!stack.empty()) {
        WalkFrame& top = stack.back();
        if (top.next == top.entries.size()) {
            if (top.remove) DeleteByHandle(top.handle.get());
            // Closing the handle removes the folder; only then is its parent empty.
            stack.pop_back();
            continue;
        }
        const FolderEntry& entry = top.entries[top.next++];
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!directory && !deleteFiles) continue;
        if (directory && stack.size() >= kDeepestWalk) continue;
        const std::wstring child = top.path + L"\\" + entry.name;
        unique_hfile handle = watchdog.Bounded([&] {
            ReachedStep("opening in a walk");
            return OpenNoFollow(child, DELETE | (directory ? FILE_LIST_DIRECTORY : 0));
        });
        if (!handle || watchdog.Expired() || !IsEntryOf(handle.get(), top.final, entry.name, directory))
            continue;
        if (!directory) {
            DeleteByHandle(handle.get());
            continue;
        }
        const bool kept = !top.keep.empty() && CompareNoCaseOrdinal(entry.name, top.keep.front()) == 0;
        std::vector<std::wstring> keepBelow =
            kept ? std::vector<std::wstring>(top.keep.begin() + 1, top.keep.end())
                 : std::vector<std::wstring>();
        enter(std::move(handle), child, !kept, std::move(keepBelow));
    }
}

// The pieces of "\a\b c\" that end in a backslash: "a", "b c".
std::vector<std::wstring> Pieces(const std::wstring& chain) {
    std::vector<std::wstring> pieces;
    for (size_t begin = 0, end; (end = chain.find(L'\\', begin)) != std::wstring::npos; begin = end + 1)
        if (end > begin) pieces.push_back(chain.substr(begin, end - begin));
    return pieces;
}

// The folder itself, held: no reparse point, and a folder.
unique_hfile OpenFolderItself(const std::wstring& path, DWORD access) {
    unique_hfile handle = OpenNoFollow(path, access);
    DWORD attributes = 0;
    if (!handle || !AttributesOf(handle.get(), attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return unique_hfile();
    return handle;
}

// keepChain: shared folders below path that stay even when empty ("\Users\"); path itself goes when
// nothing is kept.
void RemoveDirectoryContents(const std::wstring& path, bool deleteFiles, const std::wstring& keepChain = {}) {
    std::wstring folder = path;
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (folder.empty()) return;
    unique_hfile handle = OpenFolderItself(folder, DELETE | FILE_LIST_DIRECTORY);
    if (!handle) return;
    const std::vector<std::wstring> keep = Pieces(keepChain);
    EmptyAndRemove(std::move(handle), folder, deleteFiles, keep.empty(), keep);
}

std::vector<BYTE> SidBytes(const std::wstring& text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &sid)) return {};
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    std::vector<BYTE> copy(bytes, bytes + GetLengthSid(sid));
    LocalFree(sid);
    return copy;
}

bool IsDrivePath(const std::wstring& path) {
    return path.size() > 3 && path[1] == L':' && path[2] == L'\\' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// Brings back what is stored in the desktop's mirror, item by item. This may run as an administrator
// or SYSTEM through folders that users control, so nothing is done by path: each item is opened
// without following a reparse point and checked to be the entry listed in the held mirror, renamed
// relative to the held desktop folder (never replacing, never to another volume), and its final path
// checked afterwards. A desktop folder turned into a junction after it was checked (setting one needs
// no more than the right to write attributes, which holding it does not stop) could still lead the
// rename elsewhere, where the redirection policy is missing: the item then goes back into the store,
// by the held mirror's handle. Whatever cannot come back stays in the store.
void ReturnToDesktop(const std::wstring& store, const DesktopFolder& desktop, IoWatchdog& watchdog) {
    if (!IsDrivePath(desktop.path)) return;
    // The store mirrors the desktop's folders without the drive letter.
    const std::wstring chain = desktop.path.substr(2) + L"\\";
    OwnerRule owners;
    std::vector<BYTE> owner = desktop.ownerSid;
    if (!owner.empty() && IsValidSid(owner.data())) owners.alsoTrusted = owner.data();
    HeldFolders stored;
    if (watchdog.Bounded([&] {
            return stored.Hold(store, chain, false, DELETE | FILE_LIST_DIRECTORY, owners);
        }) != StoreFolderCheck::Held ||
        watchdog.Expired())
        return;
    // The desktop's own folders belong to their users, whoever owns them; none may be a reparse point.
    HeldFolders onDesktop;
    if (watchdog.Bounded([&] {
            return onDesktop.Hold(desktop.path.substr(0, 3), chain.substr(1), false, 0, OwnerRule{false});
        }) != StoreFolderCheck::Held ||
        watchdog.Expired())
        return;
    const std::wstring storedFinal = FinalPath(stored.Last());
    const std::wstring desktopFinal = FinalPath(onDesktop.Last());
    if (storedFinal.empty() || desktopFinal.empty()) return;
    for (const FolderEntry& entry : ListFolder(stored.Last())) {
        ReachedStep("returning stored item");
        // A partial copy of an interrupted move between volumes is no item: the owner's own sweep
        // settles it.
        if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsStagingPath(ToUtf8(entry.name))) continue;
        const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        unique_hfile item = watchdog.Bounded([&] {
            ReachedStep("opening stored item");
            return OpenNoFollow(stored.LastPath() + L"\\" + entry.name, DELETE);
        });
        if (!item || watchdog.Expired() || !IsEntryOf(item.get(), storedFinal, entry.name, directory))
            continue;
        if (!watchdog.Bounded([&] { return RenameInto(item.get(), onDesktop.Last(), entry.name); })) continue;
        if (CompareNoCaseOrdinal(FinalPath(item.get()), desktopFinal + L"\\" + entry.name) != 0)
            watchdog.Bounded([&] { return RenameInto(item.get(), stored.Last(), entry.name); });
    }
    stored.RemoveEmptyBelowBase();
}

// Once the store holds nothing but its shared folders (the mirror of the profiles folder, which the
// setup made for all users), they go, and the store with them. While anything else is left they
// stay: users may create folders in the store, and would otherwise own the shared ones next.
void RemoveStoreIfOnlySharedLeft(const std::wstring& store) {
    std::wstring path = store;
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    const std::vector<std::wstring> pieces = Pieces(SharedStoreChain());
    std::vector<unique_hfile> held;
    held.push_back(OpenFolderItself(path, DELETE | FILE_LIST_DIRECTORY));
    if (!held.back()) return;
    for (size_t i = 0;; ++i) {
        const std::vector<FolderEntry> entries = ListFolder(held.back().get());
        if (i == pieces.size() || entries.empty()) {
            if (!entries.empty()) return;
            break;
        }
        if (entries.size() != 1 || CompareNoCaseOrdinal(entries[0].name, pieces[i]) != 0) return;
        const std::wstring parentFinal = FinalPath(held.back().get());
        path += L"\\" + pieces[i];
        unique_hfile next = OpenNoFollow(path, DELETE | FILE_LIST_DIRECTORY);
        if (!next || !IsEntryOf(next.get(), parentFinal, entries[0].name, true)) return;
        held.push_back(std::move(next));
    }
    // Deepest first: a folder goes when its handle closes, and only then is its parent empty.
    while (!held.empty() && DeleteByHandle(held.back().get())) held.pop_back();
}

// The store's own folders on the way to each desktop's mirror, the mirror first, each removed only when
// empty and held as a move holds them (the desktop's owner may own them). The deepest folder of a chain
// that is there is where it starts: a mirror that went leaves its parents. Nothing is walked into: an
// empty folder inside a mirror is a stored item.
void RemoveEmptyChains(std::wstring store, const std::vector<DesktopFolder>& desktops) {
    while (store.size() > 3 && store.back() == L'\\') store.pop_back();
    for (const DesktopFolder& desktop : desktops) {
        if (!IsDrivePath(desktop.path)) continue;
        OwnerRule owners;
        if (!desktop.ownerSid.empty() && IsValidSid(const_cast<BYTE*>(desktop.ownerSid.data())))
            owners.alsoTrusted = const_cast<BYTE*>(desktop.ownerSid.data());
        const std::vector<std::wstring> pieces = Pieces(desktop.path.substr(2) + L"\\");
        for (size_t length = pieces.size(); length > 0; --length) {
            std::wstring chain = L"\\";
            for (size_t i = 0; i < length; ++i) chain += pieces[i] + L"\\";
            HeldFolders held;
            const StoreFolderCheck check =
                held.Hold(store, chain, false, DELETE | FILE_LIST_DIRECTORY, owners);
            if (check == StoreFolderCheck::Missing) continue;
            if (check == StoreFolderCheck::Held) held.RemoveEmptyBelowBase();
            break;
        }
    }
    RemoveStoreIfOnlySharedLeft(store);
}

}  // namespace

void RemoveDirectoryTree(const std::string& path) { RemoveDirectoryContents(ToWide(path), true); }

void RemoveEmptyDirectories(const std::string& store, const std::vector<std::wstring>& desktopFolders) {
    std::vector<DesktopFolder> desktops;
    for (const std::wstring& folder : desktopFolders) desktops.push_back({folder, {}});
    RemoveEmptyChains(ToWide(store), desktops);
}

std::vector<DesktopFolder> MachineDesktopFolders() {
    std::vector<DesktopFolder> desktops;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_READ, &raw) == ERROR_SUCCESS) {
        unique_hkey profiles(raw);
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD length = ARRAYSIZE(name);
            if (RegEnumKeyExW(profiles.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            wchar_t profile[MAX_PATH] = {};
            DWORD size = sizeof(profile);
            if (RegGetValueW(profiles.get(), name, L"ProfileImagePath", RRF_RT_REG_SZ, nullptr, profile,
                             &size) != ERROR_SUCCESS)
                continue;
            std::vector<BYTE> sid = SidBytes(name);
            if (!sid.empty()) desktops.push_back({std::wstring(profile) + L"\\Desktop", std::move(sid)});
        }
    }
    // The desktop of the user who runs this, where it was moved away from the profile's folder.
    wchar_t own[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, own))) {
        bool listed = false;
        for (const DesktopFolder& desktop : desktops)
            listed = listed || CompareNoCaseOrdinal(desktop.path, own) == 0;
        if (!listed) desktops.push_back({own, {}});
    }
    wchar_t common[MAX_PATH] = {};
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, common)))
        desktops.push_back({common, {}});
    return desktops;
}

bool ReturnStoredItems(const std::wstring& store, const std::vector<DesktopFolder>& desktops,
                       std::vector<std::wstring>* leftFor) {
    if (store.empty()) return true;
    // Before anything is walked: from here on this process follows no junction or symbolic link that
    // a user without administrator's rights made, where the system knows the policy.
    RefuseUserRedirection();
    IoWatchdog watchdog(kLongestOpenMs);
    bool all = true;
    for (const DesktopFolder& desktop : desktops) {
        // Each owner's lock only around that owner's return: a user who holds their own lock (which
        // they may, as long as they like), or who made an object of that name for another user's SID,
        // keeps only the items of that desktop in the store. Only one lock is held at a time, so no
        // order of taking them can deadlock with another uninstall.
        std::wstring sid;
        if (!desktop.ownerSid.empty()) {
            LPWSTR text = nullptr;
            if (IsValidSid(const_cast<BYTE*>(desktop.ownerSid.data())) &&
                ConvertSidToStringSidW(const_cast<BYTE*>(desktop.ownerSid.data()), &text)) {
                unique_hlocal owned(text);
                sid = text;
            }
        }
        std::optional<StoreLock> lock;
        if (desktop.ownerSid.empty() || !sid.empty()) lock.emplace(sid);
        if (!lock || !lock->Held()) {
            all = false;
            if (leftFor) leftFor->push_back(desktop.path);
            continue;
        }
        ReturnToDesktop(store, desktop, watchdog);
    }
    // What is left stays, with the folders that lead to it; nothing in a mirror is taken for a leftover.
    RemoveEmptyChains(store, desktops);
    return all;
}

}  // namespace plx

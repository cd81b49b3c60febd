#include "store/store_setup.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "store/catalogue.h"
#include "store/store_security.h"
#include "win32/long_path.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// The owner that Windows Resource Protection gives the system's own folders.
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3425019274-1844829596-88849432-2271166216";

// Rights on a folder that let their holder change where a path through it leads: delete what it holds,
// change its rules or owner (and the generic right that includes them); on a folder below a drive's
// root also delete it, add folders to it (and the generic writing right); on the install folder also
// add files (a library beside the module).
constexpr ACCESS_MASK kTurnsRoot = GENERIC_ALL | WRITE_OWNER | WRITE_DAC | FILE_DELETE_CHILD;
constexpr ACCESS_MASK kTurnsFolderAbove = kTurnsRoot | GENERIC_WRITE | DELETE | FILE_ADD_SUBDIRECTORY;
constexpr ACCESS_MASK kTurnsInstallFolder = kTurnsFolderAbove | FILE_ADD_FILE;
// The folder above the store (the program data folder) lets users add folders of their own; nobody
// but administrators may delete it or what it holds, or change its rules or owner.
constexpr ACCESS_MASK kTurnsFolderHoldingStore = kTurnsRoot | DELETE;

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return {};
    unique_hlocal owned(text);
    return text;
}

std::wstring CurrentUserSid() {
    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    const unique_handle token(raw);
    std::vector<BYTE> buffer(256);
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()),
                             &size)) {
        buffer.resize(size);
        if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    }
    return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

// SYSTEM, Administrators, TrustedInstaller, or the user who runs this: an administrator (Windows does
// not hold the line between an administrator's elevated and other processes as a security boundary,
// and Wine gives every file that user's SID).
bool IsTrusted(PSID sid) {
    if (!sid) return false;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return true;
    const std::wstring text = SidText(sid);
    return !text.empty() && (text == kTrustedInstallerSid || text == CurrentUserSid());
}

// True when the folder belongs to a trusted owner and its rules give nobody else any of rights. A
// denial is not weighed against an allowance, and an entry of another kind counts as an allowance.
bool ClosedToOthers(HANDLE folder, ACCESS_MASK rights) {
    OwnerAndList read;
    if (!ReadOwnerAndList(folder, read) || !IsTrusted(read.owner) || !read.dacl) return false;
    const PACL dacl = read.dacl;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        // An entry only for what is made inside grants nothing here.
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & rights) && !IsTrusted(const_cast<DWORD*>(&allowed->SidStart))) return false;
    }
    return true;
}

SetupStep Refused(std::wstring reason) { return {false, std::move(reason)}; }

std::wstring ErrorText(DWORD error) { return L" (error " + std::to_wstring(error) + L")"; }

std::wstring WithoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

// The pieces of "a\b c\d": "a", "b c", "d".
std::vector<std::wstring> Pieces(const std::wstring& path) {
    std::vector<std::wstring> pieces;
    size_t begin = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') continue;
        if (i > begin) pieces.push_back(path.substr(begin, i - begin));
        begin = i + 1;
    }
    return pieces;
}

// Each folder from the drive's root to folder that exists, as CheckInstallPath describes; the last one
// (folder itself) must not give others lastRights.
SetupStep CheckPath(const std::wstring& folder, ACCESS_MASK lastRights) {
    const std::wstring path = WithoutTrailingBackslash(folder);
    if (path.size() < 4 || path[1] != L':' || path[2] != L'\\')
        return Refused(path + L" cannot be used: choose a folder on a drive of this computer, not its root.");
    std::wstring at = path.substr(0, 3);
    unique_hfile handle = OpenNoFollow(at, 0);
    if (!handle || !ClosedToOthers(handle.get(), kTurnsRoot))
        return Refused(L"Users other than administrators can change " + at + L", the drive of " + path +
                       L".");
    std::wstring parentFinal = FinalPath(handle.get());
    const std::vector<std::wstring> pieces = Pieces(path.substr(3));
    for (size_t i = 0; i < pieces.size(); ++i) {
        at = Joined(at, pieces[i]);
        const bool last = i + 1 == pieces.size();
        handle = OpenNoFollow(at, 0);
        if (!handle) {
            const DWORD error = GetLastError();
            // The rest of the way is made by the installer, below a folder that only administrators change.
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
            return Refused(at + L" cannot be opened" + ErrorText(error) + L".");
        }
        if (!IsEntryOf(handle.get(), parentFinal, pieces[i], true) ||
            !ClosedToOthers(handle.get(), last ? lastRights : kTurnsFolderAbove)) {
            if (last)
                return Refused(path +
                               L" is a link, or users other than administrators can change it (add files "
                               L"or folders, delete it or what it holds, change its rights or owner).");
            return Refused(at + L", a folder above " + path +
                           L", is a link, or users other than administrators can change it (delete or add "
                           L"folders, change its rights or owner).");
        }
        parentFinal = FinalPath(handle.get());
    }
    return {};
}

// The installer's backup and restore privileges while it lives: through a handle opened with backup
// semantics a folder then grants reading and changing its rules and owner whatever its list says, so
// that a folder a user made can be taken back; any SID may become its owner.
class BackupPrivileges {
public:
    BackupPrivileges() {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
        token_.reset(raw);
        struct {
            DWORD count;
            LUID_AND_ATTRIBUTES privileges[2];
        } wanted = {2, {}};
        LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &wanted.privileges[0].Luid);
        LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &wanted.privileges[1].Luid);
        wanted.privileges[0].Attributes = wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD size = sizeof(previous_);
        if (!AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                                   sizeof(previous_), reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), &size))
            token_.reset();
    }
    ~BackupPrivileges() {
        if (token_)
            AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), 0,
                                  nullptr, nullptr);
    }
    BackupPrivileges(const BackupPrivileges&) = delete;
    BackupPrivileges& operator=(const BackupPrivileges&) = delete;

private:
    unique_handle token_;
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[2];
    } previous_ = {};
};

// Makes the folder with the rules in the same call, so that nobody ever holds it open with rights the
// rules do not give. 0 when made, else the error (ERROR_ALREADY_EXISTS when it is there).
DWORD MakeFolder(const std::wstring& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw, nullptr))
        return GetLastError();
    const unique_hlocal descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
    return CreateDirectoryW(FileApiPath(path).c_str(), &attributes) ? 0 : GetLastError();
}

// True when the folder, or a folder below it, holds anything but folders: a file, a link, or what
// cannot be looked into. The store's shared folders hold nothing by themselves.
bool HoldsItems(HANDLE folder, const std::wstring& path) {
    for (const FolderEntry& entry : ListFolder(folder)) {
        if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
        const unique_hfile inner =
            OpenNoFollow(Joined(path, entry.name), FILE_LIST_DIRECTORY | FILE_TRAVERSE);
        if (!inner || !IsEntryOf(inner.get(), FinalPath(folder), entry.name, true) ||
            HoldsItems(inner.get(), Joined(path, entry.name)))
            return true;
    }
    return false;
}

// Deletes a tree of empty folders (HoldsItems false), each through its own handle: the folder goes
// once its handle closes.
bool DeleteEmptyTree(HANDLE folder, const std::wstring& path) {
    for (const FolderEntry& entry : ListFolder(folder)) {
        const unique_hfile inner =
            OpenNoFollow(Joined(path, entry.name), DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE);
        if (!inner || !IsEntryOf(inner.get(), FinalPath(folder), entry.name, true) ||
            !DeleteEmptyTree(inner.get(), Joined(path, entry.name)))
            return false;
    }
    return DeleteByHandle(folder);
}

// The folders made and held by one PrepareStore; what it made goes again unless it is kept.
class StoreChain {
public:
    ~StoreChain() {
        if (kept_) return;
        held_.clear();
        for (auto made = made_.rbegin(); made != made_.rend(); ++made)
            RemoveDirectoryW(FileApiPath(*made).c_str());
    }
    void Hold(unique_hfile folder, const std::wstring& path, bool made) {
        final_ = FinalPath(folder.get());
        held_.push_back(std::move(folder));
        path_ = path;
        if (made) made_.push_back(path);
    }
    HANDLE Last() const { return held_.back().get(); }
    const std::wstring& LastFinal() const { return final_; }
    const std::wstring& LastPath() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::vector<unique_hfile> held_;
    std::vector<std::wstring> made_;
    std::wstring final_;
    std::wstring path_;
    bool kept_ = false;
};

// A folder between the folder above and the store: made with the install folder's rules, or checked.
SetupStep PutFolderAbove(StoreChain& chain, const std::wstring& name) {
    const std::wstring path = Joined(chain.LastPath(), name);
    const DWORD made = MakeFolder(path, kInstallFolderSddl);
    if (made != 0 && made != ERROR_ALREADY_EXISTS)
        return Refused(L"The folder " + path + L" could not be made" + ErrorText(made) + L".");
    unique_hfile folder = OpenNoFollow(path, FILE_TRAVERSE);
    if (!folder)
        return Refused(L"The folder " + path + L" could not be opened" + ErrorText(GetLastError()) + L".");
    if (!IsEntryOf(folder.get(), chain.LastFinal(), name, true) ||
        !ClosedToOthers(folder.get(), kTurnsFolderAbove))
        return Refused(path +
                       L" is a link or a file, or users other than administrators can change it: the folder "
                       L"for hidden desktop items cannot be made below it. An administrator can delete it.");
    chain.Hold(std::move(folder), path, made == 0);
    return {};
}

// The store or a shared folder in it: made with the store's rules, or given them again: its owner and
// protected list, set on the folder alone through the held handle (SetKernelObjectSecurity carries
// nothing on to what the folder holds, so stored items keep their own descriptors). Its final path is
// compared before and after.
SetupStep PutStoreFolder(StoreChain& chain, const std::wstring& name) {
    const std::wstring path = Joined(chain.LastPath(), name);
    const DWORD made = MakeFolder(path, kStoreFolderSddl);
    if (made != 0 && made != ERROR_ALREADY_EXISTS)
        return Refused(L"The folder " + path + L" for hidden desktop items could not be made" +
                       ErrorText(made) + L".");
    unique_hfile folder = OpenNoFollow(path, WRITE_DAC | WRITE_OWNER | FILE_TRAVERSE);
    if (!folder)
        return Refused(L"The folder " + path + L" for hidden desktop items could not be opened" +
                       ErrorText(GetLastError()) + L".");
    const std::wstring notAFolder =
        path + L" is a file or a link: the folder for hidden desktop items cannot be made there.";
    if (!IsEntryOf(folder.get(), chain.LastFinal(), name, true)) return Refused(notAFolder);
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kStoreFolderSddl, SDDL_REVISION_1, &raw,
                                                              nullptr))
        return Refused(L"The access rules of " + path + L" could not be made" + ErrorText(GetLastError()) +
                       L".");
    const unique_hlocal descriptor(raw);
    if (!SetKernelObjectSecurity(
            folder.get(),
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
            raw))
        return Refused(L"The access rules of " + path +
                       L", the folder for hidden desktop items, could not be set" +
                       ErrorText(GetLastError()) + L".");
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR readBack = nullptr;
    const DWORD read = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                       nullptr, nullptr, nullptr, &readBack);
    const unique_hlocal readDescriptor(readBack);
    if (read != ERROR_SUCCESS || !IsTrusted(owner))
        return Refused(
            path +
            L", a folder for hidden desktop items, belongs to another user and could not be taken back.");
    if (!IsEntryOf(folder.get(), chain.LastFinal(), name, true)) return Refused(notAFolder);
    chain.Hold(std::move(folder), path, made == 0);
    return {};
}

// The store of an earlier version, moved whole to the store's place below the held folder; or, when
// one of the two holds no item, that one goes.
SetupStep MoveEarlierStore(StoreChain& chain, const std::wstring& name, const std::wstring& earlierStore,
                           bool& moved) {
    const std::wstring earlier = WithoutTrailingBackslash(earlierStore);
    const size_t slash = earlier.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < 2) return {};
    const unique_hfile earlierParent = OpenNoFollow(earlier.substr(0, slash + (slash == 2)), FILE_TRAVERSE);
    unique_hfile old = OpenNoFollow(earlier, DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE);
    if (!earlierParent || !old) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
        return Refused(L"The earlier folder of hidden desktop items, " + earlier + L", could not be opened" +
                       ErrorText(error) + L".");
    }
    if (!IsEntryOf(old.get(), FinalPath(earlierParent.get()), earlier.substr(slash + 1), true))
        return Refused(earlier + L", the earlier folder of hidden desktop items, is a file or a link.");
    const std::wstring path = Joined(chain.LastPath(), name);
    if (CompareNoCaseOrdinal(FinalPath(old.get()), Joined(chain.LastFinal(), name)) == 0) return {};
    // Nothing to move: the earlier store's empty folders go, as they would let users make folders there.
    if (!HoldsItems(old.get(), earlier)) {
        if (!DeleteEmptyTree(old.get(), earlier))
            return Refused(L"The empty earlier folder of hidden desktop items, " + earlier +
                           L", could not be removed.");
        return {};
    }
    unique_hfile current = OpenNoFollow(path, DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE);
    if (current) {
        if (!IsEntryOf(current.get(), chain.LastFinal(), name, true))
            return Refused(
                path + L" is a file or a link: the folder for hidden desktop items cannot be made there.");
        if (HoldsItems(current.get(), path))
            return Refused(L"Hidden desktop items are kept both in " + earlier + L" and in " + path +
                           L": bring them back (or move them into " + path + L") first.");
        if (!DeleteEmptyTree(current.get(), path))
            return Refused(L"The empty folder " + path + L" could not be removed" +
                           ErrorText(GetLastError()) + L".");
        current.reset();  // the folder goes as its handle closes
    }
    // One rename, through the handles: the items, their folders and their rules move as they are. Onto
    // another drive nothing moves (no copy of another user's items is ever made with these rights).
    if (!RenameInto(old.get(), chain.Last(), name))
        return Refused(L"The hidden desktop items in " + earlier + L" could not be moved to " + path +
                       L" (another drive?): bring them back with the installed version first.");
    moved = true;
    return {};
}

std::wstring ParentOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

void RemoveEmptyStore(const std::wstring& store) {
    std::vector<std::wstring> folders = {WithoutTrailingBackslash(store)};
    for (const std::wstring& piece : Pieces(SharedStoreChain()))
        folders.push_back(Joined(folders.back(), piece));
    const std::wstring machineChain = ToWide(kMachineStoreChain);
    if (folders[0].size() > machineChain.size() &&
        CompareNoCaseOrdinal(folders[0].substr(folders[0].size() - machineChain.size()), machineChain) == 0) {
        folders.insert(folders.begin(), ParentOf(folders[0]));
        folders.insert(folders.begin(), ParentOf(folders[0]));
    }
    // Only an empty folder goes; a link goes as itself, never what it leads to.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        RemoveDirectoryW(FileApiPath(*folder).c_str());
}

SetupStep CheckInstallPath(const std::wstring& installFolder) {
    return CheckPath(installFolder, kTurnsInstallFolder);
}

SetupStep PrepareStore(const std::wstring& store, const std::wstring& above,
                       const std::wstring& earlierStore) {
    const std::wstring top = WithoutTrailingBackslash(above), path = WithoutTrailingBackslash(store);
    if (path.size() <= top.size() + 1 || path[top.size()] != L'\\' ||
        CompareNoCaseOrdinal(path.substr(0, top.size()), top) != 0)
        return Refused(path + L" is not below " + top + L".");
    SetupStep step = CheckPath(top, kTurnsFolderHoldingStore);
    if (!step.done) return step;
    const BackupPrivileges privileges;
    StoreChain chain;
    unique_hfile folder = OpenNoFollow(top, FILE_TRAVERSE);
    if (!folder)
        return Refused(L"The folder " + top + L" could not be opened" + ErrorText(GetLastError()) + L".");
    chain.Hold(std::move(folder), top, false);
    const std::vector<std::wstring> between = Pieces(path.substr(top.size()));
    for (size_t i = 0; i + 1 < between.size(); ++i) {
        step = PutFolderAbove(chain, between[i]);
        if (!step.done) return step;
    }
    bool moved = false;
    if (!earlierStore.empty()) {
        step = MoveEarlierStore(chain, between.back(), earlierStore, moved);
        if (!step.done) return step;
    }
    // The store, then the mirror of the profiles folder, one folder at a time.
    step = PutStoreFolder(chain, between.back());
    for (const std::wstring& piece : Pieces(SharedStoreChain())) {
        if (!step.done) return step;
        step = PutStoreFolder(chain, piece);
    }
    if (step.done) chain.Keep();
    step.movedEarlierStore = moved;
    return step;
}

SetupStep ReturnStoreToEarlierPlace(const std::wstring& store, const std::wstring& earlierStore) {
    const std::wstring path = WithoutTrailingBackslash(store),
                       earlier = WithoutTrailingBackslash(earlierStore);
    const std::wstring parent = ParentOf(path), earlierParent = ParentOf(earlier);
    const BackupPrivileges privileges;
    const unique_hfile from = OpenNoFollow(parent, FILE_TRAVERSE);
    const unique_hfile to = OpenNoFollow(earlierParent, FILE_TRAVERSE);
    const unique_hfile moving = OpenNoFollow(path, DELETE | FILE_TRAVERSE);
    if (!from || !to || !moving ||
        !IsEntryOf(moving.get(), FinalPath(from.get()), path.substr(parent.size() + 1), true))
        return Refused(L"The folder of hidden desktop items, " + path + L", could not be opened.");
    if (!RenameInto(moving.get(), to.get(), earlier.substr(earlierParent.size() + 1)))
        return Refused(L"The folder of hidden desktop items, " + path + L", could not be moved back to " +
                       earlier + L".");
    return {};
}

}  // namespace plx

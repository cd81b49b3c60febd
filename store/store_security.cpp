#include "store/store_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "win32/long_path.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// The token the thread acts with: the one it impersonates, else the process's.
unique_handle EffectiveToken() {
    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return unique_handle();
    return unique_handle(raw);
}

bool IsAdministratorOrSystem(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// The SID of the user this thread acts for: the impersonated one, else the process's.
class CurrentUser {
public:
    CurrentUser() {
        const unique_handle token = EffectiveToken();
        if (!token) return;
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        buffer_.resize(size);
        if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer_.data(), size, &size))
            buffer_.clear();
    }
    PSID Sid() const {
        return buffer_.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(buffer_.data())->User.Sid;
    }

private:
    std::vector<BYTE> buffer_;
};

bool OwnedByTrusted(HANDLE handle, PSID alsoTrusted) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &raw) != ERROR_SUCCESS)
        return false;
    unique_hlocal descriptor(raw);
    if (!owner) return false;
    if (IsAdministratorOrSystem(owner)) return true;
    if (alsoTrusted && EqualSid(owner, alsoTrusted)) return true;
    const CurrentUser user;
    return user.Sid() && EqualSid(owner, user.Sid());
}

// What lets a holder change a folder or what is in it: write data (add a file), append (add a
// folder), write attributes or extended attributes (a reparse point needs no more), delete, delete a
// child, change the list or the owner, and the generic rights that include them.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                        WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// True when the folder's access list lets nobody but its owner, SYSTEM and Administrators change or
// delete anything, and takes no entry from the folders above: a user folder made by CreateOwnFolder.
// The user who runs this and alsoTrusted may hold rights too: a folder made by an elevated process
// is owned by Administrators and lists its user beside them.
// The list must be protected, or else hold no inherited entry (a list that is not protected takes the
// parent's inheritable entries, each marked inherited). Wine keeps no lists: it makes one up from the
// Unix permission bits, never protected and with no inherited entry, so only the second form holds
// there, and a folder that others may write reads back with a writing entry for Everyone.
bool KeptToItsOwner(HANDLE folder, PSID alsoTrusted) {
    OwnerAndList read;
    if (!ReadOwnerAndList(folder, read)) return false;
    const PSID owner = read.owner;
    const PACL dacl = read.dacl;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    // No list at all lets everybody do everything.
    if (!owner || !dacl || !GetSecurityDescriptorControl(read.descriptor.get(), &control, &revision))
        return false;
    const bool isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (!isProtected && (header->AceFlags & INHERITED_ACE)) return false;
        switch (header->AceType) {
            case ACCESS_DENIED_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_ACE_TYPE:
            case ACCESS_DENIED_OBJECT_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
                continue;  // a denial only takes rights away
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
                // Both lay out the mask and then the SID.
                const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
                if (!(allowed->Mask & kChangingRights)) continue;
                const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
                if (EqualSid(sid, owner) || IsAdministratorOrSystem(sid)) continue;
                if (alsoTrusted && EqualSid(sid, alsoTrusted)) continue;
                const CurrentUser user;
                if (user.Sid() && EqualSid(sid, user.Sid())) continue;
                return false;
            }
            default:
                return false;  // an entry a file system folder should not carry: not one of ours
        }
    }
    return true;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    std::wstring path = folder;
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path + L"\\" + name;
}

// The pieces of "\a\b c\d\" that end in a backslash: "a", "b c", "d".
std::vector<std::wstring> ChainPieces(const std::wstring& chain) {
    std::vector<std::wstring> pieces;
    size_t begin = 0;
    for (size_t i = 0; i < chain.size(); ++i) {
        if (chain[i] != L'\\') continue;
        if (i > begin) pieces.push_back(chain.substr(begin, i - begin));
        begin = i + 1;
    }
    return pieces;
}

}  // namespace

std::wstring SharedStoreChain() {
    // The profiles folder does not move while the system runs.
    static const std::wstring chain = [] {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                          0, KEY_READ | KEY_WOW64_64KEY, &raw) != ERROR_SUCCESS)
            return std::wstring();
        unique_hkey list(raw);
        wchar_t folder[MAX_PATH] = {};
        DWORD size = sizeof(folder);
        // Asked for as REG_SZ, RegGetValueW expands the REG_EXPAND_SZ ("%SystemDrive%\Users").
        if (RegGetValueW(list.get(), nullptr, L"ProfilesDirectory", RRF_RT_REG_SZ, nullptr, folder, &size) !=
            ERROR_SUCCESS)
            return std::wstring();
        std::wstring path = folder;
        while (path.size() > 3 && path.back() == L'\\') path.pop_back();
        if (path.size() <= 3 || path[1] != L':' || path[2] != L'\\') return std::wstring();
        return path.substr(2) + L"\\";
    }();
    return chain;
}

bool ActsAsAdministrator() {
    const unique_handle token = EffectiveToken();
    if (!token) return false;
    const CurrentUser user;
    if (user.Sid() && IsWellKnownSid(user.Sid(), WinLocalSystemSid)) return true;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size))
        return elevation.TokenIsElevated != 0;
    // Before Windows Vista there is no elevation: a member of Administrators has all its rights.
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    BOOL member = FALSE;
    HANDLE duplicate = nullptr;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) return true;
    if (!DuplicateToken(token.get(), SecurityIdentification, &duplicate)) return true;
    const unique_handle identification(duplicate);
    return !CheckTokenMembership(identification.get(), sid, &member) || member;
}

bool RefuseUserRedirection() {
    // Not in every SDK's headers: ProcessRedirectionTrustPolicy and its EnforceRedirectionTrust bit.
    constexpr int kProcessRedirectionTrustPolicy = 16;
    constexpr DWORD kEnforceRedirectionTrust = 0x1;
    using SetPolicy = BOOL(WINAPI*)(int policy, PVOID buffer, SIZE_T length);
    const auto set = reinterpret_cast<SetPolicy>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy")));
    DWORD flags = kEnforceRedirectionTrust;
    // Systems before this policy refuse it (ERROR_INVALID_PARAMETER): they then go without.
    return set && set(kProcessRedirectionTrustPolicy, &flags, sizeof(flags));
}

std::wstring OwnFolderSddl() {
    const CurrentUser user;
    LPWSTR sid = nullptr;
    if (!user.Sid() || !ConvertSidToStringSidW(user.Sid(), &sid)) return {};
    unique_hlocal text(sid);
    // Full control for the user, SYSTEM and Administrators, inherited by what is created inside;
    // protected, so that the store's own entries for users never reach a user's folder.
    return L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
}

bool CreateOwnFolder(const std::wstring& path) {
    const std::wstring sddl = OwnFolderSddl();
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (sddl.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &raw, nullptr))
        return false;
    unique_hlocal descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
    return CreateDirectoryW(FileApiPath(path).c_str(), &attributes) != FALSE;
}

unique_hfile OpenNoFollow(const std::wstring& path, DWORD access) {
    return unique_hfile(CreateFileW(FileApiPath(path).c_str(),
                                    READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE | access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool ReadOwnerAndList(HANDLE handle, OwnerAndList& read) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &read.owner, nullptr, &read.dacl, nullptr, &raw) != ERROR_SUCCESS)
        return false;
    read.descriptor.reset(raw);
    return true;
}

bool AttributesOf(HANDLE handle, DWORD& attributes) {
    FILE_BASIC_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof(info))) return false;
    attributes = info.FileAttributes;
    return true;
}

std::wstring FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length + 1);
    }
}

bool IsEntryOf(HANDLE handle, const std::wstring& parentFinal, const std::wstring& name, bool directory) {
    DWORD attributes = 0;
    if (!AttributesOf(handle, attributes)) return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    if (((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != directory) return false;
    // Opened without following, the handle is the entry itself and its path is its parent's and its
    // name. Wine follows a symbolic link even then and reports no reparse point, but the final path
    // names the link's target, so the comparison refuses it there too.
    const std::wstring final = FinalPath(handle);
    return !final.empty() && !parentFinal.empty() && CompareNoCaseOrdinal(final, Joined(parentFinal, name)) == 0;
}

std::vector<FolderEntry> ListFolder(HANDLE folder) {
    std::vector<FolderEntry> entries;
    // FILE_ID_BOTH_DIR_INFO holds LONGLONG fields: the buffer must be aligned for them.
    std::vector<LONGLONG> buffer(8192);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
        kind = FileIdBothDirectoryInfo;
        const BYTE* at = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(WCHAR));
            if (name != L"." && name != L"..") entries.push_back({std::move(name), info->FileAttributes});
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
    }
    return entries;
}

bool DeleteByHandle(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) !=
           FALSE;
}

bool RenameInto(HANDLE handle, HANDLE folder, const std::wstring& name) {
    // FILE_RENAME_INFORMATION as the system's own rename takes it: a name relative to RootDirectory.
    // SetFileInformationByHandle(FileRenameInfo) hands the same to NtSetInformationFile on Windows;
    // Wine 8's rewrites the name into a full path first and then refuses the root, so the call is made
    // here directly.
    struct RenameInformation {
        BOOLEAN ReplaceIfExists;
        HANDLE RootDirectory;
        ULONG FileNameLength;
        WCHAR FileName[1];
    };
    struct IoStatus {
        union {
            LONG Status;
            PVOID Pointer;
        };
        ULONG_PTR Information;
    };
    using SetInformationFile = LONG(NTAPI*)(HANDLE, IoStatus*, PVOID, ULONG, int);
    constexpr int kFileRenameInformation = 10;
    static const auto set = reinterpret_cast<SetInformationFile>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    if (!set || name.empty() || name.find(L'\\') != std::wstring::npos) return false;
    const size_t bytes = offsetof(RenameInformation, FileName) + name.size() * sizeof(WCHAR);
    std::vector<LONGLONG> buffer(bytes / sizeof(LONGLONG) + 1);  // aligned for the handle
    auto* info = reinterpret_cast<RenameInformation*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(WCHAR));
    memcpy(info->FileName, name.data(), info->FileNameLength);
    IoStatus status = {};
    return set(handle, &status, info, static_cast<ULONG>(bytes), kFileRenameInformation) >= 0;
}

StoreFolderCheck HeldFolders::Hold(const std::wstring& base, const std::wstring& chain, bool create,
                                   DWORD access, OwnerRule owners) {
    folders_.clear();
    shared_ = 0;
    path_ = base;
    while (path_.size() > 3 && path_.back() == L'\\') path_.pop_back();
    // A share mode binds others only while the handle has data access (reading, executing, writing)
    // or delete access: one that reads just attributes and the access list holds nothing (Windows and
    // Wine alike). Traversing is that access for a folder, and every user may pass through the store.
    access |= FILE_TRAVERSE;
    unique_hfile folder = OpenNoFollow(path_, access);
    if (!folder) return StoreFolderCheck::Missing;
    DWORD attributes = 0;
    if (!AttributesOf(folder.get(), attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return StoreFolderCheck::Refused;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return StoreFolderCheck::Missing;
    if (owners.checked && !OwnedByTrusted(folder.get(), owners.alsoTrusted)) return StoreFolderCheck::Refused;
    std::wstring final = FinalPath(folder.get());
    folders_.push_back(std::move(folder));
    shared_ = 1;

    const std::vector<std::wstring> pieces = ChainPieces(chain);
    // The store's shared folders lead the chain: the base, then the mirror of the profiles folder.
    const std::vector<std::wstring> sharedPieces = ChainPieces(SharedStoreChain());
    bool inShared = true;
    for (size_t i = 0; i < pieces.size(); ++i) {
        inShared =
            inShared && i < sharedPieces.size() && CompareNoCaseOrdinal(pieces[i], sharedPieces[i]) == 0;
        const std::wstring path = Joined(path_, pieces[i]);
        folder = OpenNoFollow(path, access);
        if (!folder) {
            const DWORD error = GetLastError();
            if (!create || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND))
                return StoreFolderCheck::Missing;
            // Made by somebody else in between, it is opened and checked like any other folder.
            if (!CreateOwnFolder(path) && GetLastError() != ERROR_ALREADY_EXISTS)
                return StoreFolderCheck::Missing;
            folder = OpenNoFollow(path, access);
            if (!folder) return StoreFolderCheck::Missing;
        }
        if (!IsEntryOf(folder.get(), final, pieces[i], true)) {
            // A file where the last folder belongs is left to the move, which refuses it; further up,
            // nothing below it can be made.
            if (AttributesOf(folder.get(), attributes) &&
                !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                return i + 1 == pieces.size() ? StoreFolderCheck::NotAFolder : StoreFolderCheck::Missing;
            return StoreFolderCheck::Refused;
        }
        if (owners.checked && !OwnedByTrusted(folder.get(), owners.alsoTrusted))
            return StoreFolderCheck::Refused;
        // A user's own folder also keeps everybody else out; the shared ones let users make folders.
        if (owners.checked && !inShared && !KeptToItsOwner(folder.get(), owners.alsoTrusted))
            return StoreFolderCheck::Refused;
        final = FinalPath(folder.get());
        folders_.push_back(std::move(folder));
        if (inShared) ++shared_;
        path_ = path;
    }
    return StoreFolderCheck::Held;
}

void HeldFolders::RemoveEmptyBelowBase() {
    while (folders_.size() > std::max<size_t>(shared_, 1)) {
        if (!DeleteByHandle(folders_.back().get())) break;
        folders_.pop_back();  // closing the handle removes the folder
    }
    folders_.clear();
}

}  // namespace plx

#include "store/store_security.h"

#include <aclapi.h>
#include <sddl.h>

#include "win32/wide_text.h"

namespace plx {

namespace {

struct local_free {
    void operator()(void* p) const noexcept { LocalFree(p); }
};
using unique_local = unique_any<void*, local_free>;

// The SID of the user this thread acts for: the impersonated one, else the process's.
class CurrentUser {
public:
    CurrentUser() {
        HANDLE raw = nullptr;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw) &&
            !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
            return;
        unique_handle token(raw);
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
    unique_local descriptor(raw);
    if (!owner) return false;
    if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        return true;
    if (alsoTrusted && EqualSid(owner, alsoTrusted)) return true;
    const CurrentUser user;
    return user.Sid() && EqualSid(owner, user.Sid());
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

std::wstring OwnFolderSddl() {
    const CurrentUser user;
    LPWSTR sid = nullptr;
    if (!user.Sid() || !ConvertSidToStringSidW(user.Sid(), &sid)) return {};
    unique_local text(sid);
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
    unique_local descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

unique_hfile OpenNoFollow(const std::wstring& path, DWORD access) {
    return unique_hfile(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE | access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
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
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != directory) return false;
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

StoreFolderCheck HeldFolders::Hold(const std::wstring& base, const std::wstring& chain, bool create,
                                   DWORD access, OwnerRule owners) {
    folders_.clear();
    path_ = base;
    while (path_.size() > 3 && path_.back() == L'\\') path_.pop_back();
    // A share mode binds others only while the handle has data access (reading, executing, writing)
    // or delete access: one that reads just attributes and the access list holds nothing (Windows and
    // Wine alike). Traversing is that access for a folder, and every user may pass through the store.
    access |= FILE_TRAVERSE;
    unique_hfile folder = OpenNoFollow(path_, access);
    if (!folder) return StoreFolderCheck::Missing;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(folder.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return StoreFolderCheck::Refused;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return StoreFolderCheck::Missing;
    if (owners.checked && !OwnedByTrusted(folder.get(), owners.alsoTrusted)) return StoreFolderCheck::Refused;
    std::wstring final = FinalPath(folder.get());
    folders_.push_back(std::move(folder));

    const std::vector<std::wstring> pieces = ChainPieces(chain);
    for (size_t i = 0; i < pieces.size(); ++i) {
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
            if (GetFileInformationByHandle(folder.get(), &info) &&
                !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                return i + 1 == pieces.size() ? StoreFolderCheck::NotAFolder : StoreFolderCheck::Missing;
            return StoreFolderCheck::Refused;
        }
        if (owners.checked && !OwnedByTrusted(folder.get(), owners.alsoTrusted))
            return StoreFolderCheck::Refused;
        final = FinalPath(folder.get());
        folders_.push_back(std::move(folder));
        path_ = path;
    }
    return StoreFolderCheck::Held;
}

void HeldFolders::RemoveEmptyBelowBase() {
    while (folders_.size() > 1) {
        if (!DeleteByHandle(folders_.back().get())) break;
        folders_.pop_back();  // closing the handle removes the folder
    }
    folders_.clear();
}

}  // namespace plx

#include "layout/transfer.h"

#include <vector>

#include "layout/resolution.h"
#include "store/catalogue.h"
#include "store/moves.h"
#include "store/profile_file.h"
#include "store/profile_tree.h"
#include "store/store_lock.h"
#include "win32/message_box.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// A profile file is small: a few thousand positions of labels the shell allows (see
// store/profile_file.h) and the desktop's items. A larger file is refused before it is read.
constexpr LONGLONG kLargestProfileFile = 4LL * 1024 * 1024;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    unique_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestProfileFile) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        return false;
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    unique_handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

TransferResult Failed(const std::string& message) { return {false, message}; }

// The imported profile is written whole under a free name first and takes the old one's place by two
// renames: whatever fails, the old profile is kept whole under its own name. All of it under the
// store's lock, so that no save of the shell writes into the key that goes aside; the pending replace
// is recorded and flushed before the first rename, and a process ended between the renames leaves it
// for the next reader of "CurrentProfile" to finish (SettlePendingReplace).
bool ReplaceProfile(const ScreenSize& size, const ProfileName& name,
                    const std::vector<TransferredPosition>& positions,
                    const std::vector<TransferredRecord>& records) {
    StoreLock lock;
    if (!lock.Held()) return false;
    // Whatever an earlier replace left is settled before this one records its own.
    SettlePendingReplace(size);
    // A long title would leave no room for the number; such a profile is staged under a plain name.
    const std::string stem = name.Text().size() <= 200 ? name.Text() : std::string("Profile");
    const std::optional<ProfileName> staged = FreeProfileKeyName(size, stem + " imported");
    if (!staged || !WriteTransferredProfile(size, *staged, positions, records)) return false;
    const std::optional<ProfileName> replaced = FreeProfileKeyName(size, stem + " replaced");
    if (!replaced || !RecordPendingReplace(size, name, *staged, *replaced) ||
        !RenameProfileKey(size, name, *replaced)) {
        DeleteProfile(size, *staged);
        ClearPendingReplace(size);
        return false;
    }
    ReachedStep("profile put aside");
    if (!RenameProfileKey(size, *staged, name)) {
        RenameProfileKey(size, *replaced, name);
        DeleteProfile(size, *staged);
        ClearPendingReplace(size);
        return false;
    }
    DeleteProfile(size, *replaced);
    ClearPendingReplace(size);
    return true;
}

}  // namespace

TransferResult ExportProfileFile(const std::wstring& path, const std::optional<std::string>& profile) {
    // Before anything reads or makes the arrangement's key.
    CarryOverOlderProfiles();
    const ScreenSize size = GetScreenSize();
    const std::string screen = ResolutionKeyName(size);
    std::optional<ProfileName> name;
    if (profile)
        name = ProfileName::From(*profile);
    else
        name = GetCurrentProfile(size);
    const std::optional<ProfileTransfer> transfer =
        name ? ReadProfileForTransfer(size, *name) : std::optional<ProfileTransfer>();
    if (!transfer)
        return Failed("there is no profile " + Quoted(profile ? *profile : name->Text()) + " at " + screen);
    if (!WriteWholeFile(path, FormatProfileFile(*transfer)))
        return Failed("cannot write " + ToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")");
    return {true,
            "exported the profile " + Quoted(transfer->profile) + " of " + screen + " to " + ToUtf8(path)};
}

TransferResult ImportProfileFile(const std::wstring& path, const std::optional<std::string>& title,
                                 HWND owner, BOOL quiet) {
    CarryOverOlderProfiles();
    const std::string file = ToUtf8(path);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
            ((static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > kLargestProfileFile)
            return Failed(file + " is larger than " + std::to_string(kLargestProfileFile >> 20) +
                          " MB, which no profile is; nothing was changed");
        return Failed("cannot read " + file);
    }
    ProfileFileError error;
    const std::optional<ProfileTransfer> transfer = ParseProfileFile(bytes, error);
    if (!transfer)
        return Failed(file + " line " + std::to_string(error.line) + ": " + error.reason +
                      "; nothing was changed");
    const std::optional<ProfileName> name = ProfileName::From(title ? *title : transfer->profile);
    if (!name) return Failed(Quoted(*title) + " cannot name a profile");

    const ScreenSize size = GetScreenSize();
    const std::string screen = ResolutionKeyName(size);
    if (ProfileKeyExists(size, *name)) {
        unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read);
        if (!resolution || !IsProfileKey(resolution.get(), name->Text()))
            return Failed("a key that is not a profile is named " + Quoted(name->Text()) + " at " + screen +
                          "; import under another title with --as");
        if (IsQuiet(quiet))
            return Failed("the profile " + Quoted(name->Text()) + " exists at " + screen +
                          " and --quiet replaces nothing; nothing was changed");
        const std::string question = "The profile \"" + name->Text() +
                                     "\" already exists at this screen size.\nDo you want to replace it?";
        if (ShowMessage(owner, question.c_str(), MB_OKCANCEL | MB_ICONWARNING) != IDOK)
            return Failed("the profile " + Quoted(name->Text()) + " was not replaced");
    }
    // Every item is matched before anything is written: an item is known by its parsing name, and one
    // that is not on this desktop (nor kept hidden from it) is left out.
    const DesktopItemList catalogue = BuildItemCatalogue(nullptr);
    std::vector<TransferredRecord> records;
    size_t leftOut = 0;
    for (const TransferredItem& item : transfer->items) {
        const DesktopItem* found = nullptr;
        for (const DesktopItem& known : catalogue)
            if (CompareNoCaseOrdinal(known.DesktopPath, item.parsingName) == 0) found = &known;
        if (!found) {
            ++leftOut;
            continue;
        }
        if (found->Movable()) records.push_back({found->ID, item.shown});
    }

    if (!ProfileKeyExists(size, *name)) {
        if (!WriteTransferredProfile(size, *name, transfer->positions, records))
            return Failed("cannot write the profile " + Quoted(name->Text()) + " at " + screen);
    } else if (!ReplaceProfile(size, *name, transfer->positions, records)) {
        return Failed("cannot replace the profile " + Quoted(name->Text()) + " at " + screen +
                      "; it was kept as it was");
    }
    std::string message = "imported the profile " + Quoted(name->Text()) + " at " + screen;
    if (leftOut > 0)
        message += "; " + std::to_string(leftOut) + (leftOut == 1 ? " item is" : " items are") +
                   " not on this desktop and " + (leftOut == 1 ? "was" : "were") + " left out";
    return {true, message};
}

}  // namespace plx

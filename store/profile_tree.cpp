#include "store/profile_tree.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "store/settings.h"
#include "store/store_lock.h"
#include "win32/wide_text.h"

namespace plx {

void EncodePosition(POINT pt, BYTE (&data)[8]) {
    const uint32_t x = static_cast<uint32_t>(pt.x), y = static_cast<uint32_t>(pt.y);
    for (int i = 0; i < 4; ++i) {
        data[i] = static_cast<BYTE>(x >> (8 * i));
        data[4 + i] = static_cast<BYTE>(y >> (8 * i));
    }
}

POINT DecodePosition(const BYTE (&data)[8]) {
    uint32_t x = 0, y = 0;
    for (int i = 0; i < 4; ++i) {
        x |= static_cast<uint32_t>(data[i]) << (8 * i);
        y |= static_cast<uint32_t>(data[4 + i]) << (8 * i);
    }
    return {static_cast<LONG>(static_cast<int32_t>(x)), static_cast<LONG>(static_cast<int32_t>(y))};
}

namespace {

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(monitor, &info)) {
        auto* monitors = reinterpret_cast<std::vector<MonitorRect>*>(param);
        monitors->push_back({info.rcMonitor, (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
    }
    return TRUE;
}

std::string SizeText(long long width, long long height) {
    return std::to_string(width) + "_" + std::to_string(height);
}

}  // namespace

ScreenSize ArrangementOf(int width, int height, const std::vector<MonitorRect>& monitors) {
    ScreenSize size{width, height, {}};
    POINT origin = {0, 0};
    std::vector<RECT> counted;
    for (const MonitorRect& monitor : monitors)
        if (monitor.primary) {
            origin = {monitor.rect.left, monitor.rect.top};
            counted.push_back(monitor.rect);
        }
    std::vector<RECT> others;
    for (const MonitorRect& monitor : monitors) {
        bool clone = false;
        for (const RECT& seen : counted) clone = clone || EqualRect(&seen, &monitor.rect);
        if (clone || IsRectEmpty(&monitor.rect)) continue;
        counted.push_back(monitor.rect);
        others.push_back(monitor.rect);
    }
    std::sort(others.begin(), others.end(), [](const RECT& a, const RECT& b) {
        if (a.left != b.left) return a.left < b.left;
        if (a.top != b.top) return a.top < b.top;
        if (a.right != b.right) return a.right < b.right;
        return a.bottom < b.bottom;
    });
    std::vector<std::string> parts;
    std::string text;
    for (const RECT& r : others) {
        parts.push_back(
            "+" +
            SizeText(static_cast<long long>(r.right) - r.left, static_cast<long long>(r.bottom) - r.top) +
            "@" +
            SizeText(static_cast<long long>(r.left) - origin.x, static_cast<long long>(r.top) - origin.y));
        text += parts.back();
    }
    const size_t room = kMaxProfileNameChars - SizeText(width, height).size();
    if (text.size() > room) {
        // FNV-1a of the whole text tells apart arrangements that share the monitors that fit.
        uint32_t sum = 2166136261u;
        for (unsigned char c : text) sum = (sum ^ c) * 16777619u;
        char tail[24];
        wsprintfA(tail, "+%u#%08X", static_cast<unsigned>(others.size()), sum);
        text.clear();
        for (const std::string& part : parts) {
            if (text.size() + part.size() + lstrlenA(tail) > room) break;
            text += part;
        }
        text += tail;
    }
    size.others = text;
    return size;
}

ScreenSize GetScreenSize() {
    RECT rect = {};
    GetWindowRect(GetDesktopWindow(), &rect);
    std::vector<MonitorRect> monitors;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
    return ArrangementOf(rect.right - rect.left, rect.bottom - rect.top, monitors);
}

std::string ResolutionKeyName(const ScreenSize& size) {
    return SizeText(size.width, size.height) + size.others;
}

std::string ResolutionKeyPath(const ScreenSize& size) {
    return std::string(kRootKey) + "\\" + ResolutionKeyName(size);
}

std::string ResolutionKeyPath() { return ResolutionKeyPath(GetScreenSize()); }

bool IsUsableProfileName(const std::string& name, UINT codePage) {
    if (name.empty()) return false;
    // The limit is the registry's, in characters: a double-byte character counts once.
    const std::wstring wide = Widen(name, codePage);
    if (wide.empty() || wide.size() > kMaxProfileNameChars) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        // In a double-byte code page a trail byte may have the value of a backslash; the registry reads
        // the name as a whole character there, not as a separator.
        if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(name[i]))) {
            ++i;
            continue;
        }
        if (name[i] == '\\') return false;
    }
    return true;
}

std::string ProfileKeyPath(const std::string& profile) { return ResolutionKeyPath() + "\\" + profile; }

std::string SlotKeyPath(const std::string& profile, const char* slot) {
    return ProfileKeyPath(profile) + "\\" + slot;
}

namespace {

unique_hkey OpenLevel(HKEY parent, const std::string& name, KeyAccess access, LONG* status) {
    switch (access) {
        case KeyAccess::Read:
            return OpenKeyForReading(parent, name, status);
        case KeyAccess::Write:
            return OpenKeyForWriting(parent, name, status);
        default:
            return CreateKey(parent, name, status);
    }
}

// Opens RootKey and then each name below it, one level at a time. Keys above the last are only
// passed through: they are opened for reading unless they must be created.
unique_hkey OpenChain(std::initializer_list<std::string> names, KeyAccess access, LONG* status) {
    const KeyAccess through = access == KeyAccess::Create ? KeyAccess::Create : KeyAccess::Read;
    unique_hkey key = OpenLevel(HKEY_CURRENT_USER, kRootKey, names.size() == 0 ? access : through, status);
    size_t left = names.size();
    for (const std::string& name : names) {
        if (!key) return key;
        --left;
        key = OpenLevel(key.get(), name, left == 0 ? access : through, status);
    }
    return key;
}

}  // namespace

unique_hkey OpenResolutionKey(const ScreenSize& size, KeyAccess access, LONG* status) {
    return OpenChain({ResolutionKeyName(size)}, access, status);
}

// A name that cannot be a profile would lead elsewhere in the tree: ProfileName holds none.
unique_hkey OpenProfileKey(const ScreenSize& size, const ProfileName& profile, KeyAccess access,
                           LONG* status) {
    return OpenChain({ResolutionKeyName(size), profile.Text()}, access, status);
}

unique_hkey OpenSlotKey(const ScreenSize& size, const ProfileName& profile, const char* slot,
                        KeyAccess access, LONG* status) {
    return OpenChain({ResolutionKeyName(size), profile.Text(), slot}, access, status);
}

namespace {

// The names a pending replace records; nothing when there is none or it is not three names.
std::optional<std::vector<ProfileName>> ReadPendingReplace(HKEY resolution, bool& recorded) {
    const std::wstring value = ToWide(kPendingReplaceValue);
    DWORD type = 0, bytes = 0;
    recorded = RegQueryValueExW(resolution, value.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS;
    if (!recorded || type != REG_MULTI_SZ || bytes % sizeof(wchar_t)) return std::nullopt;
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (RegQueryValueExW(resolution, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                         &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<ProfileName> names;
    for (size_t begin = 0, end; begin < text.size() && (end = text.find(L'\0', begin)) != std::wstring::npos;
         begin = end + 1) {
        if (end == begin) break;
        std::optional<ProfileName> name = ProfileName::From(ToUtf8(text.substr(begin, end - begin)));
        if (!name) return std::nullopt;
        names.push_back(*name);
    }
    if (names.size() != 3) return std::nullopt;
    return names;
}

bool KeyThere(HKEY parent, const std::string& name) {
    return static_cast<bool>(OpenKeyForReading(parent, name));
}

}  // namespace

bool RecordPendingReplace(const ScreenSize& size, const ProfileName& profile, const ProfileName& staged,
                          const ProfileName& aside) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution) return false;
    std::wstring text;
    for (const ProfileName* name : {&profile, &staged, &aside}) text += ToWide(name->Text()) + L'\0';
    text += L'\0';
    return RegSetValueExW(resolution.get(), ToWide(kPendingReplaceValue).c_str(), 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size() * sizeof(wchar_t))) == ERROR_SUCCESS &&
           RegFlushKey(resolution.get()) == ERROR_SUCCESS;
}

void ClearPendingReplace(const ScreenSize& size) {
    if (unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write))
        RegDeleteValueW(resolution.get(), ToWide(kPendingReplaceValue).c_str());
}

void SettlePendingReplace(const ScreenSize& size) {
    bool recorded = false;
    {
        unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read);
        if (!resolution) return;
        ReadPendingReplace(resolution.get(), recorded);
        if (!recorded) return;
    }
    // The replace itself holds the lock from before the record to after its removal: what is read
    // under it is a replace that ended half-way, or none.
    StoreLock lock;
    if (!lock.Held()) return;
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution) return;
    const std::optional<std::vector<ProfileName>> names = ReadPendingReplace(resolution.get(), recorded);
    if (names) {
        const std::string& profile = (*names)[0].Text();
        const std::string& staged = (*names)[1].Text();
        const std::string& aside = (*names)[2].Text();
        const auto rename = [&](const std::string& from, const std::string& to) {
            return RegRenameKey(resolution.get(), ToWide(from).c_str(), ToWide(to).c_str()) == ERROR_SUCCESS;
        };
        if (IsProfileKey(resolution.get(), staged)) {
            // The new profile is whole: the replace is finished, the old one put aside first where the
            // first rename did not happen yet. A profile under the name beside the one aside was saved
            // since, and is kept.
            bool profileThere = KeyThere(resolution.get(), profile);
            if (profileThere && !KeyThere(resolution.get(), aside)) {
                if (!rename(profile, aside)) return;
                profileThere = false;
            }
            if (!profileThere && !rename(staged, profile)) {
                rename(aside, profile);
                return;
            }
        } else if (!KeyThere(resolution.get(), profile) && KeyThere(resolution.get(), aside) &&
                   !rename(aside, profile)) {
            // The old profile goes back to its name; while it cannot, the record stays for the next try.
            return;
        }
        DeleteKeyTree(resolution.get(), staged);
        DeleteKeyTree(resolution.get(), aside);
    }
    RegDeleteValueW(resolution.get(), ToWide(kPendingReplaceValue).c_str());
}

ProfileName GetCurrentProfile(const ScreenSize& size) {
    SettlePendingReplace(size);
    std::string text;
    if (unique_hkey key = OpenResolutionKey(size, KeyAccess::Read)) {
        // A value of another type, without its zero, too long for a name, or leading out of the
        // resolution key reads as missing: it cannot name a profile of this resolution.
        if (ReadString(key.get(), kCurrentProfileValue, text) == ERROR_SUCCESS)
            if (std::optional<ProfileName> name = ProfileName::From(text)) return *name;
    }
    if (unique_hkey key = OpenResolutionKey(size, KeyAccess::Create))
        WriteString(key.get(), kCurrentProfileValue, kDefaultProfile);
    return *ProfileName::From(kDefaultProfile);
}

ProfileName GetCurrentProfile() { return GetCurrentProfile(GetScreenSize()); }

bool SetCurrentProfile(const ScreenSize& size, const ProfileName& profile) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution || !IsProfileKey(resolution.get(), profile.Text())) return false;
    return WriteString(resolution.get(), kCurrentProfileValue, profile.Text()) == ERROR_SUCCESS;
}

bool IsProfileKey(HKEY resolutionKey, const std::string& subkey) {
    unique_hkey key = OpenKeyForReading(resolutionKey, subkey);
    if (!key) return false;
    std::string marker;
    if (ReadString(key.get(), nullptr, marker) != ERROR_SUCCESS) return false;
    return lstrcmpiW(ToWide(marker).c_str(), ToWide(kProfileMarker).c_str()) == 0;
}

int CompareProfileNames(const std::string& a, const std::string& b) { return CompareNoCaseOrdinal(a, b); }

bool SameProfileName(const std::string& a, const std::string& b) { return CompareProfileNames(a, b) == 0; }

bool ContainsProfileName(const ProfileNameSet& names, const std::string& name) {
    for (const std::string& held : names)
        if (SameProfileName(held, name)) return true;
    return false;
}

std::string UpperCaseName(const std::string& name) {
    std::wstring wide = ToWide(name);
    if (!wide.empty()) CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return ToUtf8(wide);
}

namespace {

ProfileNameSet ProfilesWith(const ScreenSize& size, bool current, bool* whole) {
    ProfileNameSet names;
    const std::string currentName = GetCurrentProfile(size).Text();
    LONG status = ERROR_SUCCESS;
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read, &status);
    if (!resolution) {
        if (current) names.insert(currentName);
        if (whole) *whole = status == ERROR_FILE_NOT_FOUND;
        return names;
    }
    const LONG rc = ForEachSubkey(resolution.get(), [&](const std::string& name) {
        if (!IsProfileKey(resolution.get(), name)) return true;
        if (!current && SameProfileName(name, currentName)) return true;
        names.insert(name);
        return true;
    });
    if (whole) *whole = rc == ERROR_SUCCESS;
    return names;
}

}  // namespace

ProfileNameSet ListProfiles(const ScreenSize& size, bool* whole) { return ProfilesWith(size, true, whole); }

ProfileNameSet ListOtherProfiles(const ScreenSize& size, bool* whole) {
    return ProfilesWith(size, false, whole);
}

ProfileNameSet UpperCaseNames(const ProfileNameSet& names) {
    ProfileNameSet upper;
    for (const std::string& name : names) upper.insert(UpperCaseName(name));
    return upper;
}

bool ProfileKeyExists(const ScreenSize& size, const ProfileName& name) {
    return static_cast<bool>(OpenProfileKey(size, name, KeyAccess::Read));
}

bool DeleteProfile(const ScreenSize& size, const ProfileName& name) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    return resolution && DeleteKeyTree(resolution.get(), name.Text()) == ERROR_SUCCESS;
}

bool RenameProfileKey(const ScreenSize& size, const ProfileName& from, const ProfileName& to) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    return resolution && RegRenameKey(resolution.get(), ToWide(from.Text()).c_str(),
                                      ToWide(to.Text()).c_str()) == ERROR_SUCCESS;
}

std::optional<ProfileName> FreeProfileKeyName(const ScreenSize& size, const std::string& prefix) {
    const DWORD seed = GetCurrentProcessId() ^ GetTickCount();
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        std::optional<ProfileName> name = ProfileName::From(prefix + " " + std::to_string(seed + attempt));
        if (name && !ProfileKeyExists(size, *name)) return name;
    }
    return std::nullopt;
}

void RemoveUnfinishedProfile(const ScreenSize& size, const ProfileName& name) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (resolution && !IsProfileKey(resolution.get(), name.Text()))
        DeleteKeyTree(resolution.get(), name.Text());
}

void WriteLastResolution(const ScreenSize& size) {
    unique_hkey root = OpenKeyForWriting(HKEY_CURRENT_USER, kRootKey);
    if (!root) return;
    BYTE data[8];
    EncodePosition({size.width, size.height}, data);
    WriteBytes(root.get(), kLastResolutionValue, data, sizeof(data));
    WriteString(root.get(), kLastArrangementValue, ResolutionKeyName(size));
}

DWORD ReadDisplaySettleTime() {
    const DWORD value = ReadSetting(kDisplaySettleTimeValue).value_or(kDefaultDisplaySettleMs);
    return value < kMinDisplaySettleMs ? kMinDisplaySettleMs
                                       : (value > kMaxDisplaySettleMs ? kMaxDisplaySettleMs : value);
}

bool ReadRemoteSessionsFollowed() { return ReadSetting(kRemoteSessionsValue) == 1u; }

bool KeptByOlderVersion() {
    unique_hkey root = OpenKeyForReading(HKEY_CURRENT_USER, kRootKey);
    BYTE data[8] = {};
    DWORD size = sizeof(data);
    std::string arrangement;
    return root && ReadBytes(root.get(), kLastResolutionValue, data, size) == ERROR_SUCCESS &&
           ReadString(root.get(), kLastArrangementValue, arrangement) == ERROR_FILE_NOT_FOUND;
}

ScreenSize ReadLastResolution() {
    unique_hkey root = OpenKeyForReading(HKEY_CURRENT_USER, kRootKey);
    BYTE data[8] = {};
    DWORD size = sizeof(data);
    if (!root || ReadBytes(root.get(), kLastResolutionValue, data, size) != ERROR_SUCCESS ||
        size != sizeof(data))
        return {};
    const POINT last = DecodePosition(data);
    ScreenSize result{static_cast<int>(last.x), static_cast<int>(last.y), {}};
    std::string arrangement;
    const std::string primary = ResolutionKeyName(result);
    // An older version that ran since writes only the 8 bytes: an arrangement of another primary
    // size is out of date, and the primary alone is what that version last saw.
    if (ReadString(root.get(), kLastArrangementValue, arrangement) == ERROR_SUCCESS &&
        arrangement.compare(0, primary.size(), primary) == 0 &&
        (arrangement.size() == primary.size() || arrangement[primary.size()] == '+'))
        result.others = arrangement.substr(primary.size());
    return result;
}

}  // namespace plx

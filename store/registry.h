// The registry tree under HKEY_CURRENT_USER "Software\Quillmar\Orvane" and its access rules.
//
//   RootKey                      "Software\Quillmar\Orvane"   value "LastResolution", keys "Items",
//   "HiddenItems" ResolutionKey  RootKey\W_H   value "CurrentProfile" ProfileKey     ResolutionKey\<profile>
//   default value "Profile" marks it SlotKey        ProfileKey\Manual, ProfileKey\Startup   one 8-byte
//   REG_BINARY per icon label
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "engine/names.h"
#include "win32/unique.h"

namespace plx {

inline constexpr char kCurrentProfileValue[] = "CurrentProfile";
inline constexpr char kProfileMarker[] = "Profile";
inline constexpr char kDefaultProfile[] = "Default";
inline constexpr char kManualSlot[] = "Manual";
inline constexpr char kStartupSlot[] = "Startup";

inline constexpr REGSAM kReadAccess = KEY_READ;                   // 0x20019
inline constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;  // 0x2001F

// Names are read into buffers of this many characters, the terminating zero included.
inline constexpr size_t kNameBufferChars = 260;

// Key access. Each returns an empty guard on failure; the status, when wanted, goes to *status.
unique_hkey OpenKeyForReading(HKEY parent, const std::string& path, LONG* status = nullptr);
unique_hkey OpenKeyForWriting(HKEY parent, const std::string& path, LONG* status = nullptr);
// Opens the key, creating it and any missing key above it.
unique_hkey CreateKey(HKEY parent, const std::string& path, LONG* status = nullptr);

// Values. name may be null or empty for the default value. Reads return ERROR_SUCCESS only for a
// value of an accepted type and shape; anything else is ERROR_INVALID_DATA or the registry's error.
LONG WriteString(HKEY key, const char* name, const std::string& value);
// REG_SZ or REG_EXPAND_SZ ending with a zero, at most maxChars characters with that zero.
LONG ReadString(HKEY key, const char* name, std::string& value, size_t maxChars = kNameBufferChars);
LONG WriteNumber(HKEY key, const char* name, DWORD value);
LONG ReadNumber(HKEY key, const char* name, DWORD& value);
LONG WriteBytes(HKEY key, const char* name, const void* data, DWORD size);
// REG_BINARY only. size: the buffer size in, the size of the value out.
LONG ReadBytes(HKEY key, const char* name, void* buffer, DWORD& size);

// Deletes the key at path below parent with everything under it.
LONG DeleteKeyTree(HKEY parent, const std::string& path);

// Every walk over subkeys in the project: calls visit(name) for each subkey of key in index order
// until visit returns false. The walk stops at the end and at any error but ERROR_MORE_DATA (a name
// too long for kNameBufferChars, which cannot be one of ours, is passed over): a key deleted behind
// its handle answers ERROR_KEY_DELETED at every index. Returns ERROR_SUCCESS when the walk reached the
// end or visit stopped it, else the error that stopped it.
template <typename Visit>
LONG ForEachSubkey(HKEY key, Visit visit) {
    for (DWORD index = 0;; ++index) {
        char name[kNameBufferChars];
        DWORD length = sizeof(name);
        const LONG rc = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) return rc;
        if (!visit(std::string(name, length))) return ERROR_SUCCESS;
    }
}

struct ScreenSize {
    int width = 0;
    int height = 0;
    bool operator==(const ScreenSize& o) const { return width == o.width && height == o.height; }
    bool operator!=(const ScreenSize& o) const { return !(*this == o); }
};

// The size of the primary screen: the rectangle of the desktop window.
ScreenSize GetScreenSize();

// A saved position, and "LastResolution": 8 bytes, x (or width) then y (or height), each a signed
// 32-bit little-endian integer.
void EncodePosition(POINT pt, BYTE (&data)[8]);
POINT DecodePosition(const BYTE (&data)[8]);
// RootKey + "\W_H" for the current screen size, relative to HKEY_CURRENT_USER.
std::string ResolutionKeyPath();
std::string ResolutionKeyPath(const ScreenSize& size);

// True when name can name a profile: not empty, under 260 characters, and no backslash (which
// would lead into another key of the tree). codePage: the one the name is encoded in.
bool IsUsableProfileName(const std::string& name, UINT codePage = CP_ACP);
// ResolutionKey + "\" + profile, and its slot "Manual" or "Startup".
std::string ProfileKeyPath(const std::string& profile);
std::string SlotKeyPath(const std::string& profile, const char* slot);

// The active profile at the current resolution, never empty; writes "Default" when none is set.
std::string GetCurrentProfile();

// A subkey of the resolution key is a profile when its default value is "Profile" (any case).
bool IsProfileKey(HKEY resolutionKey, const std::string& subkey);

// Names ordered as lstrcmpA orders them.
struct ProfileNameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return lstrcmpA(a.c_str(), b.c_str()) < 0;
    }
};
using ProfileNameSet = std::set<std::string, ProfileNameLess>;

std::string UpperCaseName(const std::string& name);  // CharUpperA
bool SameProfileName(const std::string& a, const std::string& b);

ProfileNameSet ListProfiles(bool excludeCurrent, bool upperCase);

}  // namespace plx

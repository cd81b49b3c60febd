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
// The name of the resolution key below RootKey: "W_H".
std::string ResolutionKeyName(const ScreenSize& size);

// A registry key name holds at most this many characters.
inline constexpr size_t kMaxProfileNameChars = 255;

// True when name can name a profile: not empty, at most 255 characters (a key name's limit), and no
// backslash (which would lead into another key of the tree). codePage: the one the name is encoded in.
bool IsUsableProfileName(const std::string& name, UINT codePage = CP_ACP);
// Whole paths below HKEY_CURRENT_USER, for short names only: the system's ANSI registry calls may
// refuse a whole path longer than 260 characters. The product opens its keys one level at a time.
std::string ProfileKeyPath(const std::string& profile);
std::string SlotKeyPath(const std::string& profile, const char* slot);

// How a key of the tree is reached: opened for reading, opened for writing, or created (with any
// missing key above it). Every level is opened relative to the one above it, so that no limit but a
// key name's own applies to a profile name.
enum class KeyAccess { Read, Write, Create };
unique_hkey OpenResolutionKey(const ScreenSize& size, KeyAccess access, LONG* status = nullptr);
unique_hkey OpenProfileKey(const ScreenSize& size, const std::string& profile, KeyAccess access,
                           LONG* status = nullptr);
unique_hkey OpenSlotKey(const ScreenSize& size, const std::string& profile, const char* slot,
                        KeyAccess access, LONG* status = nullptr);

// The active profile at a resolution, never empty; writes "Default" when none is set. Without a
// size: at the current screen size.
std::string GetCurrentProfile(const ScreenSize& size);
std::string GetCurrentProfile();
// Writes "CurrentProfile" at size, but only when profile names a profile there: a name that leads
// nowhere would leave the resolution without its profile. False when nothing was written.
bool SetCurrentProfile(const ScreenSize& size, const std::string& profile);

// A subkey of the resolution key is a profile when its default value is "Profile" (any case).
bool IsProfileKey(HKEY resolutionKey, const std::string& subkey);

// Two names are one profile exactly when the registry takes them as one key: equal in an ordinal
// comparison without regard to case. Linguistic comparisons equate names that are two keys ("Strasse"
// and "Straße", or a name with a soft hyphen and one without).
bool SameProfileName(const std::string& a, const std::string& b);
// Three-way ordinal comparison without regard to case, as the registry compares key names.
int CompareProfileNames(const std::string& a, const std::string& b);

// Names shown in lstrcmpA order; names that lstrcmpA takes as equal but that are two keys of the
// registry are both kept, in ordinal order.
struct ProfileNameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        const int order = lstrcmpA(a.c_str(), b.c_str());
        if (order != 0) return order < 0;
        return CompareProfileNames(a, b) < 0;
    }
};
using ProfileNameSet = std::set<std::string, ProfileNameLess>;
// True when names holds a name of the same profile as name (in whatever letter case it is held).
bool ContainsProfileName(const ProfileNameSet& names, const std::string& name);

std::string UpperCaseName(const std::string& name);  // CharUpperA

// The profiles of a resolution. excludeCurrent leaves out the current profile; upperCase gives the
// names upper-cased. Without a size: at the current screen size.
ProfileNameSet ListProfiles(const ScreenSize& size, bool excludeCurrent, bool upperCase);
ProfileNameSet ListProfiles(bool excludeCurrent, bool upperCase);

}  // namespace plx

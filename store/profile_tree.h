// The registry tree under HKEY_CURRENT_USER "Software\Quillmar\Orvane" and its access rules.
//
//   RootKey                      "Software\Quillmar\Orvane"   value "LastResolution", keys "Items",
//   "HiddenItems" ResolutionKey  RootKey\W_H   value "CurrentProfile" ProfileKey     ResolutionKey\<profile>
//   default value "Profile" marks it SlotKey        ProfileKey\Manual, ProfileKey\Startup   one 8-byte
//   REG_BINARY per icon label
#pragma once

#include <windows.h>

#include <optional>
#include <set>
#include <vector>
#include <string>

#include "resources/resource.h"
#include "win32/registry.h"

namespace plx {

inline constexpr char kCurrentProfileValue[] = "CurrentProfile";
inline constexpr char kProfileMarker[] = "Profile";
inline constexpr char kDefaultProfile[] = "Default";
inline constexpr char kManualSlot[] = "Manual";
inline constexpr char kStartupSlot[] = "Startup";

// The arrangement of the monitors in use, which names the resolution key: the primary screen's width
// and height, and every other monitor's size and place relative to the primary's top-left corner.
// With one monitor `others` is empty and the key is "W_H", as it always was.
struct ScreenSize {
    int width = 0;
    int height = 0;
    std::string others;  // "+W_H@X_Y" per other monitor, in a fixed order; empty with one monitor
    bool operator==(const ScreenSize& o) const {
        return width == o.width && height == o.height && others == o.others;
    }
    bool operator!=(const ScreenSize& o) const { return !(*this == o); }
    bool SingleMonitor() const { return others.empty(); }
};

// The arrangement in use: the size of the primary screen (the rectangle of the desktop window) and the
// other monitors.
ScreenSize GetScreenSize();

// One monitor's rectangle in screen coordinates, as the arrangement reads it.
struct MonitorRect {
    RECT rect;
    bool primary;
};
// The arrangement of monitors: `others` from their rectangles (the primary's is the origin). Other
// monitors are ordered by left, top, width, height; one that shows exactly the rectangle of a monitor
// already counted (a clone) adds nothing. A key that would pass the registry's limit of 255
// characters keeps the monitors that fit and ends in the count and a checksum of the whole text.
ScreenSize ArrangementOf(int width, int height, const std::vector<MonitorRect>& monitors);

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
bool IsUsableProfileName(const std::string& name, UINT codePage = CP_UTF8);
// A text that can name a profile, checked once where it enters (a dialog, a command, the registry) and
// carried as this type from there: every function of the tree that works on one profile takes it.
class ProfileName {
public:
    // Nothing when text cannot name a profile.
    static std::optional<ProfileName> From(const std::string& text) {
        if (!IsUsableProfileName(text)) return std::nullopt;
        return ProfileName(text);
    }
    const std::string& Text() const { return text_; }

private:
    explicit ProfileName(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// Whole paths below HKEY_CURRENT_USER, for short names only: the system's ANSI registry calls may
// refuse a whole path longer than 260 characters. The product opens its keys one level at a time.
std::string ProfileKeyPath(const std::string& profile);
std::string SlotKeyPath(const std::string& profile, const char* slot);

// How a key of the tree is reached: opened for reading, opened for writing, or created (with any
// missing key above it). Every level is opened relative to the one above it, so that no limit but a
// key name's own applies to a profile name.
enum class KeyAccess { Read, Write, Create };
unique_hkey OpenResolutionKey(const ScreenSize& size, KeyAccess access, LONG* status = nullptr);
unique_hkey OpenProfileKey(const ScreenSize& size, const ProfileName& profile, KeyAccess access,
                           LONG* status = nullptr);
unique_hkey OpenSlotKey(const ScreenSize& size, const ProfileName& profile, const char* slot,
                        KeyAccess access, LONG* status = nullptr);

// The active profile at a resolution, never empty; writes "Default" when none is set. Without a
// size: at the current screen size.
ProfileName GetCurrentProfile(const ScreenSize& size);
ProfileName GetCurrentProfile();
// Writes "CurrentProfile" at size, but only when profile names a profile there: a name that leads
// nowhere would leave the resolution without its profile. False when nothing was written.
bool SetCurrentProfile(const ScreenSize& size, const ProfileName& profile);

// A replace of a profile by one written whole under another name (an import) is two renames: the
// profile aside, then the new one into its name. "PendingReplace" (REG_MULTI_SZ: the profile's name,
// the new one's and the aside name) in the resolution key, written and flushed under the store's lock
// before the first rename and deleted after the last step, lets the next reader of "CurrentProfile"
// settle a replace cut short: it finishes it while the new profile is whole, or puts the old one back.
inline constexpr char kPendingReplaceValue[] = "PendingReplace";
bool RecordPendingReplace(const ScreenSize& size, const ProfileName& profile, const ProfileName& staged,
                          const ProfileName& aside);
void ClearPendingReplace(const ScreenSize& size);
// Settles a pending replace at size, if one is recorded; GetCurrentProfile runs it first.
void SettlePendingReplace(const ScreenSize& size);

// A subkey of the resolution key is a profile when its default value is "Profile" (any case).
bool IsProfileKey(HKEY resolutionKey, const std::string& subkey);

// Two names are one profile exactly when the registry takes them as one key: equal in an ordinal
// comparison without regard to case. Linguistic comparisons equate names that are two keys ("Strasse"
// and "Straße", or a name with a soft hyphen and one without).
bool SameProfileName(const std::string& a, const std::string& b);
// Three-way ordinal comparison without regard to case, as the registry compares key names.
int CompareProfileNames(const std::string& a, const std::string& b);

// Names shown in lstrcmp order; names that lstrcmp takes as equal but that are two keys of the
// registry are both kept, in ordinal order.
struct ProfileNameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        const int order = lstrcmpW(ToWide(a).c_str(), ToWide(b).c_str());
        if (order != 0) return order < 0;
        return CompareProfileNames(a, b) < 0;
    }
};
using ProfileNameSet = std::set<std::string, ProfileNameLess>;
// True when names holds a name of the same profile as name (in whatever letter case it is held).
bool ContainsProfileName(const ProfileNameSet& names, const std::string& name);

std::string UpperCaseName(const std::string& name);  // CharUpper

// The profiles of a resolution, as their keys are named; the other profiles: all but the current one.
// whole, when given, says whether every key was seen: a walk the registry broke off (or a resolution
// key that is there but cannot be read) lists only what it saw, which is enough to show but not to
// tell whether a name is free or which profile is the last.
ProfileNameSet ListProfiles(const ScreenSize& size, bool* whole = nullptr);
ProfileNameSet ListOtherProfiles(const ScreenSize& size, bool* whole = nullptr);
// The names upper-cased, as the dialogs compare a typed title with the names taken.
ProfileNameSet UpperCaseNames(const ProfileNameSet& names);

// Whether any key stands under the name at the resolution, a profile or not (a legacy slot is named
// like a title could be).
bool ProfileKeyExists(const ScreenSize& size, const ProfileName& name);
// Deletes the profile with everything in it.
bool DeleteProfile(const ScreenSize& size, const ProfileName& name);
// Gives the profile key another name in one registry operation; false when the new name is taken or
// the key cannot be renamed, and then nothing changed.
bool RenameProfileKey(const ScreenSize& size, const ProfileName& from, const ProfileName& to);
// A name under which no key stands at the resolution, made of the prefix and a number.
std::optional<ProfileName> FreeProfileKeyName(const ScreenSize& size, const std::string& prefix);
// Takes back what a failed save began under a name: the key goes only when it is not (yet) marked as
// a profile.
void RemoveUnfinishedProfile(const ScreenSize& size, const ProfileName& name);

inline constexpr char kLastResolutionValue[] = "LastResolution";
// "LastResolution" keeps the primary's width and height in its 8 bytes, as older versions read it;
// the whole arrangement is kept beside it, as the key name.
inline constexpr char kLastArrangementValue[] = "LastArrangement";
// The arrangement for which profiles were last saved or activated; zeros when none is recorded,
// which never equal a real screen size. Without "LastArrangement" (or with one an older version left
// behind, naming another primary size) it is the primary alone.
ScreenSize ReadLastResolution();
void WriteLastResolution(const ScreenSize& size);
// How long the display must stay unchanged before a change is acted on, in milliseconds: the value
// "DisplaySettleTime" (REG_DWORD) of RootKey or of the policies (settings.h), 2000 when missing, kept between 500 and 60000. A display
// that flaps never settles in less: there is no setting that acts at once on every change.
inline constexpr char kDisplaySettleTimeValue[] = "DisplaySettleTime";
inline constexpr DWORD kDefaultDisplaySettleMs = 2000;
inline constexpr DWORD kMinDisplaySettleMs = 500;
inline constexpr DWORD kMaxDisplaySettleMs = 60000;
DWORD ReadDisplaySettleTime();
// "RemoteSessions" (REG_DWORD) of RootKey or of the policies: 1 when a remote session's arrangement of monitors is to be
// followed as any other (profiles of its own); by default (0, or missing) a remote session moves nothing.
inline constexpr char kRemoteSessionsValue[] = "RemoteSessions";
bool ReadRemoteSessionsFollowed();

// True when "LastResolution" is there but no "LastArrangement": an older version kept this tree.
bool KeptByOlderVersion();

}  // namespace plx

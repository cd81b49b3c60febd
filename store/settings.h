// The user's options and the administrators' policies over them. An option is a REG_DWORD under the
// product's key of the user (RootKey); the same value under the machine's policy key, which only
// administrators (and Group Policy) write, overrides it, whatever the user set.
#pragma once

#include <windows.h>

#include <optional>

namespace plx {

inline constexpr char kPolicyKey[] = "Software\\Policies\\Quillmar\\Orvane";

// The options that policies may set. "Keeper" and "NotifyIcon" are on (1) unless set to 0.
inline constexpr char kKeeperValue[] = "Keeper";
inline constexpr char kNotifyIconValue[] = "NotifyIcon";

// The policy's value when the policy key has one of the name, else the user's, else nothing. A value
// of another type than REG_DWORD counts as missing, on either side.
std::optional<DWORD> ReadSetting(const char* name);
// ReadSetting, 1 or 0; fallback when neither side has the value.
bool ReadSwitch(const char* name, bool fallback);

}  // namespace plx

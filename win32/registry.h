// The registry calls of the product: keys opened and created with RAII guards, values read and
// written with their type and shape checked, and walks over subkeys.
#pragma once

#include <windows.h>

#include <string>

#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

inline constexpr REGSAM kReadAccess = KEY_READ;                   // 0x20019
inline constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;  // 0x2001F

// Names are read into buffers of this many characters, the terminating zero included.
inline constexpr size_t kNameBufferChars = 260;

// Key access. Each returns an empty guard on failure; the status, when wanted, goes to *status.
unique_hkey OpenKeyForReading(HKEY parent, const std::string& path, LONG* status = nullptr);
unique_hkey OpenKeyForWriting(HKEY parent, const std::string& path, LONG* status = nullptr);
// Opens the key, creating it and any missing key above it; *disposition, when wanted, says which
// (REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY).
unique_hkey CreateKey(HKEY parent, const std::string& path, LONG* status = nullptr, DWORD* disposition = nullptr);

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
        wchar_t name[kNameBufferChars];
        DWORD length = kNameBufferChars;
        const LONG rc = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) return rc;
        if (!visit(ToUtf8(name, length))) return ERROR_SUCCESS;
    }
}

}  // namespace plx

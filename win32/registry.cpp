#include "win32/registry.h"

#include <vector>

#include "win32/wide_text.h"

namespace plx {

namespace {

// A value's name as the wide functions take it: null for the default value.
class ValueName {
public:
    explicit ValueName(const char* name) : name_((name && *name) ? ToWide(name) : std::wstring()) {}
    const wchar_t* get() const { return name_.empty() ? nullptr : name_.c_str(); }

private:
    std::wstring name_;
};

unique_hkey OpenKey(HKEY parent, const std::string& path, REGSAM access, LONG* status) {
    unique_hkey key;
    LONG rc = RegOpenKeyExW(parent, ToWide(path).c_str(), 0, access, key.put());
    if (status) *status = rc;
    if (rc != ERROR_SUCCESS) key.release();
    return key;
}

}  // namespace

unique_hkey OpenKeyForReading(HKEY parent, const std::string& path, LONG* status) {
    return OpenKey(parent, path, kReadAccess, status);
}

unique_hkey OpenKeyForWriting(HKEY parent, const std::string& path, LONG* status) {
    return OpenKey(parent, path, kReadWriteAccess, status);
}

unique_hkey CreateKey(HKEY parent, const std::string& path, LONG* status, DWORD* disposition) {
    unique_hkey key;
    LONG rc = RegCreateKeyExW(parent, ToWide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              kReadWriteAccess, nullptr, key.put(), disposition);
    if (status) *status = rc;
    if (rc != ERROR_SUCCESS) key.release();
    return key;
}

LONG WriteString(HKEY key, const char* name, const std::string& value) {
    const std::wstring wide = ToWide(value);
    return RegSetValueExW(key, ValueName(name).get(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

LONG ReadString(HKEY key, const char* name, std::string& value, size_t maxChars) {
    value.clear();
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(maxChars * sizeof(wchar_t));
    LONG rc = RegQueryValueExW(key, ValueName(name).get(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                               &size);
    if (rc != ERROR_SUCCESS) return rc;  // ERROR_MORE_DATA for a value longer than the buffer
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    // The stored data must carry its own terminating zero, in whole characters; one inside it ends the
    // string there.
    const size_t chars = size / sizeof(wchar_t);
    if (size % sizeof(wchar_t) != 0 || chars == 0 || buffer[chars - 1] != L'\0') return ERROR_INVALID_DATA;
    value = ToUtf8(buffer.data());
    return ERROR_SUCCESS;
}

LONG WriteNumber(HKEY key, const char* name, DWORD value) {
    return RegSetValueExW(key, ValueName(name).get(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

LONG ReadNumber(HKEY key, const char* name, DWORD& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG rc = RegQueryValueExW(key, ValueName(name).get(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_DWORD || size != sizeof(DWORD)) return ERROR_INVALID_DATA;
    value = data;
    return ERROR_SUCCESS;
}

LONG WriteBytes(HKEY key, const char* name, const void* data, DWORD size) {
    return RegSetValueExW(key, ValueName(name).get(), 0, REG_BINARY, static_cast<const BYTE*>(data), size);
}

LONG ReadBytes(HKEY key, const char* name, void* buffer, DWORD& size) {
    DWORD type = 0;
    LONG rc = RegQueryValueExW(key, ValueName(name).get(), nullptr, &type, static_cast<BYTE*>(buffer), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_BINARY) return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

LONG DeleteKeyTree(HKEY parent, const std::string& path) {
    LONG rc = ERROR_SUCCESS;
    {
        unique_hkey key = OpenKeyForWriting(parent, path, &rc);
        if (!key) return rc;
        wchar_t name[256];
        for (;;) {
            DWORD length = ARRAYSIZE(name);
            rc = RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS) return rc;
            rc = DeleteKeyTree(key.get(), ToUtf8(name, length));
            // A subkey that cannot go would be taken first for ever.
            if (rc != ERROR_SUCCESS) return rc;
        }
    }
    return RegDeleteKeyW(parent, ToWide(path).c_str());
}

}  // namespace plx

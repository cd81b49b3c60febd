#include "win32/registry.h"

#include <vector>


namespace plx {

namespace {

const char* ValueName(const char* name) { return (name && *name) ? name : nullptr; }

unique_hkey OpenKey(HKEY parent, const std::string& path, REGSAM access, LONG* status) {
    unique_hkey key;
    LONG rc = RegOpenKeyExA(parent, path.c_str(), 0, access, key.put());
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

unique_hkey CreateKey(HKEY parent, const std::string& path, LONG* status) {
    unique_hkey key;
    LONG rc = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWriteAccess,
                              nullptr, key.put(), nullptr);
    if (status) *status = rc;
    if (rc != ERROR_SUCCESS) key.release();
    return key;
}

LONG WriteString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, ValueName(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

LONG ReadString(HKEY key, const char* name, std::string& value, size_t maxChars) {
    value.clear();
    std::vector<char> buffer(maxChars + 1, '\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(maxChars);
    LONG rc =
        RegQueryValueExA(key, ValueName(name), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (rc != ERROR_SUCCESS) return rc;  // ERROR_MORE_DATA for a value longer than the buffer
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    // The stored data must carry its own terminating zero; one inside it ends the string there.
    if (size == 0 || buffer[size - 1] != '\0') return ERROR_INVALID_DATA;
    value.assign(buffer.data());
    return ERROR_SUCCESS;
}

LONG WriteNumber(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, ValueName(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

LONG ReadNumber(HKEY key, const char* name, DWORD& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG rc = RegQueryValueExA(key, ValueName(name), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_DWORD || size != sizeof(DWORD)) return ERROR_INVALID_DATA;
    value = data;
    return ERROR_SUCCESS;
}

LONG WriteBytes(HKEY key, const char* name, const void* data, DWORD size) {
    return RegSetValueExA(key, ValueName(name), 0, REG_BINARY, static_cast<const BYTE*>(data), size);
}

LONG ReadBytes(HKEY key, const char* name, void* buffer, DWORD& size) {
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, ValueName(name), nullptr, &type, static_cast<BYTE*>(buffer), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_BINARY) return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

LONG DeleteKeyTree(HKEY parent, const std::string& path) {
    LONG rc = ERROR_SUCCESS;
    {
        unique_hkey key = OpenKeyForWriting(parent, path, &rc);
        if (!key) return rc;
        char name[256];
        for (;;) {
            DWORD length = sizeof(name);
            rc = RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS) return rc;
            rc = DeleteKeyTree(key.get(), name);
            // A subkey that cannot go would be taken first for ever.
            if (rc != ERROR_SUCCESS) return rc;
        }
    }
    return RegDeleteKeyA(parent, path.c_str());
}

}  // namespace plx

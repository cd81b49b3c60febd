// The product keeps text in std::string as UTF-8 and speaks to the platform through its wide (UTF-16)
// functions only: every name (icon labels, registry names, file paths, titles) passes unchanged, in any
// language, and the conversions happen here, at the call.
#pragma once

#include <windows.h>

#include <string>

namespace plx {

// Empty for empty text and for text that is not valid in codePage.
inline std::wstring Widen(const std::string& text, UINT codePage = CP_ACP) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (chars <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], chars);
    return wide;
}

// UTF-8 text as UTF-16 for a wide function. Invalid sequences become U+FFFD.
inline std::wstring ToWide(const std::string& utf8) { return Widen(utf8, CP_UTF8); }

// UTF-16 from a wide function as UTF-8. A lone surrogate (which file and key names may hold) becomes
// U+FFFD.
inline std::string ToUtf8(const wchar_t* text, size_t length) {
    if (length == 0) return std::string();
    const int chars = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, chars, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}
inline std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }
inline std::string ToUtf8(const wchar_t* text) { return text ? ToUtf8(text, wcslen(text)) : std::string(); }

// The spelling in which earlier versions kept a name: they spoke to the platform in the ANSI code page,
// which took each character it lacks by the system's best fit ("Ł" became "L", "ā" became "a"). Empty
// when that spelling is the text itself, and when a character had no best fit and became the default
// character ("?"): such a spelling stands for too many names to be taken for this one.
inline std::string LegacySpelling(const std::string& utf8) {
    const std::wstring wide = ToWide(utf8);
    if (wide.empty()) return std::string();
    const int chars = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    // A system whose ANSI code page is UTF-8 refuses the flag's pointer: nothing was lost there.
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), chars, nullptr, 0, nullptr, &usedDefault);
    if (bytes <= 0 || usedDefault) return std::string();
    std::string ansi(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), chars, &ansi[0], bytes, nullptr, nullptr);
    std::string legacy = ToUtf8(Widen(ansi));
    return legacy == utf8 ? std::string() : legacy;
}

// The length of UTF-8 text in UTF-16 characters: what the platform's limits on names and paths count.
inline size_t CharCount(const std::string& utf8) { return ToWide(utf8).size(); }

// Three-way comparison of UTF-16 code units without regard to case, as the registry compares key names
// and the file system file names. A linguistic comparison (lstrcmpi) equates names that are two keys
// or two files ("Strasse" and "Straße", or a name with a soft hyphen and one without).
inline int CompareNoCaseOrdinal(const std::wstring& a, const std::wstring& b) {
    // Most names are ASCII, and sets of many paths compare long shared beginnings: a unit below 0x80 is
    // upcased here as by every upcase table (only a-z change), without a call. From the first unit that
    // is not ASCII on either side on, the system compares the rest, for another unit's upcase may be
    // ASCII (U+0131 and U+017F upcase to "I" and "S").
    const size_t shorter = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    for (; i < shorter; ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= 0x80 || y >= 0x80) break;
        if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - (L'a' - L'A'));
        if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - (L'a' - L'A'));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i == shorter) return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    switch (CompareStringOrdinal(a.c_str() + i, static_cast<int>(a.size() - i), b.c_str() + i,
                                 static_cast<int>(b.size() - i), TRUE)) {
        case CSTR_LESS_THAN:
            return -1;
        case CSTR_GREATER_THAN:
            return 1;
        case CSTR_EQUAL:
            return 0;
        default:
            // Not expected for valid arguments; the code units still tell two names apart.
            return a.compare(i, std::wstring::npos, b, i, std::wstring::npos);
    }
}
inline int CompareNoCaseOrdinal(const std::string& a, const std::string& b) {
    return CompareNoCaseOrdinal(ToWide(a), ToWide(b));
}

// Orders names as CompareNoCaseOrdinal does, for sets of many names: they are kept in UTF-16, so that
// no comparison converts.
struct NoCaseOrdinalLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareNoCaseOrdinal(a, b) < 0;
    }
};

}  // namespace plx

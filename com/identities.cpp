// The one place where the GUIDs of the IDL are defined rather than declared.
// clang-format off
#include <initguid.h>
#include "com/identities.h"
// clang-format on

namespace plx {

namespace {

// Upper-case hexadecimal digits of value, most significant first. Written out by hand: a printf
// would bring the C runtime's whole formatting engine into the module.
void AppendHex(std::string& text, unsigned long value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::string GuidString(const GUID& guid) {
    std::string text = "{";
    AppendHex(text, guid.Data1, 8);
    text += '-';
    AppendHex(text, guid.Data2, 4);
    text += '-';
    AppendHex(text, guid.Data3, 4);
    text += '-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) text += '-';
        AppendHex(text, guid.Data4[i], 2);
    }
    return text + "}";
}

}  // namespace plx

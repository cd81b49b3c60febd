#include "store/profile_file.h"

#include <climits>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "store/catalogue.h"
#include "win32/registry.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '%' || c < 0x20 || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsUtf8(const std::string& text) {
    if (text.empty()) return true;
    if (text.find('\0') != std::string::npos) return false;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                               nullptr, 0) > 0;
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return IsUtf8(out);
}

// The first word of text and the rest after one space.
bool SplitWord(const std::string& text, std::string& word, std::string& rest) {
    const size_t space = text.find(' ');
    if (space == std::string::npos) return false;
    word = text.substr(0, space);
    rest = text.substr(space + 1);
    return true;
}

bool ParseCoordinate(const std::string& text, LONG& value) {
    size_t i = text[0] == '-' ? 1 : 0;
    if (text.size() <= i || text.size() - i > 10) return false;
    for (size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return false;
    const long long number = std::strtoll(text.c_str(), nullptr, 10);
    if (number < INT_MIN || number > INT_MAX) return false;
    value = static_cast<LONG>(number);
    return true;
}

// "W_H", and with several monitors the other monitors after it ("+W_H@X_Y"..., perhaps ending in a
// count and a checksum), as the arrangement names its key.
bool IsScreenKey(const std::string& text) {
    const size_t bar = text.find('_');
    const size_t others = std::min(text.find('+'), text.size());
    if (bar == std::string::npos || bar == 0 || bar + 1 >= others || bar > 11 || others - bar > 12 ||
        text.size() > kMaxProfileNameChars)
        return false;
    for (size_t i = 0; i < others; ++i)
        if (i != bar && (text[i] < '0' || text[i] > '9')) return false;
    for (size_t i = others; i < text.size(); ++i)
        if (!std::strchr("0123456789_@+-#ABCDEF", text[i]) || text[i] == '\0') return false;
    return true;
}

// A record after the fixed lines: a position or an item. Empty reason when it is one.
// perSlot: the positions of each slot so far, Manual then Startup.
std::string ParseRecord(const std::string& line, ProfileTransfer& transfer, size_t (&perSlot)[2]) {
    std::string kind, rest;
    if (!SplitWord(line, kind, rest)) return "not a record of a profile";
    if (kind == "position") {
        std::string slot, x, y, label;
        if (!SplitWord(rest, slot, rest) || !SplitWord(rest, x, rest))
            return "a position needs a slot, x, y and a label";
        // An empty label (the icon whose label is empty) may have lost its space to an editor.
        if (!SplitWord(rest, y, label)) y = rest;
        TransferredPosition position;
        if (slot == kManualSlot || slot == kStartupSlot)
            position.slot = slot;
        else
            return "the slot \"" + slot + "\" is neither Manual nor Startup";
        if (!ParseCoordinate(x, position.position.x) || !ParseCoordinate(y, position.position.y))
            return "a position needs whole numbers for x and y";
        if (!Unescape(label, position.label)) return "a \"%\" without two hexadecimal digits";
        if (CharCount(position.label) > kLongestLabelChars)
            return "a label longer than " + std::to_string(kLongestLabelChars) +
                   " characters, which no desktop icon has";
        if (++perSlot[position.slot == kManualSlot ? 0 : 1] > kMostPositionsPerSlot)
            return "more than " + std::to_string(kMostPositionsPerSlot) + " positions in the slot " +
                   position.slot;
        transfer.positions.push_back(std::move(position));
        return std::string();
    }
    if (kind == "item") {
        std::string state, name;
        if (!SplitWord(rest, state, name) || (state != "shown" && state != "hidden"))
            return "an item needs \"shown\" or \"hidden\" and its parsing name";
        TransferredItem item;
        item.shown = state == "shown";
        if (!Unescape(name, item.parsingName) || item.parsingName.empty())
            return "an item needs a parsing name, with \"%\" only before two hexadecimal digits";
        transfer.items.push_back(std::move(item));
        return std::string();
    }
    return "not a record of a profile";
}

}  // namespace

std::string FormatProfileFile(const ProfileTransfer& transfer) {
    std::string text = std::string(kProfileFileHeader) + "\r\n";
    text += "format " + std::to_string(kProfileFileFormat) + "\r\n";
    text += "screen " + transfer.screen + "\r\n";
    text += "profile " + Escape(transfer.profile) + "\r\n";
    for (const TransferredPosition& position : transfer.positions)
        text += "position " + position.slot + " " + std::to_string(position.position.x) + " " +
                std::to_string(position.position.y) + " " + Escape(position.label) + "\r\n";
    for (const TransferredItem& item : transfer.items)
        text +=
            std::string("item ") + (item.shown ? "shown " : "hidden ") + Escape(item.parsingName) + "\r\n";
    text += "end\r\n";
    return text;
}

std::optional<ProfileTransfer> ParseProfileFile(const std::string& bytes, ProfileFileError& error) {
    ProfileTransfer transfer;
    size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    size_t number = 0;
    size_t perSlot[2] = {};
    bool ended = false;
    const auto fail = [&](const std::string& reason) {
        error.line = number;
        error.reason = reason;
        return std::nullopt;
    };
    while (at < bytes.size()) {
        ++number;
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!IsUtf8(line)) return fail("not UTF-8 text");
        if (ended) {
            if (line.empty()) continue;
            return fail("text after the last line \"end\"");
        }
        std::string word, rest;
        switch (number) {
            case 1:
                if (line != kProfileFileHeader)
                    return fail(std::string("not a profile file: the first line must be \"") +
                                kProfileFileHeader + "\"");
                continue;
            case 2:
                if (!SplitWord(line, word, rest) || word != "format")
                    return fail("the line \"format\" is missing");
                if (rest != std::to_string(kProfileFileFormat))
                    return fail("format " + rest + " is not known to this version");
                continue;
            case 3:
                if (!SplitWord(line, word, rest) || word != "screen" || !IsScreenKey(rest))
                    return fail("the line \"screen WIDTH_HEIGHT\" is missing");
                transfer.screen = rest;
                continue;
            case 4:
                if (!SplitWord(line, word, rest) || word != "profile" || !Unescape(rest, transfer.profile) ||
                    !IsUsableProfileName(transfer.profile))
                    return fail("the line \"profile TITLE\" is missing or its title cannot name a profile");
                continue;
            default:
                break;
        }
        if (line == "end") {
            ended = true;
            continue;
        }
        const std::string reason = ParseRecord(line, transfer, perSlot);
        if (!reason.empty()) return fail(reason);
    }
    if (!ended) {
        ++number;
        return fail("the file ends before its last line \"end\": it was cut short");
    }
    return transfer;
}

std::optional<ProfileTransfer> ReadProfileForTransfer(const ScreenSize& size, const ProfileName& profile) {
    {
        unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read);
        if (!resolution || !IsProfileKey(resolution.get(), profile.Text())) return std::nullopt;
    }
    ProfileTransfer transfer;
    transfer.screen = ResolutionKeyName(size);
    transfer.profile = profile.Text();
    for (const char* slot : {kManualSlot, kStartupSlot}) {
        unique_hkey key = OpenSlotKey(size, profile, slot, KeyAccess::Read);
        if (!key) continue;
        for (DWORD index = 0;; ++index) {
            wchar_t name[16384];
            DWORD length = ARRAYSIZE(name);
            DWORD type = 0;
            BYTE data[8];
            DWORD dataSize = sizeof(data);
            const LONG rc = RegEnumValueW(key.get(), index, name, &length, nullptr, &type, data, &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            // A value of another shape is no position, here as in a restore.
            if (rc != ERROR_SUCCESS || type != REG_BINARY || dataSize != sizeof(data)) continue;
            transfer.positions.push_back({slot, ToUtf8(name, length), DecodePosition(data)});
        }
    }
    const std::optional<DesktopItemList> catalogue = ReadItemCatalogue(false);
    unique_hkey profileKey = OpenProfileKey(size, profile, KeyAccess::Read);
    if (!catalogue || !profileKey) return transfer;
    for (const DesktopItem& item : *catalogue) {
        if (item.InStore()) continue;  // the catalogue's own entry names the item too
        unique_hkey record = OpenKeyForReading(profileKey.get(), std::to_string(item.ID));
        DWORD visible = 0;
        if (record && ReadNumber(record.get(), "Visible", visible) == ERROR_SUCCESS)
            transfer.items.push_back({item.DesktopPath, visible != 0});
    }
    return transfer;
}

bool WriteTransferredProfile(const ScreenSize& size, const ProfileName& profile,
                             const std::vector<TransferredPosition>& positions,
                             const std::vector<TransferredRecord>& records) {
    if (ProfileKeyExists(size, profile)) return false;
    bool written = false;
    {
        unique_hkey profileKey = OpenProfileKey(size, profile, KeyAccess::Create);
        if (profileKey) {
            written = true;
            for (const char* slot : {kManualSlot, kStartupSlot}) {
                unique_hkey slotKey;
                for (const TransferredPosition& position : positions) {
                    if (position.slot != slot) continue;
                    if (!slotKey) slotKey = CreateKey(profileKey.get(), slot);
                    BYTE data[8];
                    EncodePosition(position.position, data);
                    if (!slotKey || WriteBytes(slotKey.get(), position.label.c_str(), data, sizeof(data)) !=
                                        ERROR_SUCCESS)
                        written = false;
                }
            }
            for (const TransferredRecord& record : records) {
                unique_hkey key = CreateKey(profileKey.get(), std::to_string(record.id));
                if (!key || WriteNumber(key.get(), "Visible", record.shown ? 1 : 0) != ERROR_SUCCESS)
                    written = false;
            }
            if (written && WriteString(profileKey.get(), nullptr, kProfileMarker) != ERROR_SUCCESS)
                written = false;
        }
    }
    if (!written) RemoveUnfinishedProfile(size, profile);
    return written;
}

}  // namespace plx

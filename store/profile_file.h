// A profile as a text file that travels to another computer or another user: UTF-8, one record a
// line, readable by a person and parsed strictly by a program.
//
//   Quillmar Orvane Deluxe profile          the product
//   format 1                                the format's version
//   screen 1280_1024                        the resolution key it was saved at
//   profile Default                         the profile's title
//   position Manual 120 80 Notes.txt        a saved position: slot, x, y, the icon's label
//   item hidden C:\Users\Anna\Desktop\x.txt an item's visibility: shown or hidden, its parsing name
//   end                                     the last line: a file without it was cut short
//
// A title, label or name is the rest of its line. In it "%" and the control characters are written
// as "%" and two hexadecimal digits ("%25", "%0A"), so that every line stays one line.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "store/profile_tree.h"

namespace plx {

inline constexpr char kProfileFileHeader[] = PLAXEN_PRODUCT_TITLE " profile";
inline constexpr int kProfileFileFormat = 1;

// What a file may hold: every position becomes a registry value that each later restore searches on
// the desktop's thread, so a slot takes no more positions than a desktop has icons, and no label longer
// than the shell's display names (MAX_PATH less its terminating zero, in UTF-16 characters).
inline constexpr size_t kMostPositionsPerSlot = 4000;
inline constexpr size_t kLongestLabelChars = MAX_PATH - 1;

struct TransferredPosition {
    std::string slot;  // kManualSlot or kStartupSlot
    std::string label;
    POINT position = {};
};

struct TransferredItem {
    std::string parsingName;
    bool shown = true;
};

struct ProfileTransfer {
    std::string screen;  // "W_H"
    std::string profile;
    std::vector<TransferredPosition> positions;
    std::vector<TransferredItem> items;
};

std::string FormatProfileFile(const ProfileTransfer& transfer);

// What was wrong with a file: the line (counted from 1) and why.
struct ProfileFileError {
    size_t line = 0;
    std::string reason;
};
// The profile a file holds, or the first line that is not as it must be (bytes that are not UTF-8
// text, a foreign header, an unknown format, a damaged record, a file that ends before "end").
std::optional<ProfileTransfer> ParseProfileFile(const std::string& bytes, ProfileFileError& error);

// The profile as the tree holds it at size: both slots and the visibility records of the items that
// the catalogue names. Nothing when profile is not a profile there.
std::optional<ProfileTransfer> ReadProfileForTransfer(const ScreenSize& size, const ProfileName& profile);

// Writes positions and, for each catalogue ID with its visibility, a record into a profile that must
// not exist yet at size; the marker comes last, so that a write that fails half-way leaves no profile
// (what was written is taken back). False when it failed.
struct TransferredRecord {
    int id = -1;
    bool shown = true;
};
bool WriteTransferredProfile(const ScreenSize& size, const ProfileName& profile,
                             const std::vector<TransferredPosition>& positions,
                             const std::vector<TransferredRecord>& records);

}  // namespace plx

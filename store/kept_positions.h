// The positions the icons had just before the last restore or activation, kept for an undo: one set
// per resolution, one level deep. They live in one value of the resolution key, "UndoPositions": a
// value can never be taken for a profile (profiles are subkeys), and one write replaces the whole set
// at once.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "store/profile_tree.h"

namespace plx {

inline constexpr char kKeptPositionsValue[] = "UndoPositions";

// One icon as the list view shows it: its label (UTF-8) and its position.
struct IconPlace {
    std::string label;
    POINT position = {};
};
using IconPlaces = std::vector<IconPlace>;

// The value's bytes: "PXU1", the count, then per icon x, y (signed 32-bit), the label's length in
// UTF-16 units (32-bit) and the label in UTF-16; every number little-endian. Every icon is kept in
// order, labels that are alike included. Nothing when the bytes are not exactly such a record.
std::vector<BYTE> EncodeIconPlaces(const IconPlaces& places);
std::optional<IconPlaces> DecodeIconPlaces(const std::vector<BYTE>& bytes);

// True when both hold the same icons, in the same order, at the same places.
bool SamePlaces(const IconPlaces& a, const IconPlaces& b);

// False when the resolution key of size is not there or the value cannot be written.
bool WriteKeptPositions(const ScreenSize& size, const IconPlaces& places);
// Nothing when nothing is kept at size (or what is kept is damaged).
std::optional<IconPlaces> ReadKeptPositions(const ScreenSize& size);

}  // namespace plx

#include "store/snapshots.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "win32/registry.h"

namespace plx {

namespace {

// Each snapshot is one value of the resolution key, "Snapshot0" to "Snapshot<kSnapshotHistory>" (the
// latest and the history before it), used round: a new one replaces the oldest. One value write keeps
// one snapshot, so an end of the power or of the shell half-way through a write can only cost the value
// being replaced, the oldest, and never the latest. The bytes: "PXS1", a sequence number (which orders
// them; times may repeat or go back with the clock), the time (FILETIME, low then high part), the DPI,
// then the places as EncodeIconPlaces writes them; every number 32-bit little-endian.
constexpr BYTE kSnapshotMagic[4] = {'P', 'X', 'S', '1'};
constexpr size_t kHeaderBytes = sizeof(kSnapshotMagic) + 4 * 4;
constexpr size_t kSlots = kSnapshotHistory + 1;
constexpr char kProfileTimeValue[] = "ProfileTime";

std::string SlotName(size_t slot) { return "Snapshot" + std::to_string(slot); }

void PutNumber(std::vector<BYTE>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

uint32_t NumberAt(const std::vector<BYTE>& in, size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[at + i]) << (8 * i);
    return value;
}

std::optional<std::vector<BYTE>> ReadValue(HKEY key, const char* name) {
    DWORD length = 0;
    if (ReadBytes(key, name, nullptr, length) != ERROR_SUCCESS || length == 0) return std::nullopt;
    std::vector<BYTE> bytes(length);
    if (ReadBytes(key, name, bytes.data(), length) != ERROR_SUCCESS) return std::nullopt;
    bytes.resize(length);
    return bytes;
}

struct Kept {
    size_t slot = 0;
    uint32_t sequence = 0;
    Snapshot snapshot;
};

// The snapshot in one value; nothing when the value is missing or is not exactly such a record.
std::optional<Kept> ReadSlot(HKEY resolution, size_t slot) {
    const std::optional<std::vector<BYTE>> bytes = ReadValue(resolution, SlotName(slot).c_str());
    if (!bytes || bytes->size() < kHeaderBytes ||
        std::memcmp(bytes->data(), kSnapshotMagic, sizeof(kSnapshotMagic)) != 0)
        return std::nullopt;
    Kept kept;
    kept.slot = slot;
    kept.sequence = NumberAt(*bytes, 4);
    kept.snapshot.info.time.dwLowDateTime = NumberAt(*bytes, 8);
    kept.snapshot.info.time.dwHighDateTime = NumberAt(*bytes, 12);
    kept.snapshot.info.dpi = NumberAt(*bytes, 16);
    std::optional<IconPlaces> places =
        DecodeIconPlaces(std::vector<BYTE>(bytes->begin() + kHeaderBytes, bytes->end()));
    if (!places) return std::nullopt;
    kept.snapshot.info.icons = places->size();
    kept.snapshot.places = std::move(*places);
    return kept;
}

// Every readable snapshot of the resolution key, newest first, numbered from 1.
std::vector<Kept> ReadAll(HKEY resolution) {
    std::vector<Kept> all;
    for (size_t slot = 0; slot < kSlots; ++slot)
        if (std::optional<Kept> kept = ReadSlot(resolution, slot)) all.push_back(std::move(*kept));
    std::sort(all.begin(), all.end(), [](const Kept& a, const Kept& b) { return a.sequence > b.sequence; });
    for (size_t i = 0; i < all.size(); ++i) all[i].snapshot.info.number = static_cast<int>(i + 1);
    return all;
}

uint64_t Ticks(const FILETIME& time) {
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME Now() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return now;
}

}  // namespace

std::vector<SnapshotInfo> ListSnapshots(const ScreenSize& size) {
    std::vector<SnapshotInfo> infos;
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read);
    if (!resolution) return infos;
    for (const Kept& kept : ReadAll(resolution.get())) infos.push_back(kept.snapshot.info);
    return infos;
}

std::optional<Snapshot> ReadSnapshot(const ScreenSize& size, int number) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read);
    if (!resolution || number < 1) return std::nullopt;
    std::vector<Kept> all = ReadAll(resolution.get());
    if (static_cast<size_t>(number) > all.size()) return std::nullopt;
    return std::move(all[number - 1].snapshot);
}

bool KeepSnapshot(const ScreenSize& size, const IconPlaces& places, UINT dpi) {
    if (places.empty()) return false;
    // Only an arrangement the product already keeps a key for: a key made here would hide from the
    // first set-up that the arrangement is new (and from the carry-over of an older version's tree).
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution) return false;
    const std::vector<Kept> all = ReadAll(resolution.get());
    size_t slot = 0;
    uint32_t sequence = 1;
    if (!all.empty()) {
        const Kept& latest = all.front();
        sequence = latest.sequence + 1;
        if (latest.snapshot.info.dpi == dpi && SamePlaces(latest.snapshot.places, places)) {
            // The same layout seen again: the latest only takes the new time, and the history keeps
            // what it had.
            slot = latest.slot;
            sequence = latest.sequence;
        } else {
            // A slot no readable snapshot holds first, else the oldest's.
            std::vector<bool> used(kSlots, false);
            for (const Kept& kept : all) used[kept.slot] = true;
            const auto unused = std::find(used.begin(), used.end(), false);
            slot = unused != used.end() ? static_cast<size_t>(unused - used.begin()) : all.back().slot;
        }
    }
    const FILETIME now = Now();
    std::vector<BYTE> bytes(kSnapshotMagic, kSnapshotMagic + sizeof(kSnapshotMagic));
    PutNumber(bytes, sequence);
    PutNumber(bytes, now.dwLowDateTime);
    PutNumber(bytes, now.dwHighDateTime);
    PutNumber(bytes, dpi);
    const std::vector<BYTE> encoded = EncodeIconPlaces(places);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    return WriteBytes(resolution.get(), SlotName(slot).c_str(), bytes.data(),
                      static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

void NoteProfileTime(const ScreenSize& size) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution) return;
    const FILETIME now = Now();
    BYTE data[8];
    EncodePosition({static_cast<LONG>(now.dwLowDateTime), static_cast<LONG>(now.dwHighDateTime)}, data);
    WriteBytes(resolution.get(), kProfileTimeValue, data, sizeof(data));
}

std::optional<FILETIME> ReadProfileTime(const ScreenSize& size) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read);
    BYTE data[8];
    DWORD length = sizeof(data);
    if (!resolution || ReadBytes(resolution.get(), kProfileTimeValue, data, length) != ERROR_SUCCESS ||
        length != sizeof(data))
        return std::nullopt;
    const POINT parts = DecodePosition(data);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(parts.x);
    time.dwHighDateTime = static_cast<DWORD>(parts.y);
    return time;
}

std::optional<Snapshot> SnapshotNewerThanProfile(const ScreenSize& size) {
    std::optional<Snapshot> latest = ReadSnapshot(size, 1);
    if (!latest) return std::nullopt;
    // A tree from before profile times were kept: its profiles are older than any snapshot.
    const std::optional<FILETIME> profile = ReadProfileTime(size);
    if (profile && Ticks(latest->info.time) <= Ticks(*profile)) return std::nullopt;
    return latest;
}

bool KeepLayoutAutomatically() {
    DWORD value = 1;
    unique_hkey root = OpenKeyForReading(HKEY_CURRENT_USER, kRootKey);
    if (!root || ReadNumber(root.get(), kKeepLayoutValue, value) != ERROR_SUCCESS) return true;
    return value != 0;
}

bool SetKeepLayoutAutomatically(bool keep) {
    unique_hkey root = CreateKey(HKEY_CURRENT_USER, kRootKey);
    return root && WriteNumber(root.get(), kKeepLayoutValue, keep ? 1 : 0) == ERROR_SUCCESS;
}

}  // namespace plx

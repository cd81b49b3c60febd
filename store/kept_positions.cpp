#include "store/kept_positions.h"

#include <cstdint>
#include <cstring>

#include "win32/registry.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

constexpr BYTE kMagic[4] = {'P', 'X', 'U', '1'};

void PutNumber(std::vector<BYTE>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

bool TakeNumber(const std::vector<BYTE>& in, size_t& at, uint32_t& value) {
    if (in.size() - at < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[at + i]) << (8 * i);
    at += 4;
    return true;
}

}  // namespace

std::vector<BYTE> EncodeIconPlaces(const IconPlaces& places) {
    std::vector<BYTE> out(kMagic, kMagic + sizeof(kMagic));
    PutNumber(out, static_cast<uint32_t>(places.size()));
    for (const IconPlace& place : places) {
        const std::wstring label = ToWide(place.label);
        PutNumber(out, static_cast<uint32_t>(place.position.x));
        PutNumber(out, static_cast<uint32_t>(place.position.y));
        PutNumber(out, static_cast<uint32_t>(label.size()));
        for (wchar_t c : label) {
            out.push_back(static_cast<BYTE>(c & 0xFF));
            out.push_back(static_cast<BYTE>((c >> 8) & 0xFF));
        }
    }
    return out;
}

std::optional<IconPlaces> DecodeIconPlaces(const std::vector<BYTE>& bytes) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) return std::nullopt;
    size_t at = sizeof(kMagic);
    uint32_t count = 0;
    TakeNumber(bytes, at, count);
    IconPlaces places;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t x = 0, y = 0, length = 0;
        if (!TakeNumber(bytes, at, x) || !TakeNumber(bytes, at, y) || !TakeNumber(bytes, at, length))
            return std::nullopt;
        if ((bytes.size() - at) / 2 < length) return std::nullopt;
        std::wstring label(length, L'\0');
        for (uint32_t c = 0; c < length; ++c, at += 2)
            label[c] = static_cast<wchar_t>(bytes[at] | (bytes[at + 1] << 8));
        IconPlace place;
        place.label = ToUtf8(label);
        place.position = {static_cast<LONG>(static_cast<int32_t>(x)),
                          static_cast<LONG>(static_cast<int32_t>(y))};
        places.push_back(std::move(place));
    }
    if (at != bytes.size()) return std::nullopt;
    return places;
}

bool SamePlaces(const IconPlaces& a, const IconPlaces& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].label != b[i].label || a[i].position.x != b[i].position.x ||
            a[i].position.y != b[i].position.y)
            return false;
    return true;
}

bool WriteKeptPositions(const ScreenSize& size, const IconPlaces& places) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution) return false;
    const std::vector<BYTE> bytes = EncodeIconPlaces(places);
    return WriteBytes(resolution.get(), kKeptPositionsValue, bytes.data(),
                      static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

std::optional<IconPlaces> ReadKeptPositions(const ScreenSize& size) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Read);
    if (!resolution) return std::nullopt;
    DWORD length = 0;
    if (ReadBytes(resolution.get(), kKeptPositionsValue, nullptr, length) != ERROR_SUCCESS || length == 0)
        return std::nullopt;
    std::vector<BYTE> bytes(length);
    if (ReadBytes(resolution.get(), kKeptPositionsValue, bytes.data(), length) != ERROR_SUCCESS)
        return std::nullopt;
    bytes.resize(length);
    return DecodeIconPlaces(bytes);
}

}  // namespace plx

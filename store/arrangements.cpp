#include "store/arrangements.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "win32/registry.h"

namespace plx {

namespace {

// A decimal number of at most 9 digits at `at` (a sign only where allowed), which then stands after it.
bool TakeNumber(const std::string& text, size_t& at, bool sign, int& value) {
    bool negative = false;
    if (sign && at < text.size() && text[at] == '-') {
        negative = true;
        ++at;
    }
    const size_t first = at;
    long long number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - first < 9)
        number = number * 10 + (text[at++] - '0');
    if (at == first) return false;
    value = static_cast<int>(negative ? -number : number);
    return true;
}

bool TakeChar(const std::string& text, size_t& at, char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

// "W_H" at `at`.
bool TakeSize(const std::string& text, size_t& at, ArrangedMonitor& monitor) {
    return TakeNumber(text, at, false, monitor.width) && TakeChar(text, at, '_') &&
           TakeNumber(text, at, false, monitor.height) && monitor.width > 0 && monitor.height > 0;
}

// The tail of a name too long for the registry: "+N#" and eight hex digits, N at least the monitors
// named before it.
bool IsChecksumTail(const std::string& text, size_t at, size_t named) {
    int count = 0;
    if (!TakeNumber(text, at, false, count) || !TakeChar(text, at, '#') || static_cast<size_t>(count) < named)
        return false;
    if (text.size() - at != 8) return false;
    for (; at < text.size(); ++at)
        if (!isxdigit(static_cast<unsigned char>(text[at]))) return false;
    return true;
}

bool SameSize(const ArrangedMonitor& a, const ArrangedMonitor& b) {
    return a.width == b.width && a.height == b.height;
}

}  // namespace

std::optional<Arrangement> ParseArrangement(const std::string& name) {
    Arrangement arrangement;
    ArrangedMonitor primary;
    size_t at = 0;
    if (!TakeSize(name, at, primary)) return std::nullopt;
    arrangement.monitors.push_back(primary);
    while (at < name.size()) {
        if (!TakeChar(name, at, '+')) return std::nullopt;
        if (IsChecksumTail(name, at, arrangement.monitors.size() - 1)) {
            arrangement.whole = false;
            return arrangement;
        }
        ArrangedMonitor other;
        if (!TakeSize(name, at, other) || !TakeChar(name, at, '@') || !TakeNumber(name, at, true, other.x) ||
            !TakeChar(name, at, '_') || !TakeNumber(name, at, true, other.y))
            return std::nullopt;
        arrangement.monitors.push_back(other);
    }
    return arrangement;
}

std::vector<int> MatchMonitors(const Arrangement& from, const Arrangement& to) {
    std::vector<int> match(from.monitors.size(), -1);
    std::vector<bool> taken(to.monitors.size(), false);
    // Pass 0: the primaries; pass 1: the others for the others, in order; pass 2: whatever is left.
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t i = 0; i < from.monitors.size(); ++i) {
            if (match[i] >= 0 || (pass == 0 && i != 0) || (pass == 1 && i == 0)) continue;
            for (size_t j = 0; j < to.monitors.size(); ++j) {
                if (taken[j] || !SameSize(from.monitors[i], to.monitors[j])) continue;
                if ((pass == 0 && j != 0) || (pass == 1 && j == 0)) continue;
                match[i] = static_cast<int>(j);
                taken[j] = true;
                break;
            }
        }
    }
    return match;
}

std::vector<KnownArrangement> ArrangementsWithProfiles(const ScreenSize& except) {
    std::vector<KnownArrangement> known;
    unique_hkey root = OpenKeyForReading(HKEY_CURRENT_USER, kRootKey);
    if (!root) return known;
    const std::string exceptName = ResolutionKeyName(except);
    ForEachSubkey(root.get(), [&](const std::string& name) {
        const std::optional<Arrangement> arrangement = ParseArrangement(name);
        // A name that lost monitors to its checksum cannot say where the list view's origin was.
        if (!arrangement || !arrangement->whole || CompareNoCaseOrdinal(name, exceptName) == 0) return true;
        const size_t plus = name.find('+');
        const ArrangedMonitor& primary = arrangement->monitors.front();
        const ScreenSize size{primary.width, primary.height,
                              plus == std::string::npos ? "" : name.substr(plus)};
        unique_hkey resolution = OpenKeyForReading(root.get(), name);
        if (!resolution) return true;
        // Read only: GetCurrentProfile would write "Default" into a key that is merely looked at.
        std::string current;
        if (ReadString(resolution.get(), kCurrentProfileValue, current) != ERROR_SUCCESS ||
            !ProfileName::From(current))
            current = kDefaultProfile;
        const ProfileName profile = *ProfileName::From(current);
        if (!IsProfileKey(resolution.get(), current) ||
            !OpenSlotKey(size, profile, kManualSlot, KeyAccess::Read))
            return true;
        // Named as SavePositions names it: the slot's name and "DPI".
        DWORD dpi = 0;
        unique_hkey profileKey = OpenKeyForReading(resolution.get(), current);
        if (!profileKey ||
            ReadNumber(profileKey.get(), (std::string(kManualSlot) + "DPI").c_str(), dpi) != ERROR_SUCCESS)
            dpi = 0;
        known.push_back({size, *arrangement, profile, dpi});
        return true;
    });
    return known;
}

std::optional<size_t> NearestArrangement(const std::vector<KnownArrangement>& known, const Arrangement& to,
                                         const ScreenSize& lastUsed) {
    std::optional<size_t> nearest;
    // Larger is nearer: monitors in common, last used, less movement.
    std::tuple<int, bool, long long> best;
    for (size_t k = 0; k < known.size(); ++k) {
        const Arrangement& from = known[k].arrangement;
        const std::vector<int> match = MatchMonitors(from, to);
        int common = 0;
        long long movement = 0;
        for (size_t i = 0; i < match.size(); ++i) {
            if (match[i] < 0) continue;
            ++common;
            movement += std::llabs(static_cast<long long>(to.monitors[match[i]].x) - from.monitors[i].x) +
                        std::llabs(static_cast<long long>(to.monitors[match[i]].y) - from.monitors[i].y);
        }
        if (common == 0) continue;
        const std::tuple<int, bool, long long> score{common, known[k].size == lastUsed, -movement};
        if (!nearest || score > best) {
            nearest = k;
            best = score;
        }
    }
    return nearest;
}

std::vector<KeptMonitor> KeptMonitors(const Arrangement& from, const Arrangement& to, POINT toPrimary) {
    int left = 0, top = 0;
    for (const ArrangedMonitor& m : from.monitors) {
        left = std::min(left, m.x);
        top = std::min(top, m.y);
    }
    std::vector<KeptMonitor> kept;
    const std::vector<int> match = MatchMonitors(from, to);
    for (size_t i = 0; i < match.size(); ++i) {
        if (match[i] < 0) continue;
        const ArrangedMonitor& before = from.monitors[i];
        const ArrangedMonitor& after = to.monitors[match[i]];
        const RECT shown = {before.x - left, before.y - top, before.x - left + before.width,
                            before.y - top + before.height};
        kept.push_back({shown, {toPrimary.x + after.x, toPrimary.y + after.y}});
    }
    return kept;
}

bool MoveWithMonitor(POINT saved, const std::vector<KeptMonitor>& kept, UINT savedDpi, UINT dpi,
                     POINT& moved) {
    for (const KeptMonitor& monitor : kept) {
        if (!PtInRect(&monitor.before, saved)) continue;
        int dx = saved.x - monitor.before.left, dy = saved.y - monitor.before.top;
        if (savedDpi != 0 && savedDpi != dpi) {
            dx = MulDiv(dx, static_cast<int>(dpi), static_cast<int>(savedDpi));
            dy = MulDiv(dy, static_cast<int>(dpi), static_cast<int>(savedDpi));
        }
        moved = {monitor.after.x + dx, monitor.after.y + dy};
        return true;
    }
    return false;
}

}  // namespace plx

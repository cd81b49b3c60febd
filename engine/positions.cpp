#include "engine/positions.h"

#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/folder_view.h"
#include "engine/monitors.h"
#include "engine/placement.h"
#include "engine/scaled_places.h"
#include "store/profile_tree.h"
#include "store/slots.h"
#include "win32/dpi.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

constexpr int kLabelBufferChars = 1024;
// How far a saved position may reach past the right and bottom edges: one icon cell.
constexpr int kVisibleMargin = 32;

// The label as the list view holds it, in UTF-8: each icon's positions are stored under its own name,
// whatever its language.
std::string ReadLabel(HWND listView, int index) {
    wchar_t label[kLabelBufferChars] = {};
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = label;
    item.cchTextMax = kLabelBufferChars;
    SendMessageW(listView, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    label[kLabelBufferChars - 1] = L'\0';
    return ToUtf8(label);
}

POINT ReadPosition(HWND listView, int index) {
    POINT pt = {};
    SendMessageW(listView, LVM_GETITEMPOSITION, index, reinterpret_cast<LPARAM>(&pt));
    return pt;
}

RECT ReadBounds(HWND listView, int index) {
    RECT rect = {};
    rect.left = LVIR_BOUNDS;
    SendMessageW(listView, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// The list view packs x and y into 16 bits each, and reads them back as signed. Returns the place as
// the list view then shows it, which is the place the folder view is told.
POINT MoveItem(HWND listView, int index, POINT pt) {
    const WORD x = static_cast<WORD>(pt.x & 0xFFFF);
    const WORD y = static_cast<WORD>(pt.y & 0xFFFF);
    SendMessageW(listView, LVM_SETITEMPOSITION, index, MAKELPARAM(x, y));
    return POINT{static_cast<short>(x), static_cast<short>(y)};
}

bool SavePass(HWND listView, HKEY slot, int count) {
    bool failed = false;
    for (int i = 0; i < count; ++i) {
        const std::string label = ReadLabel(listView, i);
        BYTE data[8];
        EncodePosition(ReadPosition(listView, i), data);
        if (WriteBytes(slot, label.c_str(), data, sizeof(data)) != ERROR_SUCCESS) failed = true;
    }
    return failed;
}

void ClearArrangement(HWND listView) {
    const LONG style = GetWindowLongW(listView, GWL_STYLE);
    const DWORD exStyle = static_cast<DWORD>(SendMessageW(listView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    if (style & LVS_AUTOARRANGE) SetWindowLongW(listView, GWL_STYLE, style & ~LVS_AUTOARRANGE);
    if (exStyle & LVS_EX_SNAPTOGRID)
        SendMessageW(listView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, exStyle & ~LVS_EX_SNAPTOGRID);
}

// Keeps the list view from repainting while the icons move: with redraw on, every move invalidates the
// icon's old and new cells and brings the scroll range up to date, icon by icon. Whatever way the
// restore leaves, redraw comes back on and the whole view is painted once, before any message box: a
// desktop that stops painting is worse than a slow one.
class RedrawSuspended {
public:
    explicit RedrawSuspended(HWND listView) : listView_(listView) {
        SendMessageW(listView_, WM_SETREDRAW, FALSE, 0);
    }
    ~RedrawSuspended() {
        SendMessageW(listView_, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(listView_, nullptr, nullptr,
                     RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
    RedrawSuspended(const RedrawSuspended&) = delete;
    RedrawSuspended& operator=(const RedrawSuspended&) = delete;

private:
    HWND listView_;
};

// Where an icon goes: true with its saved place when one is known for it.
using FindTarget = std::function<bool(const std::string& label, POINT& target)>;

// Where the bounds of an icon reach around its position.
RECT ReadExtent(HWND listView, int index, POINT position) {
    RECT extent = ReadBounds(listView, index);
    OffsetRect(&extent, -position.x, -position.y);
    return extent;
}

// savedDpi: the DPI the places were saved at; 0 when they are to be taken as they are.
bool RestorePass(HWND listView, int count, const FindTarget& find, UINT savedDpi) {
    RedrawSuspended quietView(listView);
    ClearArrangement(listView);
    const DesktopFolderView folderView(listView);
    folderView.StopArranging();
    RECT client = {};
    GetClientRect(listView, &client);
    const MonitorAreas areas = ReadMonitorAreas(listView);
    const UINT dpi = WindowDpi(listView);
    const bool scale = savedDpi != 0 && savedDpi != dpi;
    const bool extents = scale || KeepOnScreenNeedsExtents(areas);

    bool failed = false;
    std::vector<int> found;
    std::vector<POINT> currents;
    std::vector<SavedIcon> saved;
    PlacementList unplaced;
    for (int i = 0; i < count; ++i) {
        const std::string label = ReadLabel(listView, i);
        const POINT current = ReadPosition(listView, i);
        POINT target = {};
        if (find(label, target)) {
            found.push_back(i);
            currents.push_back(current);
            saved.push_back({target, extents ? ReadExtent(listView, i, current) : RECT{}});
        } else {
            failed = true;
            PlacementRecord record;
            record.index = i;
            record.position = current;
            record.bounds = ReadBounds(listView, i);
            unplaced.push_back(record);
        }
    }
    std::vector<POINT> targets;
    if (scale) {
        targets = PlaceScaledIcons(saved, areas, client, savedDpi, dpi);
    } else {
        targets.reserve(saved.size());
        for (const SavedIcon& icon : saved)
            targets.push_back(KeepOnScreen(icon.saved, icon.extent, areas, client, kVisibleMargin));
    }
    PlacementList placed;
    std::vector<FolderViewMove> moved;
    for (size_t k = 0; k < found.size(); ++k) {
        const POINT& target = targets[k];
        if (target.x != currents[k].x || target.y != currents[k].y)
            moved.push_back({found[k], MoveItem(listView, found[k], target)});
        PlacementRecord record;
        record.index = found[k];
        placed.push_back(record);
    }
    folderView.PositionItems(moved);
    if (unplaced.empty()) return failed;

    // New icons must not end up under restored ones: walk each to a free spot. When no spot is
    // left the pass ends, and the icons not yet handled stay where they are.
    for (PlacementRecord& record : placed) record.bounds = ReadBounds(listView, record.index);
    // What no monitor shows and what a taskbar covers count as taken, so that no icon is walked to
    // where nobody sees it.
    for (const RECT& zone : ZonesWithoutIcons(client, areas)) {
        PlacementRecord taken;
        taken.index = -1;
        taken.bounds = zone;
        placed.push_back(taken);
    }
    std::vector<POINT> starts;
    starts.reserve(unplaced.size());
    for (const PlacementRecord& record : unplaced) starts.push_back(record.position);
    const size_t handled = PlaceUnplaced(unplaced, placed, client);
    moved.clear();
    for (size_t i = 0; i < handled; ++i) {
        const PlacementRecord& record = unplaced[i];
        if (record.position.x != starts[i].x || record.position.y != starts[i].y)
            moved.push_back({record.index, MoveItem(listView, record.index, record.position)});
    }
    folderView.PositionItems(moved);
    return failed;
}

}  // namespace

namespace {

// The DPI a slot's positions were saved at is kept in the profile's key, beside the slot, as
// "ManualDPI" or "StartupDPI": in the slot key any name could be an icon's label.
std::string SlotDpiName(const char* slot) { return std::string(slot) + "DPI"; }

}  // namespace

PositionsResult SavePositions(HWND listView, const ScreenSize& size, const ProfileName& profile,
                              const char* slot) {
    unique_hkey key = OpenSlotKey(size, profile, slot, KeyAccess::Create);
    if (!key) return PositionsResult::NoSlot;
    if (unique_hkey profileKey = OpenProfileKey(size, profile, KeyAccess::Write))
        WriteNumber(profileKey.get(), SlotDpiName(slot).c_str(), WindowDpi(listView));
    const int count = static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    if (count <= 0) return PositionsResult::Done;
    return SavePass(listView, key.get(), count) ? PositionsResult::SomeFailed : PositionsResult::Done;
}

PositionsResult RestorePositions(HWND listView, const ScreenSize& size, const ProfileName& profile,
                                 const char* slot) {
    unique_hkey key = OpenSlotKey(size, profile, slot, KeyAccess::Read);
    if (!key) return PositionsResult::NoSlot;
    const int count = static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    if (count <= 0) return PositionsResult::Done;
    unique_hkey writable;
    // Positions saved at another scale are scaled on their monitors, so that they keep their spacing on
    // the grid of this one; a slot that says nothing of its DPI is taken as it is.
    DWORD savedDpi = 0;
    if (unique_hkey profileKey = OpenProfileKey(size, profile, KeyAccess::Read))
        if (ReadNumber(profileKey.get(), SlotDpiName(slot).c_str(), savedDpi) != ERROR_SUCCESS) savedDpi = 0;
    const FindTarget fromSlot = [&](const std::string& label, POINT& target) {
        BYTE data[8];
        bool legacy = false;
        if (!ReadSavedPosition(key.get(), label, data, legacy)) return false;
        // A position an earlier version saved under its spelling of the label is kept under the label
        // itself from now on; the old value stays, as a restore removes nothing.
        if (legacy && (writable || (writable = OpenSlotKey(size, profile, slot, KeyAccess::Write))))
            WriteBytes(writable.get(), label.c_str(), data, sizeof(data));
        target = DecodePosition(data);
        return true;
    };
    return RestorePass(listView, count, fromSlot, savedDpi) ? PositionsResult::SomeFailed
                                                            : PositionsResult::Done;
}

IconPlaces ReadIconPlaces(HWND listView) {
    IconPlaces places;
    const int count = static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) places.push_back({ReadLabel(listView, i), ReadPosition(listView, i)});
    return places;
}

bool PlaceIcons(HWND listView, const IconPlaces& places, UINT savedDpi) {
    const int count = static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    if (count <= 0) return true;
    // Icons of one label take that label's places in their order, so that icons named alike each get
    // their own place back.
    std::map<std::string, std::vector<POINT>> byLabel;
    for (const IconPlace& place : places) byLabel[place.label].push_back(place.position);
    std::map<std::string, size_t> taken;
    const FindTarget fromPlaces = [&](const std::string& label, POINT& target) {
        const auto found = byLabel.find(label);
        if (found == byLabel.end()) return false;
        size_t& next = taken[label];
        if (next >= found->second.size()) return false;
        target = found->second[next++];
        return true;
    };
    return !RestorePass(listView, count, fromPlaces, savedDpi);
}

}  // namespace plx

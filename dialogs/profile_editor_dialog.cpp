#include "dialogs/profile_editor_dialog.h"

#include <oleauto.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "dialogs/profile_title_check.h"
#include "resources/resource.h"
#include "resources/resource.h"
#include "win32/boundary.h"

namespace plx {

namespace {

const char* layeredWindowExportName = "SetLayeredWindowAttributes";

// The window's size once the dialog has opened, whatever the template measures on this screen.
constexpr int kEditorWidth = 720;
constexpr int kEditorHeight = 511;
// The header check box keeps this far from the left edge of column 0 and from its right edge.
constexpr int kHeaderCheckBoxMargin = 4;

constexpr UINT kUnticked = 1;
constexpr UINT kTicked = 2;

// Shown in the Type column of an item that no profile can hide, in place of its type.
constexpr char kCloudSyncedNote[] = "Synced with a cloud: stays on the desktop";

struct Column {
    const char* heading;
    int width;
    int format;
};
// Column 0 has no heading: the header check box "Name" stands there.
constexpr Column kColumns[] = {
    {"", 240, LVCFMT_LEFT},
    {"Size", 120, LVCFMT_RIGHT},
    {"Type", 150, LVCFMT_LEFT},
    {"Date Modified", 150, LVCFMT_LEFT},
};
constexpr int kSizeColumn = 1;
constexpr int kTypeColumn = 2;
constexpr int kDateColumn = 3;

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(window, text.data(), length + 1);
    return text.data();
}

// The whole kilobytes that hold size bytes, at least 1: 1 to 1024 bytes are 1 KB, 1025 bytes 2 KB.
DWORD Kilobytes(DWORD size) {
    DWORD kb = size >> 10;
    if (kb == 0) kb = 1;
    if (static_cast<unsigned long long>(kb) * 1024 < size) ++kb;
    return kb;
}

// The number as the user's locale writes it ("1,206" in the United States), without the decimals
// that GetNumberFormatA always adds.
std::string LocaleNumber(DWORD number) {
    const std::string plain = std::to_string(number);
    char formatted[512] = {};
    if (!GetNumberFormatA(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE, plain.c_str(), nullptr, formatted,
                          sizeof(formatted)))
        return plain;
    std::string text = formatted;
    char separator[512] = {};
    if (!GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof(separator))) return text;
    const size_t cut = separator[0] ? text.rfind(separator) : std::string::npos;
    if (cut != std::string::npos) text.resize(cut);
    return text;
}

// The time as the system's date conversion writes it for the user's settings; the text of the date
// 0.0 when the time cannot be converted.
std::string DateText(const FILETIME& written) {
    FILETIME local = {};
    FileTimeToLocalFileTime(&written, &local);
    SYSTEMTIME system = {};
    double date = 0.0;
    if (!FileTimeToSystemTime(&local, &system) || !SystemTimeToVariantTime(&system, &date)) date = 0.0;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = date;
    std::string text;
    if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_DATE)) &&
        SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)) && value.bstrVal) {
        const int wide = static_cast<int>(SysStringLen(value.bstrVal));
        const int bytes = WideCharToMultiByte(CP_ACP, 0, value.bstrVal, wide, nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<size_t>(std::max(bytes, 0)));
        if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, value.bstrVal, wide, &text[0], bytes, nullptr, nullptr);
    }
    VariantClear(&value);
    return text;
}

// What a search for path finds, the search closed at once.
bool FindFile(const std::string& path, WIN32_FIND_DATAA& found) {
    return static_cast<bool>(unique_hfind(FindFirstFileA(path.c_str(), &found)));
}

void SetCellText(HWND listView, int row, int column, const std::string& text) {
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(text.c_str());
    SendMessageA(listView, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

UINT StateImage(HWND listView, int row) {
    const auto state =
        SendMessageA(listView, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK);
    return static_cast<UINT>(state & LVIS_STATEIMAGEMASK) >> 12;
}

void SetStateImage(HWND listView, int row, UINT image) {
    LVITEMA state = {};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(image);
    SendMessageA(listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

int RowCount(HWND listView) { return static_cast<int>(SendMessageA(listView, LVM_GETITEMCOUNT, 0, 0)); }

DesktopItem* RowItem(HWND listView, int row) {
    LVITEMA read = {};
    read.mask = LVIF_PARAM;
    read.iItem = row;
    if (!SendMessageA(listView, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&read))) return nullptr;
    return reinterpret_cast<DesktopItem*>(read.lParam);
}

// A row whose item a cloud keeps in sync: it stays ticked, and the header box does not count it.
bool IsFixedRow(HWND listView, int row) {
    const DesktopItem* item = RowItem(listView, row);
    return item && item->CloudSynced;
}

// BM_SETSTYLE with redraw. The box's other style bits go along: on some systems the message replaces
// the whole style rather than its type, and without BS_NOTIFY the box would stop reporting presses.
void SetButtonType(HWND box, DWORD type) {
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(box, GWL_STYLE));
    SendMessageA(box, BM_SETSTYLE, (style & ~static_cast<DWORD>(BS_TYPEMASK) & 0xFFFF) | type, TRUE);
}

// A control's window rectangle in the client coordinates of parent.
RECT RectIn(HWND parent, HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

constexpr UINT kKeepOrder = SWP_NOZORDER | SWP_NOACTIVATE;

void MoveBy(HWND dialog, HWND control, int dx, int dy) {
    const RECT rect = RectIn(dialog, control);
    SetWindowPos(control, nullptr, rect.left + dx, rect.top + dy, 0, 0, SWP_NOSIZE | kKeepOrder);
}

void StretchBy(HWND control, int dx, int dy) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    SetWindowPos(control, nullptr, 0, 0, rect.right - rect.left + dx, rect.bottom - rect.top + dy,
                 SWP_NOMOVE | kKeepOrder);
}

}  // namespace

const char* SetLayeredWindowExportName(const char* name) {
    return std::exchange(layeredWindowExportName, name);
}

ProfileEditorDialog::ProfileEditorDialog(DesktopItemList& items, const ProfileNameSet& takenNames,
                                         std::string title)
    : Dialog(IDD_PROFILE_EDITOR, true), items_(items), takenNames_(takenNames), title_(std::move(title)) {
    // Looked up at run time: systems before Windows 2000 have no layered windows, and the dialog then
    // offers no transparency.
    user32_.reset(LoadLibraryA("user32.dll"));
    if (!user32_) return;
    setLayeredWindowAttributes_ = reinterpret_cast<SetLayeredWindowAttributesFunction>(
        reinterpret_cast<void*>(GetProcAddress(user32_.get(), layeredWindowExportName)));
    if (!setLayeredWindowAttributes_) user32_.reset();
}

ProfileEditorDialog::~ProfileEditorDialog() = default;

INT_PTR ProfileEditorDialog::Run(HWND owner, HIMAGELIST imageList) {
    return RunModal(owner, reinterpret_cast<LPARAM>(imageList));
}

BOOL ProfileEditorDialog::OnInitDialog(LPARAM initParam) {
    headerCheckBox_ = nullptr;
    OpenTransparency();
    OpenCaptionAndTitle();
    OpenListView(reinterpret_cast<HIMAGELIST>(initParam));
    AddRows();
    FitToEditorSize();
    PlaceHeaderCheckBox();
    return TRUE;
}

void ProfileEditorDialog::OpenTransparency() {
    HWND slider = Item(IDC_EDITOR_SLIDER);
    if (!setLayeredWindowAttributes_) {
        ShowWindow(slider, SW_HIDE);
        ShowWindow(Item(IDC_EDITOR_SLIDER_GROUP), SW_HIDE);
        return;
    }
    SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(20, 100));
    SendMessageA(slider, TBM_SETPOS, TRUE, 100);
    SendMessageA(slider, TBM_SETLINESIZE, 0, 1);
    SendMessageA(slider, TBM_SETPAGESIZE, 0, 10);
    const LONG_PTR exStyle = GetWindowLongPtrA(Window(), GWL_EXSTYLE);
    SetWindowLongPtrA(Window(), GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
    setLayeredWindowAttributes_(Window(), 0, 255, LWA_ALPHA);
}

void ProfileEditorDialog::OpenCaptionAndTitle() {
    if (title_.empty()) {
        SetWindowTextA(Window(), "New Profile - " PLAXEN_PRODUCT_TITLE);
        EnableWindow(Item(IDOK), FALSE);
        return;
    }
    SetWindowTextA(Window(), (title_ + " - " + kMessageCaption).c_str());
    SetWindowTextA(Item(IDC_EDITOR_TITLE), title_.c_str());
}

void ProfileEditorDialog::OpenListView(HIMAGELIST imageList) {
    listView_ = Item(IDC_EDITOR_LIST);
    SetWindowSubclass(listView_, ListViewProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    SendMessageA(listView_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_INFOTIP);
    if (imageList) {
        auto replaced = reinterpret_cast<HIMAGELIST>(
            SendMessageA(listView_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(imageList)));
        if (replaced) ImageList_Destroy(replaced);
    }
    int index = 0;
    for (const Column& column : kColumns) {
        LVCOLUMNA format = {};
        format.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        format.fmt = column.format;
        format.cx = column.width;
        format.pszText = const_cast<char*>(column.heading);
        SendMessageA(listView_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index++),
                     reinterpret_cast<LPARAM>(&format));
    }
}

void ProfileEditorDialog::AddRows() {
    // Only movable file-system items are offered; the others keep their flags.
    std::vector<DesktopItem*> offered;
    for (DesktopItem& item : items_)
        if (item.Movable()) offered.push_back(&item);
    std::stable_sort(offered.begin(), offered.end(), [](const DesktopItem* a, const DesktopItem* b) {
        return lstrcmpA(a->DisplayName.c_str(), b->DisplayName.c_str()) < 0;
    });
    for (DesktopItem* item : offered) {
        LVITEMA row = {};
        row.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        row.iItem = RowCount(listView_);
        row.pszText = const_cast<char*>(item->DisplayName.c_str());
        row.iImage = item->IconIndex;
        row.lParam = reinterpret_cast<LPARAM>(item);
        const auto index =
            static_cast<int>(SendMessageA(listView_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
        if (index < 0) continue;
        SetStateImage(listView_, index, item->Visible || item->CloudSynced ? kTicked : kUnticked);
        SetCellText(listView_, index, kTypeColumn, item->CloudSynced ? kCloudSyncedNote : item->TypeName);

        WIN32_FIND_DATAA found = {};
        if (!FindFile(item->Path, found)) continue;
        // Only the low 32 bits of the size count: a file of 4 GiB + 1 byte shows 1 KB.
        const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!directory && found.nFileSizeLow != 0)
            SetCellText(listView_, index, kSizeColumn, LocaleNumber(Kilobytes(found.nFileSizeLow)) + " KB");
        SetCellText(listView_, index, kDateColumn, DateText(found.ftLastWriteTime));
    }
}

void ProfileEditorDialog::FitToEditorSize() {
    RECT window = {};
    GetWindowRect(Window(), &window);
    const int dx = kEditorWidth - (window.right - window.left);
    const int dy = kEditorHeight - (window.bottom - window.top);
    if (dx == 0 && dy == 0) return;
    // Around the old centre; the division drops the fraction toward zero.
    SetWindowPos(Window(), nullptr, window.left + dx / -2, window.top + dy / -2, kEditorWidth, kEditorHeight,
                 kKeepOrder);
    StretchBy(Item(IDC_EDITOR_TITLE), dx, 0);
    for (int button : {IDHELP, IDCANCEL, IDOK}) MoveBy(Window(), Item(button), dx, dy);
    if (setLayeredWindowAttributes_) {
        MoveBy(Window(), Item(IDC_EDITOR_SLIDER_GROUP), dx, 0);
        MoveBy(Window(), Item(IDC_EDITOR_SLIDER), dx, 0);
    }
    StretchBy(listView_, dx, dy);
    // The icon sits at the list's top right corner, 8 pixels above it.
    const RECT list = RectIn(Window(), listView_);
    HWND icon = Item(IDC_EDITOR_ICON);
    const RECT iconRect = RectIn(Window(), icon);
    SetWindowPos(icon, nullptr, list.right - (iconRect.right - iconRect.left),
                 list.top - 8 - (iconRect.bottom - iconRect.top), 0, 0, SWP_NOSIZE | kKeepOrder);
}

void ProfileEditorDialog::PlaceHeaderCheckBox() {
    header_ = reinterpret_cast<HWND>(SendMessageA(listView_, LVM_GETHEADER, 0, 0));
    SetWindowSubclass(header_, HeaderProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    HWND box = Item(IDC_EDITOR_HEADER_CHECK);
    // SetParent keeps the box where it was relative to its parent's client area; its right edge there,
    // the template's, is as wide as it may ever grow.
    SetParent(box, header_);
    const RECT placed = RectIn(header_, box);
    headerCheckBoxMaxRight_ = headerCheckBoxRight_ = placed.right;
    RECT header = {};
    GetClientRect(header_, &header);
    const int top = (header.bottom - (placed.bottom - placed.top)) / 2 - 1;
    SetWindowPos(box, nullptr, kHeaderCheckBoxMargin, top, 0, 0, SWP_NOSIZE | kKeepOrder);
    // Its first look; the template's two-state style stays unless the rows are mixed or none.
    ShowRowsOn(box, false);
    headerCheckBox_ = box;
}

void ProfileEditorDialog::ShowRowsOn(HWND box, bool twoStateAutomatic) const {
    bool ticked = false;
    bool unticked = false;
    const int rows = RowCount(listView_);
    for (int row = 0; row < rows; ++row)
        if (!IsFixedRow(listView_, row)) (StateImage(listView_, row) == kUnticked ? unticked : ticked) = true;
    if (ticked == unticked) {
        SetButtonType(box, BS_AUTO3STATE);
        SendMessageA(box, BM_SETCHECK, BST_INDETERMINATE, 0);
        return;
    }
    if (twoStateAutomatic) SetButtonType(box, BS_AUTOCHECKBOX);
    SendMessageA(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool ProfileEditorDialog::OnCommand(WORD id, WORD code, HWND) {
    if (id == IDC_EDITOR_TITLE && code == EN_CHANGE) {
        TitleChanged();
        return true;
    }
    return SaveOrCancel(id, code, [this] { Save(); });
}

bool ProfileEditorDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_NOTIFY: {
            const auto* notice = reinterpret_cast<const NMHDR*>(lParam);
            if (notice->idFrom != IDC_EDITOR_LIST) return false;
            if (notice->code == LVN_ITEMCHANGING) {
                // A synced item's tick cannot be taken away, by hand or by the header box.
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                result = (change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_STATEIMAGEMASK) &&
                         (change->uNewState & LVIS_STATEIMAGEMASK) != INDEXTOSTATEIMAGEMASK(kTicked) &&
                         IsFixedRow(listView_, change->iItem);
                return true;
            }
            if (notice->code != LVN_ITEMCHANGED) return false;
            RefreshHeaderCheckBox();
            result = 0;
            return true;
        }
        case WM_HSCROLL:
            ChangeTransparency(reinterpret_cast<HWND>(lParam));
            return false;
        case WM_DESTROY:
            // The list view does not share its image lists, and this one is the system's: detached, it
            // outlives the dialog.
            SendMessageA(listView_, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
            return false;
        default:
            return false;
    }
}

void ProfileEditorDialog::TitleChanged() {
    const std::string text = WindowText(Item(IDC_EDITOR_TITLE));
    if (text.empty())
        EnableWindow(Item(IDOK), FALSE);
    else if (title_.empty())
        EnableWindow(Item(IDOK), TRUE);
    title_ = text;
}

void ProfileEditorDialog::RefreshHeaderCheckBox() {
    // Setting the check marks while the dialog opens raises the same notification.
    if (headerCheckBox_) ShowRowsOn(headerCheckBox_, true);
}

void ProfileEditorDialog::TickOrClearAll() {
    const auto old = SendMessageA(headerCheckBox_, BM_GETCHECK, 0, 0);
    SetButtonType(headerCheckBox_, BS_AUTOCHECKBOX);
    const WPARAM now = old == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    SendMessageA(headerCheckBox_, BM_SETCHECK, now, 0);
    const int rows = RowCount(listView_);
    for (int row = 0; row < rows; ++row)
        SetStateImage(listView_, row, now == BST_CHECKED ? kTicked : kUnticked);
    // The box never keeps the focus: the next press must raise BN_SETFOCUS again.
    SetFocus(listView_);
}

void ProfileEditorDialog::FitHeaderCheckBox(const NMHEADERA& change) {
    const int wanted = change.pitem->cxy - kHeaderCheckBoxMargin;
    bool resize = true;
    if (wanted < headerCheckBoxRight_)
        headerCheckBoxRight_ = wanted;
    else if (headerCheckBoxRight_ >= headerCheckBoxMaxRight_)
        resize = false;
    else
        headerCheckBoxRight_ = std::min(wanted, headerCheckBoxMaxRight_);
    if (resize) {
        const RECT box = RectIn(header_, headerCheckBox_);
        SetWindowPos(headerCheckBox_, nullptr, 0, 0, headerCheckBoxRight_ - box.left, box.bottom - box.top,
                     SWP_NOMOVE | kKeepOrder);
    }
    InvalidateRect(header_, nullptr, TRUE);
}

void ProfileEditorDialog::ChangeTransparency(HWND slider) {
    if (!setLayeredWindowAttributes_) return;
    const auto position = static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0));
    // Position 100 gives 254, not 255: 100 * 2.55 is 254.99999999999997 in double precision. The
    // product goes through memory so that it is rounded to a double even where the arithmetic runs
    // in the x87's wider registers (x86): kept wider, 20 * 2.55 would fall just short of 51.
    const volatile double product = position * 2.55;
    const auto alpha = static_cast<BYTE>(static_cast<int>(product));
    setLayeredWindowAttributes_(Window(), 0, alpha, LWA_ALPHA);
}

void ProfileEditorDialog::Save() {
    HWND titleBox = Item(IDC_EDITOR_TITLE);
    title_ = WindowText(titleBox);
    if (!AcceptProfileTitle(Window(), titleBox, title_, takenNames_)) return;
    const int rows = RowCount(listView_);
    for (int row = 0; row < rows; ++row) {
        DesktopItem* item = RowItem(listView_, row);
        if (item) item->Visible = StateImage(listView_, row) != kUnticked;
    }
    End(IDOK);
}

LRESULT CALLBACK ProfileEditorDialog::ListViewProcedure(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam, UINT_PTR id, DWORD_PTR self) {
    auto* dialog = reinterpret_cast<ProfileEditorDialog*>(self);
    if (message == WM_NOTIFY) {
        // The header's changes go on to the list view's own handling, or the column would not change.
        // HDN_ITEMCHANGEDW carries the same fields at the same places as the A form.
        const auto* change = reinterpret_cast<const NMHEADERA*>(lParam);
        if (change->hdr.hwndFrom == dialog->header_ && dialog->headerCheckBox_ &&
            (change->hdr.code == HDN_ITEMCHANGEDA || change->hdr.code == HDN_ITEMCHANGEDW) &&
            change->iItem == 0 && change->pitem && (change->pitem->mask & HDI_WIDTH)) {
            CallAtBoundary(false, [&] {
                dialog->FitHeaderCheckBox(*change);
                return true;
            });
        }
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, ListViewProcedure, id);
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK ProfileEditorDialog::HeaderProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                      UINT_PTR id, DWORD_PTR self) {
    auto* dialog = reinterpret_cast<ProfileEditorDialog*>(self);
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_EDITOR_HEADER_CHECK && dialog->headerCheckBox_ &&
        reinterpret_cast<HWND>(lParam) == dialog->headerCheckBox_) {
        if (HIWORD(wParam) == BN_SETFOCUS) {
            CallAtBoundary(false, [&] {
                dialog->TickOrClearAll();
                return true;
            });
            return 0;
        }
        // The press took effect when the box got the focus. When the button is let go, the box
        // toggles itself once more, as an automatic check box does: it is put back in step with
        // the rows.
        if (HIWORD(wParam) == BN_CLICKED) {
            CallAtBoundary(false, [&] {
                dialog->RefreshHeaderCheckBox();
                return true;
            });
            return 0;
        }
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(window, HeaderProcedure, id);
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace plx

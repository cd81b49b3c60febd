#include "dialogs/profile_editor_dialog.h"

#include <oleauto.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "dialogs/profile_title_check.h"
#include "resources/resource.h"
#include "win32/boundary.h"
#include "win32/module.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

const char* layeredWindowExportName = "SetLayeredWindowAttributes";

// Sizes at 96 DPI, scaled by the dialog's DPI. The window's size once the dialog has opened, whatever
// the template measures on this screen:
constexpr int kEditorWidth = 720;
constexpr int kEditorHeight = 511;
// the header check box keeps this far from the left edge of column 0 and from its right edge;
constexpr int kHeaderCheckBoxMargin = 4;
// the icon's bottom edge lies this far above the list.
constexpr int kIconGap = 8;

constexpr UINT kUnticked = 1;
constexpr UINT kTicked = 2;

// Shown in the Type column of an item that no profile can hide, in place of its type.
constexpr char kCloudSyncedNote[] = "Synced with a cloud: stays on the desktop";

struct Column {
    const wchar_t* heading;
    // At 96 DPI.
    int width;
    int format;
};
// Column 0 has no heading: the header check box "Name" stands there.
constexpr Column kColumns[] = {
    {L"", 240, LVCFMT_LEFT},
    {L"Size", 120, LVCFMT_RIGHT},
    {L"Type", 150, LVCFMT_LEFT},
    {L"Date Modified", 150, LVCFMT_LEFT},
};
constexpr int kSizeColumn = 1;
constexpr int kTypeColumn = 2;
constexpr int kDateColumn = 3;

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    return ToUtf8(text.data());
}

// The whole kilobytes that hold size bytes, at least 1: 1 to 1024 bytes are 1 KB, 1025 bytes 2 KB.
DWORD Kilobytes(DWORD size) {
    DWORD kb = size >> 10;
    if (kb == 0) kb = 1;
    if (static_cast<unsigned long long>(kb) * 1024 < size) ++kb;
    return kb;
}

// The number as the user's locale writes it ("1,206" in the United States), without the decimals
// that GetNumberFormatW always adds.
std::string LocaleNumber(DWORD number) {
    // Not to_wstring, which would bring the C runtime's printf into the module.
    const std::wstring plain = ToWide(std::to_string(number));
    wchar_t formatted[512] = {};
    if (!GetNumberFormatW(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE, plain.c_str(), nullptr, formatted,
                          ARRAYSIZE(formatted)))
        return ToUtf8(plain);
    std::wstring text = formatted;
    wchar_t separator[512] = {};
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, ARRAYSIZE(separator)))
        return ToUtf8(text);
    const size_t cut = separator[0] ? text.rfind(separator) : std::wstring::npos;
    if (cut != std::wstring::npos) text.resize(cut);
    return ToUtf8(text);
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
        SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)) && value.bstrVal)
        text = ToUtf8(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
    return text;
}

// What a search for path finds, the search closed at once.
bool FindFile(const std::string& path, WIN32_FIND_DATAW& found) {
    return static_cast<bool>(unique_hfind(FindFirstFileW(ToWide(path).c_str(), &found)));
}

void SetCellText(HWND listView, int row, int column, const std::string& text) {
    std::wstring wide = ToWide(text);
    LVITEMW cell = {};
    cell.iSubItem = column;
    cell.pszText = &wide[0];
    SendMessageW(listView, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

UINT StateImage(HWND listView, int row) {
    const auto state =
        SendMessageW(listView, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK);
    return static_cast<UINT>(state & LVIS_STATEIMAGEMASK) >> 12;
}

void SetStateImage(HWND listView, int row, UINT image) {
    LVITEMW state = {};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(image);
    SendMessageW(listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

int RowCount(HWND listView) { return static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0)); }

DesktopItem* RowItem(HWND listView, int row) {
    LVITEMW read = {};
    read.mask = LVIF_PARAM;
    read.iItem = row;
    if (!SendMessageW(listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read))) return nullptr;
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
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(box, GWL_STYLE));
    SendMessageW(box, BM_SETSTYLE, (style & ~static_cast<DWORD>(BS_TYPEMASK) & 0xFFFF) | type, TRUE);
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
    user32_.reset(LoadSystemLibrary(L"user32.dll"));
    if (!user32_) return;
    // Export names are ANSI by the platform's design: GetProcAddress has no wide form.
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
    iconDesignSize_ = 0;
    iconAtDpi_.reset();
    OpenTransparency();
    OpenCaptionAndTitle();
    OpenListView(reinterpret_cast<HIMAGELIST>(initParam));
    AddRows();
    ScaleIcon();
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
    SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(20, 100));
    SendMessageW(slider, TBM_SETPOS, TRUE, 100);
    SendMessageW(slider, TBM_SETLINESIZE, 0, 1);
    SendMessageW(slider, TBM_SETPAGESIZE, 0, 10);
    const LONG_PTR exStyle = GetWindowLongPtrW(Window(), GWL_EXSTYLE);
    SetWindowLongPtrW(Window(), GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
    setLayeredWindowAttributes_(Window(), 0, 255, LWA_ALPHA);
}

void ProfileEditorDialog::OpenCaptionAndTitle() {
    if (title_.empty()) {
        SetWindowTextW(Window(), ToWide("New Profile - " PLAXEN_PRODUCT_TITLE).c_str());
        EnableWindow(Item(IDOK), FALSE);
        return;
    }
    SetWindowTextW(Window(), ToWide(title_ + " - " + kMessageCaption).c_str());
    SetWindowTextW(Item(IDC_EDITOR_TITLE), ToWide(title_).c_str());
}

void ProfileEditorDialog::OpenListView(HIMAGELIST imageList) {
    listView_ = Item(IDC_EDITOR_LIST);
    SetWindowSubclass(listView_, ListViewProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    SendMessageW(listView_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_INFOTIP);
    if (imageList) {
        auto replaced = reinterpret_cast<HIMAGELIST>(
            SendMessageW(listView_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(imageList)));
        if (replaced) ImageList_Destroy(replaced);
    }
    int index = 0;
    for (const Column& column : kColumns) {
        LVCOLUMNW format = {};
        format.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        format.fmt = column.format;
        format.cx = Scale(column.width);
        format.pszText = const_cast<wchar_t*>(column.heading);
        SendMessageW(listView_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index++),
                     reinterpret_cast<LPARAM>(&format));
    }
}

void ProfileEditorDialog::AddRows() {
    // Only movable file-system items are offered; the others keep their flags.
    struct Offered {
        DesktopItem* item;
        std::wstring name;
    };
    std::vector<Offered> offered;
    for (DesktopItem& item : items_)
        if (item.Movable()) offered.push_back({&item, ToWide(item.DisplayName)});
    std::stable_sort(offered.begin(), offered.end(), [](const Offered& a, const Offered& b) {
        return lstrcmpW(a.name.c_str(), b.name.c_str()) < 0;
    });
    for (Offered& entry : offered) {
        DesktopItem* item = entry.item;
        LVITEMW row = {};
        row.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        row.iItem = RowCount(listView_);
        row.pszText = &entry.name[0];
        row.iImage = item->IconIndex;
        row.lParam = reinterpret_cast<LPARAM>(item);
        const auto index =
            static_cast<int>(SendMessageW(listView_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
        if (index < 0) continue;
        SetStateImage(listView_, index, item->Visible || item->CloudSynced ? kTicked : kUnticked);
        SetCellText(listView_, index, kTypeColumn, item->CloudSynced ? kCloudSyncedNote : item->TypeName);

        WIN32_FIND_DATAW found = {};
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
    const int width = Scale(kEditorWidth);
    const int height = Scale(kEditorHeight);
    const int dx = width - (window.right - window.left);
    const int dy = height - (window.bottom - window.top);
    if (dx == 0 && dy == 0) return;
    // Around the old centre; the division drops the fraction toward zero.
    SetWindowPos(Window(), nullptr, window.left + dx / -2, window.top + dy / -2, width, height, kKeepOrder);
    StretchBy(Item(IDC_EDITOR_TITLE), dx, 0);
    for (int button : {IDHELP, IDCANCEL, IDOK}) MoveBy(Window(), Item(button), dx, dy);
    if (setLayeredWindowAttributes_) {
        MoveBy(Window(), Item(IDC_EDITOR_SLIDER_GROUP), dx, 0);
        MoveBy(Window(), Item(IDC_EDITOR_SLIDER), dx, 0);
    }
    StretchBy(listView_, dx, dy);
    PlaceIcon();
}

void ProfileEditorDialog::ScaleIcon() {
    HWND icon = Item(IDC_EDITOR_ICON);
    // The static shows the icon at the size the resource has, whatever the DPI: that size is taken
    // for its size at 96 DPI.
    if (iconDesignSize_ == 0) {
        ICONINFO info = {};
        if (!GetIconInfo(reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)), &info)) return;
        unique_hbitmap colour(info.hbmColor);
        unique_hbitmap mask(info.hbmMask);
        BITMAP bitmap = {};
        if (!GetObjectW(info.hbmMask, sizeof(bitmap), &bitmap)) return;
        iconDesignSize_ = bitmap.bmWidth;
    }
    const int size = Scale(iconDesignSize_);
    if (size == iconDesignSize_ && !iconAtDpi_) return;
    unique_hicon scaled(static_cast<HICON>(
        LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDI_PLAXEN), IMAGE_ICON, size, size, 0)));
    if (!scaled) return;
    SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(scaled.get()), 0);
    SetWindowPos(icon, nullptr, 0, 0, size, size, SWP_NOMOVE | kKeepOrder);
    // The one it replaces goes only once the static has let go of it.
    iconAtDpi_ = std::move(scaled);
}

void ProfileEditorDialog::PlaceIcon() {
    // The icon sits at the list's top right corner, a little above it.
    const RECT list = RectIn(Window(), listView_);
    HWND icon = Item(IDC_EDITOR_ICON);
    const RECT iconRect = RectIn(Window(), icon);
    SetWindowPos(icon, nullptr, list.right - (iconRect.right - iconRect.left),
                 list.top - Scale(kIconGap) - (iconRect.bottom - iconRect.top), 0, 0,
                 SWP_NOSIZE | kKeepOrder);
}

void ProfileEditorDialog::PlaceHeaderCheckBox() {
    header_ = reinterpret_cast<HWND>(SendMessageW(listView_, LVM_GETHEADER, 0, 0));
    SetWindowSubclass(header_, HeaderProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    HWND box = Item(IDC_EDITOR_HEADER_CHECK);
    // SetParent keeps the box where it was relative to its parent's client area; its right edge there,
    // the template's, is as wide as it may ever grow.
    SetParent(box, header_);
    const RECT placed = RectIn(header_, box);
    headerCheckBoxMaxRight_ = headerCheckBoxRight_ = placed.right;
    CentreHeaderCheckBox(box);
    // Its first look; the template's two-state style stays unless the rows are mixed or none.
    ShowRowsOn(box, false);
    headerCheckBox_ = box;
}

void ProfileEditorDialog::CentreHeaderCheckBox(HWND box) const {
    const RECT placed = RectIn(header_, box);
    RECT header = {};
    GetClientRect(header_, &header);
    const int top = (header.bottom - (placed.bottom - placed.top)) / 2 - 1;
    SetWindowPos(box, nullptr, Scale(kHeaderCheckBoxMargin), top, 0, 0, SWP_NOSIZE | kKeepOrder);
}

void ProfileEditorDialog::OnDpiChanged(UINT oldDpi) {
    // The base has moved and scaled the dialog's own controls; the rest is pixels of the list. The box
    // comes first: a column's new width makes the list view fit the box to it.
    const auto rescale = [&](int value) {
        return MulDiv(value, static_cast<int>(Dpi()), static_cast<int>(oldDpi));
    };
    if (headerCheckBox_) {
        SendMessageW(headerCheckBox_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
        headerCheckBoxMaxRight_ = rescale(headerCheckBoxMaxRight_);
        headerCheckBoxRight_ = rescale(headerCheckBoxRight_);
        const RECT box = RectIn(header_, headerCheckBox_);
        SetWindowPos(headerCheckBox_, nullptr, 0, 0, headerCheckBoxRight_ - Scale(kHeaderCheckBoxMargin),
                     rescale(box.bottom - box.top), SWP_NOMOVE | kKeepOrder);
        CentreHeaderCheckBox(headerCheckBox_);
    }
    for (int column = 0; column < static_cast<int>(ARRAYSIZE(kColumns)); ++column) {
        const auto width = static_cast<int>(SendMessageW(listView_, LVM_GETCOLUMNWIDTH, column, 0));
        SendMessageW(listView_, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(rescale(width), 0));
    }
    ScaleIcon();
    PlaceIcon();
}

void ProfileEditorDialog::ShowRowsOn(HWND box, bool twoStateAutomatic) const {
    bool ticked = false;
    bool unticked = false;
    const int rows = RowCount(listView_);
    for (int row = 0; row < rows; ++row)
        if (!IsFixedRow(listView_, row)) (StateImage(listView_, row) == kUnticked ? unticked : ticked) = true;
    if (ticked == unticked) {
        SetButtonType(box, BS_AUTO3STATE);
        SendMessageW(box, BM_SETCHECK, BST_INDETERMINATE, 0);
        return;
    }
    if (twoStateAutomatic) SetButtonType(box, BS_AUTOCHECKBOX);
    SendMessageW(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
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
            SendMessageW(listView_, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
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
    const auto old = SendMessageW(headerCheckBox_, BM_GETCHECK, 0, 0);
    SetButtonType(headerCheckBox_, BS_AUTOCHECKBOX);
    const WPARAM now = old == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    SendMessageW(headerCheckBox_, BM_SETCHECK, now, 0);
    const int rows = RowCount(listView_);
    for (int row = 0; row < rows; ++row)
        SetStateImage(listView_, row, now == BST_CHECKED ? kTicked : kUnticked);
    // The box never keeps the focus: the next press must raise BN_SETFOCUS again.
    SetFocus(listView_);
}

void ProfileEditorDialog::FitHeaderCheckBox(const NMHEADERW& change) {
    const int wanted = change.pitem->cxy - Scale(kHeaderCheckBoxMargin);
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
    const auto position = static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
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
        // HDN_ITEMCHANGEDA carries the same fields at the same places as the W form.
        const auto* change = reinterpret_cast<const NMHEADERW*>(lParam);
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

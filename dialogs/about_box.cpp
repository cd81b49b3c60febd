#include "dialogs/about_box.h"

#include <shellapi.h>

#include <cstring>

#include "win32/module.h"
#include "win32/wide_text.h"
#include "resources/resource.h"

namespace plx {

namespace {

POINT PointFrom(LPARAM lParam) {
    return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

HCURSOR LoadCursorImage(HINSTANCE module, LPCWSTR name, UINT flags) {
    return static_cast<HCURSOR>(LoadImageW(module, name, IMAGE_CURSOR, 0, 0, flags));
}

}  // namespace

AboutBox::AboutBox() : Dialog(IDD_ABOUT, false) {}

AboutBox::~AboutBox() = default;

BOOL AboutBox::OnInitDialog(LPARAM) {
    SetWindowTextW(Window(), ToWide(std::string("About ") + kMessageCaption).c_str());
    LoadPicture();
    if (!picture_) {
        SetDlgItemTextW(Window(), IDC_ABOUT_TEXT,
                        ToWide(std::string(kMessageCaption) + " Version 1.1").c_str());
        return TRUE;
    }
    DestroyWindow(Item(IDC_ABOUT_TEXT));
    versionText_ = L"Version 1.1";
    // The picture and its one-pixel frame are 96-DPI sizes too: the box grows with the DPI, and Paint
    // scales the picture into it.
    BITMAP bitmap = {};
    RECT window = {};
    if (PictureBitmap(bitmap) && GetWindowRect(Window(), &window)) {
        const int width = Scale(bitmap.bmWidth + 2);
        const int height = Scale(bitmap.bmHeight + 2);
        const int dx = width - (window.right - window.left);
        const int dy = height - (window.bottom - window.top);
        if (dx != 0 || dy != 0)
            SetWindowPos(Window(), nullptr, window.left - dx / 2, window.top - dy / 2, width, height,
                         SWP_NOZORDER);
    }
    return TRUE;
}

void AboutBox::LoadPicture() {
    HINSTANCE module = ModuleInstance();
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_ABOUT_PICTURE), L"GIF_IMAGE");
    if (!resource) return;
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    if (!bytes || size == 0) return;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (!block) return;
    std::memcpy(block, bytes, size);  // a fixed block's handle is its address
    ComPtr<IStream> stream;
    if (SUCCEEDED(CreateStreamOnHGlobal(block, FALSE, stream.put())))
        OleLoadPicture(stream.get(), static_cast<LONG>(size), TRUE, IID_IPicture,
                       reinterpret_cast<void**>(picture_.put()));
    stream.reset();
    GlobalFree(block);
}

HBITMAP AboutBox::PictureBitmap(BITMAP& size) const {
    OLE_HANDLE handle = 0;
    if (!picture_ || FAILED(picture_->get_Handle(&handle))) return nullptr;
    const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
    return GetObjectW(bitmap, sizeof(size), &size) ? bitmap : nullptr;
}

RECT AboutBox::Scaled(const RECT& rect) const {
    return {Scale(rect.left), Scale(rect.top), Scale(rect.right), Scale(rect.bottom)};
}

bool AboutBox::OnCommand(WORD id, WORD code, HWND) {
    if (code != 0 || (id != IDOK && id != IDCANCEL)) return false;
    End(id);
    return true;
}

bool AboutBox::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_ERASEBKGND:
            if (!picture_) return false;
            Paint(reinterpret_cast<HDC>(wParam));
            result = TRUE;
            return true;
        case WM_MOUSEMOVE:
            UpdateCursor(PointFrom(lParam));
            return true;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) {
                POINT point = {};
                GetCursorPos(&point);
                ScreenToClient(Window(), &point);
                UpdateCursor(point);
            }
            return true;
        case WM_LBUTTONDOWN: {
            End(IDOK);
            const POINT point = PointFrom(lParam);
            const RECT link = Scaled(kLinkAreaRect);
            if (PtInRect(&link, point))
                ShellExecuteW(nullptr, L"open", ToWide(kMakerWebAddress).c_str(), nullptr, nullptr,
                              SW_SHOWMAXIMIZED);
            return true;
        }
        case WM_KILLFOCUS:
            End(IDOK);
            return false;
        case WM_DESTROY:
            RestoreArrow();
            return false;
        default:
            return false;
    }
}

HFONT AboutBox::VersionFont() {
    if (HFONT font = Font()) return font;
    if (!ownFont_ || ownFontDpi_ != Dpi()) {
        LOGFONTW face = {};
        face.lfHeight = -MulDiv(8, static_cast<int>(Dpi()), 72);  // the template's 8 points
        lstrcpynW(face.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
        ownFont_.reset(CreateFontIndirectW(&face));
        ownFontDpi_ = Dpi();
    }
    return ownFont_.get();
}

void AboutBox::Paint(HDC dc) {
    RECT window = {};
    GetWindowRect(Window(), &window);
    RECT rect = {0, 0, window.right - window.left, window.bottom - window.top};
    DrawFrameControl(dc, &rect, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_FLAT);
    BITMAP size = {};
    HBITMAP bitmap = PictureBitmap(size);
    HDC source = bitmap ? CreateCompatibleDC(dc) : nullptr;
    if (source) {
        // Above 96 DPI the picture is stretched: HALFTONE averages the source pixels that meet in each
        // target pixel, so edges and text stay smooth instead of growing steps.
        HGDIOBJ replacedBitmap = SelectObject(source, bitmap);
        const int mode = SetStretchBltMode(dc, HALFTONE);
        POINT origin = {};
        SetBrushOrgEx(dc, 0, 0, &origin);  // as HALFTONE requires
        StretchBlt(dc, 1, 1, rect.right - 2, rect.bottom - 2, source, 0, 0, size.bmWidth, size.bmHeight,
                   SRCCOPY);
        SetBrushOrgEx(dc, origin.x, origin.y, nullptr);
        SetStretchBltMode(dc, mode);
        SelectObject(source, replacedBitmap);
        DeleteDC(source);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    HFONT font = VersionFont();
    HGDIOBJ replaced = font ? SelectObject(dc, font) : nullptr;
    RECT line = Scaled(kVersionLineRect);
    DrawTextW(dc, versionText_.c_str(), static_cast<int>(versionText_.size()), &line, DT_SINGLELINE);
    if (replaced) SelectObject(dc, replaced);
}

void AboutBox::UpdateCursor(POINT point) {
    const CursorState before = cursorState_;
    HCURSOR cursor = nullptr;
    const RECT link = Scaled(kLinkAreaRect);
    if (PtInRect(&link, point)) {
        if (cursorState_ != ArrowCursor) return;
        cursorState_ = SharedHandCursor;
        cursor = LoadCursorImage(nullptr, MAKEINTRESOURCEW(32649), LR_SHARED | LR_DEFAULTSIZE);  // IDC_HAND
        if (!cursor) {
            cursor =
                LoadCursorImage(ModuleInstance(), MAKEINTRESOURCEW(IDC_ABOUT_LINK_CURSOR), LR_DEFAULTSIZE);
            cursorState_ = OwnHandCursor;
            if (!cursor) {
                cursorState_ = ArrowCursor;
                return;
            }
        }
    } else {
        if (cursorState_ == ArrowCursor) return;
        cursorState_ = ArrowCursor;
        cursor = LoadCursorImage(nullptr, MAKEINTRESOURCEW(32512), LR_SHARED | LR_DEFAULTSIZE);  // IDC_ARROW
        if (!cursor) return;
    }
    const auto previous = reinterpret_cast<HCURSOR>(
        SetClassLongPtrW(Window(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor)));
    if (before == OwnHandCursor) DestroyCursor(previous);
}

void AboutBox::RestoreArrow() {
    if (cursorState_ == ArrowCursor) return;
    HCURSOR arrow = LoadCursorImage(nullptr, MAKEINTRESOURCEW(32512), LR_SHARED | LR_DEFAULTSIZE);
    const auto previous = reinterpret_cast<HCURSOR>(
        SetClassLongPtrW(Window(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(arrow)));
    if (cursorState_ == OwnHandCursor) DestroyCursor(previous);
    cursorState_ = ArrowCursor;
}

}  // namespace plx

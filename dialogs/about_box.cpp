#include "dialogs/about_box.h"

#include <shellapi.h>

#include <cstring>

#include "win32/module.h"
#include "win32/message_box.h"
#include "resources/resource.h"

namespace plx {

namespace {

POINT PointFrom(LPARAM lParam) {
    return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

HCURSOR LoadCursorImage(HINSTANCE module, LPCSTR name, UINT flags) {
    return static_cast<HCURSOR>(LoadImageA(module, name, IMAGE_CURSOR, 0, 0, flags));
}

}  // namespace

AboutBox::AboutBox() : Dialog(IDD_ABOUT, false) {}

AboutBox::~AboutBox() = default;

BOOL AboutBox::OnInitDialog(LPARAM) {
    SetWindowTextA(Window(), (std::string("About ") + kMessageCaption).c_str());
    LoadPicture();
    if (!picture_) {
        SetDlgItemTextA(Window(), IDC_ABOUT_TEXT, (std::string(kMessageCaption) + " Version 1.1").c_str());
        return TRUE;
    }
    DestroyWindow(Item(IDC_ABOUT_TEXT));
    versionText_ = "Version 1.1";
    OLE_HANDLE handle = 0;
    BITMAP bitmap = {};
    RECT window = {};
    if (SUCCEEDED(picture_->get_Handle(&handle)) &&
        GetObjectA(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle)), sizeof(bitmap), &bitmap) &&
        GetWindowRect(Window(), &window)) {
        const int dx = bitmap.bmWidth + 2 - (window.right - window.left);
        const int dy = bitmap.bmHeight + 2 - (window.bottom - window.top);
        if (dx != 0 || dy != 0)
            SetWindowPos(Window(), nullptr, window.left - dx / 2, window.top - dy / 2, bitmap.bmWidth + 2,
                         bitmap.bmHeight + 2, SWP_NOZORDER);
    }
    return TRUE;
}

void AboutBox::LoadPicture() {
    HINSTANCE module = ModuleInstance();
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(IDR_ABOUT_PICTURE), "GIF_IMAGE");
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
            if (PtInRect(&kLinkAreaRect, point))
                ShellExecuteA(nullptr, "open", kMakerWebAddress, nullptr, nullptr, SW_SHOWMAXIMIZED);
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

void AboutBox::Paint(HDC dc) {
    RECT window = {};
    GetWindowRect(Window(), &window);
    RECT rect = {0, 0, window.right - window.left, window.bottom - window.top};
    DrawFrameControl(dc, &rect, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_FLAT);
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture_->get_Width(&width);
    picture_->get_Height(&height);
    picture_->Render(dc, 1, 1, rect.right - 2, rect.bottom - 2, 0, height, width, -height, nullptr);
    if (!fontChosen_) {
        fontChosen_ = true;
        font_ = reinterpret_cast<HFONT>(SendMessageA(Window(), WM_GETFONT, 0, 0));
        if (!font_) {
            LOGFONTA face = {};
            lstrcpynA(face.lfFaceName, "MS Sans Serif", LF_FACESIZE);
            ownFont_.reset(CreateFontIndirectA(&face));
            font_ = ownFont_.get();
        }
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    HGDIOBJ replaced = font_ ? SelectObject(dc, font_) : nullptr;
    RECT line = kVersionLineRect;
    DrawTextA(dc, versionText_.c_str(), static_cast<int>(versionText_.size()), &line, DT_SINGLELINE);
    if (replaced) SelectObject(dc, replaced);
}

void AboutBox::UpdateCursor(POINT point) {
    const CursorState before = cursorState_;
    HCURSOR cursor = nullptr;
    if (PtInRect(&kLinkAreaRect, point)) {
        if (cursorState_ != ArrowCursor) return;
        cursorState_ = SharedHandCursor;
        cursor = LoadCursorImage(nullptr, MAKEINTRESOURCEA(32649), LR_SHARED | LR_DEFAULTSIZE);  // IDC_HAND
        if (!cursor) {
            cursor =
                LoadCursorImage(ModuleInstance(), MAKEINTRESOURCEA(IDC_ABOUT_LINK_CURSOR), LR_DEFAULTSIZE);
            cursorState_ = OwnHandCursor;
            if (!cursor) {
                cursorState_ = ArrowCursor;
                return;
            }
        }
    } else {
        if (cursorState_ == ArrowCursor) return;
        cursorState_ = ArrowCursor;
        cursor = LoadCursorImage(nullptr, MAKEINTRESOURCEA(32512), LR_SHARED | LR_DEFAULTSIZE);  // IDC_ARROW
        if (!cursor) return;
    }
    const auto previous = reinterpret_cast<HCURSOR>(
        SetClassLongPtrA(Window(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor)));
    if (before == OwnHandCursor) DestroyCursor(previous);
}

void AboutBox::RestoreArrow() {
    if (cursorState_ == ArrowCursor) return;
    HCURSOR arrow = LoadCursorImage(nullptr, MAKEINTRESOURCEA(32512), LR_SHARED | LR_DEFAULTSIZE);
    const auto previous = reinterpret_cast<HCURSOR>(
        SetClassLongPtrA(Window(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(arrow)));
    if (cursorState_ == OwnHandCursor) DestroyCursor(previous);
    cursorState_ = ArrowCursor;
}

}  // namespace plx

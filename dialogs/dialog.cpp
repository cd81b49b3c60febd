#include "dialogs/dialog.h"

#include <commctrl.h>

#include <utility>

#include "win32/activation_context.h"
#include "win32/boundary.h"
#include "win32/dpi.h"
#include "win32/module.h"
#include "dialogs/help.h"

namespace plx {

namespace {

// Every control's rectangle in the dialog's client coordinates, scaled by numerator / denominator across
// and down.
void ScaleControls(HWND dialog, SIZE numerator, SIZE denominator) {
    const auto across = [&](LONG value) { return MulDiv(value, numerator.cx, denominator.cx); };
    const auto down = [&](LONG value) { return MulDiv(value, numerator.cy, denominator.cy); };
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect = {};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        SetWindowPos(child, nullptr, across(rect.left), down(rect.top),
                     across(rect.right) - across(rect.left), down(rect.bottom) - down(rect.top),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// A font's dialog base units as the dialog manager measures them: the average width of the 52 letters,
// rounded, and the height of a line.
SIZE BaseUnits(HFONT font) {
    SIZE units = {};
    HDC screen = GetDC(nullptr);
    if (!screen) return units;
    {
        select_object selected(screen, font);
        static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        TEXTMETRICW metrics = {};
        SIZE letters = {};
        if (GetTextMetricsW(screen, &metrics) && GetTextExtentPoint32W(screen, kLetters, 52, &letters))
            units = {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
    }
    ReleaseDC(nullptr, screen);
    return units;
}

}  // namespace

INT_PTR Dialog::RunModal(HWND owner, LPARAM initParam) {
    initParam_ = initParam;
    // The modal loop runs inside DialogBoxParamW, so the context stays active for every window the
    // dialog makes, message boxes included.
    ModuleActivationScope activation;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(templateId_), owner, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

int Dialog::Scale(int pixels) const { return ScaleToDpi(pixels, dpi_); }

HFONT Dialog::Font() const {
    return font_ ? font_.get() : reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) have no object yet.
    if (!self) return FALSE;
    // On an exception the default dialog handling takes the message.
    return CallAtBoundary<INT_PTR>(FALSE, [&] { return self->Dispatch(message, wParam, lParam); });
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            font_.reset();
            dpi_ = WindowDpi(window_);
            TakeOverDialogDpiChanges(window_);
            LayOutTemplateForDpi();
            return OnInitDialog(initParam_);
        case WM_DPICHANGED:
            // Both halves of wParam carry the same DPI; lParam is the window rectangle the system
            // suggests for it.
            if (!lParam || LOWORD(wParam) == 0) break;
            FollowDpiChange(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_HELP:
            if (!offersHelp_) break;
            ShowHelp(window_, kHelpDialogBase + templateId_);
            return TRUE;
        case WM_COMMAND:
            // The Help button counts only with notification code 0, that is wParam exactly IDHELP.
            if (offersHelp_ && wParam == IDHELP) {
                ShowHelp(window_, kHelpDialogBase + templateId_);
                return TRUE;
            }
            return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
        default:
            break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, result)) return FALSE;
    // For all but a few messages the dialog manager hands back DWLP_MSGRESULT, not the procedure's TRUE.
    SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
    return TRUE;
}

void Dialog::LayOutTemplateForDpi() {
    if (dpi_ == kDesignDpi) return;
    // The template's font at 96 DPI: its height in pixels as the dialog manager would have asked there.
    LOGFONTW face = {};
    HFONT font = Font();
    if (!font || !GetObjectW(font, sizeof(face), &face)) return;
    face.lfHeight = MulDiv(face.lfHeight, kDesignDpi, static_cast<int>(dpi_));
    unique_hfont designFont(CreateFontIndirectW(&face));
    if (!designFont) return;
    const SIZE now = BaseUnits(font);
    const SIZE atDesign = BaseUnits(designFont.get());
    if (now.cx <= 0 || now.cy <= 0 || atDesign.cx <= 0 || atDesign.cy <= 0) return;
    // A font's size in whole pixels and its rounded average width do not grow in proportion with the
    // DPI (8 points are 11 pixels at 96 DPI and 16 at 144): laid out by the font alone, the controls
    // would stand a few percent off their places and off the dialog's pixel sizes. They go where a
    // 96-DPI screen puts them, times the DPI.
    const SIZE numerator = {atDesign.cx * static_cast<LONG>(dpi_), atDesign.cy * static_cast<LONG>(dpi_)};
    const SIZE denominator = {now.cx * static_cast<LONG>(kDesignDpi), now.cy * static_cast<LONG>(kDesignDpi)};
    if (numerator.cx == denominator.cx && numerator.cy == denominator.cy) return;
    ScaleControls(window_, numerator, denominator);
    RECT window = {};
    RECT client = {};
    GetWindowRect(window_, &window);
    GetClientRect(window_, &client);
    const int growX = MulDiv(client.right, numerator.cx, denominator.cx) - client.right;
    const int growY = MulDiv(client.bottom, numerator.cy, denominator.cy) - client.bottom;
    // Around its centre, where the template put it.
    SetWindowPos(window_, nullptr, window.left - growX / 2, window.top - growY / 2,
                 window.right - window.left + growX, window.bottom - window.top + growY,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Dialog::FollowDpiChange(UINT newDpi, const RECT& suggested) {
    const UINT oldDpi = dpi_;
    if (newDpi == oldDpi) return;
    dpi_ = newDpi;
    // The font the template asked for, at the new DPI: every control that showed the old one gets it.
    HFONT oldFont = Font();
    LOGFONTW face = {};
    if (oldFont && GetObjectW(oldFont, sizeof(face), &face)) {
        face.lfHeight = MulDiv(face.lfHeight, static_cast<int>(newDpi), static_cast<int>(oldDpi));
        unique_hfont newFont(CreateFontIndirectW(&face));
        if (newFont) {
            for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                if (reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)) == oldFont)
                    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(newFont.get()), FALSE);
            // The old font goes only after no control shows it any more.
            font_ = std::move(newFont);
        }
    }
    const SIZE to = {static_cast<LONG>(newDpi), static_cast<LONG>(newDpi)};
    const SIZE from = {static_cast<LONG>(oldDpi), static_cast<LONG>(oldDpi)};
    ScaleControls(window_, to, from);
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    OnDpiChanged(oldDpi);
    InvalidateRect(window_, nullptr, TRUE);
}

}  // namespace plx

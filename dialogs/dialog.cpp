#include "dialogs/dialog.h"

#include <commctrl.h>

#include "win32/activation_context.h"
#include "win32/module.h"
#include "win32/message_box.h"
#include "win32/boundary.h"
#include "dialogs/help.h"

namespace plx {

INT_PTR Dialog::RunModal(HWND owner, LPARAM initParam) {
    initParam_ = initParam;
    // The modal loop runs inside DialogBoxParamA, so the context stays active for every window the
    // dialog makes, message boxes included.
    ModuleActivationScope activation;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId_), owner, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

int Dialog::Say(const char* text, UINT flags) const {
    return MessageBoxA(window_, text, kMessageCaption, flags);
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) have no object yet.
    if (!self) return FALSE;
    // On an exception the default dialog handling takes the message.
    return CallAtBoundary<INT_PTR>(FALSE, [&] { return self->Dispatch(message, wParam, lParam); });
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(initParam_);
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
    SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace plx

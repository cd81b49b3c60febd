// The one pattern of every dialog of the module: a class per dialog, derived from Dialog. The static
// procedure stores the object at WM_INITDIALOG and forwards every message to its member handlers; no
// exception leaves the procedure. A dialog runs inside the module's activation context, so it gets
// version 6 of the common controls even inside a process that asks for none.
//
// A dialog is laid out for its window's DPI: the template as a 96-DPI screen lays it out, scaled by the
// DPI, with the font that the system makes for that DPI; the dialog's pixel sizes, which are sizes at
// 96 DPI, through Scale. When the
// window moves to a monitor of another DPI (WM_DPICHANGED), it takes the size the system suggests,
// its controls move and grow in proportion and get the font for the new DPI; OnDpiChanged then does
// what belongs to the dialog alone.
#pragma once

#include <windows.h>

#include "win32/unique.h"

namespace plx {

class Dialog {
public:
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally from its template in the module. initParam reaches OnInitDialog. Returns
    // what the dialog ended with, or -1 when it could not be made.
    INT_PTR RunModal(HWND owner, LPARAM initParam = 0);

    HWND Window() const { return window_; }

protected:
    // offersHelp: the Help button (id 9) and F1 open the help context 0x20000 + templateId, or say
    // why they cannot.
    Dialog(WORD templateId, bool offersHelp) : templateId_(templateId), offersHelp_(offersHelp) {}

    HWND Item(int id) const { return GetDlgItem(window_, id); }
    void End(INT_PTR result) const { EndDialog(window_, result); }
    // The dialog's DPI, and a size at 96 DPI at that DPI.
    UINT Dpi() const { return dpi_; }
    int Scale(int pixels) const;
    // The font of the dialog's controls at its present DPI.
    HFONT Font() const;
    // The two buttons of a dialog that hands back a result: a press (notification code 0) of Save
    // (IDOK) runs save, of Cancel (IDCANCEL) ends the dialog with IDCANCEL. True when it was either.
    template <typename Save>
    bool SaveOrCancel(WORD id, WORD code, Save&& save) {
        if (code != 0 || (id != IDOK && id != IDCANCEL)) return false;
        if (id == IDOK)
            save();
        else
            End(IDCANCEL);
        return true;
    }

    // WM_INITDIALOG; TRUE lets the dialog manager give the focus to the first tab stop.
    virtual BOOL OnInitDialog(LPARAM initParam) { return TRUE; }
    // WM_COMMAND with its notification code; true when handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control) { return false; }
    // Every other message; true when handled, with the message's result in result. False leaves the
    // message to the default dialog handling, also after a handler has done its own part.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) { return false; }
    // After the window and its controls have followed a change from oldDpi to Dpi().
    virtual void OnDpiChanged(UINT oldDpi) {}

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void LayOutTemplateForDpi();
    void FollowDpiChange(UINT newDpi, const RECT& suggested);

    WORD templateId_;
    bool offersHelp_;
    HWND window_ = nullptr;
    LPARAM initParam_ = 0;
    UINT dpi_ = 96;
    // The controls' font once the dialog has changed DPI; until then the template's.
    unique_hfont font_;
};

}  // namespace plx
